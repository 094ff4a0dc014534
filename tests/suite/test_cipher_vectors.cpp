// Encrypted files checked in under data/ must keep opening: a format change
// that breaks files already written fails here. The files were made once by
// the DISABLED_ test below (run it with --gtest_also_run_disabled_tests and
// HALVEX_WRITE_VECTORS set to the data folder only when the format version
// is deliberately raised, keeping the old files).
#include <sys/stat.h>

#include <map>
#include <regex>
#include <sstream>

#include "halvex/host.h"
#include "suite/cipher/format.h"
#include "suite/cipher/kdf.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/metadata.h"
#include "tests/suite/cipher_test_support.h"

namespace halvex::test {
namespace {

const WString kVectorPassword = WTEXT("halvex test vector");
constexpr time_t kVectorTime = 1'600'000'000;

struct Vector {
  const char* file;     // under data/
  const char* name;     // the stored name
  std::string content;  // the plain content
  bool password, stored, selfExtract, locked;
  mode_t mode;  // of the restored file: version 1 recorded none, so 0600
};

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> vectors = {
      {"v1-hello.hvx", "hello.txt", "Hello, Halvex!\n", true, true, false, false, 0600},
      {"v1-empty.hvx", "empty.bin", "", false, true, false, false, 0600},
      {"v1-chunks.exe", "chunks.bin", Pattern(65536 + 1000, 7), true, false, true, false, 0600},
      {"v1-locked.hvx", "locked.txt", "locked away\n", false, true, false, true, 0600},
      {"v2-hello.hvx", "hello.txt", "Hello, Halvex!\n", true, true, false, false, 0640},
      {"v2-empty.hvx", "empty.bin", "", false, true, false, false, 0600},
      {"v2-chunks.exe", "chunks.bin", Pattern(65536 + 1000, 7), true, false, true, false, 0755},
      {"v2-locked.hvx", "locked.txt", "locked away\n", false, true, false, true, 0644},
      {"v3-hello.hvx", "hello.txt", "Hello, Halvex!\n", true, true, false, false, 0640},
      {"v3-empty.hvx", "empty.bin", "", false, true, false, false, 0600},
      {"v3-chunks.exe", "chunks.bin", Pattern(65536 + 1000, 7), true, false, true, false, 0755},
      {"v3-locked.hvx", "locked.txt", "locked away\n", false, true, false, true, 0644},
  };
  return vectors;
}

// Files that must never open, each with the code a reader gives: made once
// by the writer below from the version's hello file, one field or byte
// changed each.
struct Refused {
  const char* file;
  uint32_t code;
};
const Refused kRefused[] = {
    {"v2-bad-tag.hvx", ZQCA_ERR_DAMAGED},     // the last chunk's tag changed
    {"v2-bad-lanes.hvx", ZQCA_ERR_KDF},       // 9 Argon2id lanes, over the limit, checksum renewed
    {"v2-big-chunk.hvx", ZQCA_ERR_DAMAGED},   // a 2 MiB chunk size, over the limit, checksum renewed
    {"v3-bad-tag.hvx", ZQCA_ERR_DAMAGED},
    {"v3-bad-lanes.hvx", ZQCA_ERR_KDF},
    {"v3-big-chunk.hvx", ZQCA_ERR_DAMAGED},
    {"v3-bad-metadata.hvx", ZQCA_ERR_DAMAGED},  // the sealed metadata's first byte changed
};

class CipherVectors : public CipherTest {};

TEST_F(CipherVectors, CheckedInBadFilesNeverOpen) {
  std::filesystem::create_directories(drive_.Native("out"));
  for (const Refused& v : kRefused) {
    SCOPED_TRACE(v.file);
    std::filesystem::copy_file(std::filesystem::path(HALVEX_CIPHER_TEST_DATA) / v.file, drive_.Native(v.file));
    CallResult r = Decrypt(drive_.Path(v.file), drive_.Path("out"), kVectorPassword, StoredKey().data());
    EXPECT_EQ(r.code, v.code);
    EXPECT_TRUE(std::filesystem::is_empty(drive_.Native("out")));
  }
}

TEST_F(CipherVectors, CheckedInFilesStillDecrypt) {
  std::filesystem::create_directories(drive_.Native("out"));
  for (const Vector& v : Vectors()) {
    SCOPED_TRACE(v.file);
    std::filesystem::copy_file(std::filesystem::path(HALVEX_CIPHER_TEST_DATA) / v.file, drive_.Native(v.file));
    WString path = drive_.Path(v.file);
    EXPECT_TRUE(ZQCA_CheckEncryptedFileW(path.c_str()));
    EXPECT_EQ(ZQCA_CheckSelfExtractEncryptedFile(path.c_str()), v.selfExtract);
    EXPECT_EQ(ZQCA_CheckLockedFileW(path.c_str()), v.locked);
    CallResult r = Decrypt(path, drive_.Path("out"), v.password ? kVectorPassword : WString(),
                           v.stored ? StoredKey().data() : OtherKey().data());
    if (v.locked) {
      EXPECT_EQ(r.code, ZQCA_ERR_LOCKED);
      continue;
    }
    ASSERT_EQ(r.code, ZQCA_OK);
    EXPECT_EQ(r.flag, v.stored ? 0 : 1);
    std::string out = "out/" + std::string(v.name);
    EXPECT_TRUE(drive_.Read(out) == v.content);
    struct stat st{};
    ASSERT_EQ(stat(drive_.Native(out).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, kVectorTime);
    EXPECT_EQ(st.st_mode & 07777, v.mode);
    std::filesystem::remove(drive_.Native(out));
  }
}

TEST_F(CipherVectors, DISABLED_WriteVectors) {
  const char* target = std::getenv("HALVEX_WRITE_VECTORS");
  if (!target) GTEST_SKIP() << "HALVEX_WRITE_VECTORS names the folder to write to";
  PasswordKey password(kVectorPassword);
  for (const Vector& v : Vectors()) {
    // Files of earlier versions stay as they were written.
    if (std::string(v.file).rfind("v" + std::to_string(cipher::format::kVersion) + "-", 0) != 0) continue;
    drive_.Write(std::string("src/") + v.name, v.content);
    ASSERT_EQ(chmod(drive_.Native(std::string("src/") + v.name).c_str(), v.mode), 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {kVectorTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, drive_.Native(std::string("src/") + v.name).c_str(), times, 0), 0);
    ASSERT_EQ(Encrypt(drive_.Path(std::string("src/") + v.name), drive_.Path(v.file),
                      v.password ? password.get() : nullptr, v.stored ? StoredKey().data() : nullptr,
                      v.selfExtract)
                  .code,
              ZQCA_OK);
    if (v.locked) {
      ASSERT_EQ(ZQCA_LockFileW(drive_.Path(v.file).c_str()), ZQCA_OK);
    }
    std::filesystem::copy_file(drive_.Native(v.file), std::filesystem::path(target) / v.file,
                               std::filesystem::copy_options::overwrite_existing);
  }
  // The files that must fail, from the version's hello file.
  const std::string prefix = "v" + std::to_string(cipher::format::kVersion) + "-";
  std::vector<uint8_t> hello = ReadBytes((std::filesystem::path(target) / (prefix + "hello.hvx")).string());
  ASSERT_FALSE(hello.empty());
  const uint32_t length = *cipher::format::HeaderLength(hello);
  auto withHeader = [&](auto change) {
    cipher::format::Header h;
    EXPECT_EQ(cipher::format::Parse(std::span(hello).first(length), h), cipher::format::ParseResult::kOk);
    change(h);
    std::vector<uint8_t> bytes = cipher::format::Serialise(h);
    bytes.insert(bytes.end(), hello.begin() + length, hello.end());
    return bytes;
  };
  std::vector<uint8_t> badTag = hello;
  badTag.back() ^= 0x01;
  WriteBytes((std::filesystem::path(target) / (prefix + "bad-tag.hvx")).string(), badTag);
  WriteBytes((std::filesystem::path(target) / (prefix + "bad-lanes.hvx")).string(),
             withHeader([](cipher::format::Header& h) { h.kdfParams.lanes = 9; }));
  WriteBytes((std::filesystem::path(target) / (prefix + "big-chunk.hvx")).string(),
             withHeader([](cipher::format::Header& h) { h.chunkSize = 2 * 1024 * 1024; }));
  std::vector<uint8_t> badMetadata = hello;
  badMetadata[length] ^= 0x01;  // the sealed metadata's first byte
  WriteBytes((std::filesystem::path(target) / (prefix + "bad-metadata.hvx")).string(), badMetadata);
}

// FORMAT.md is what others write readers from: its defaults and its known
// answers must be what this code does.
std::string FormatDoc() {
  std::ifstream in(HALVEX_FORMAT_DOC);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Hex(cipher::crypto::Bytes bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : bytes) hex += {digits[b >> 4], digits[b & 15]};
  return hex;
}

// The known-answer table's rows ("| `name` | `hex` |") and the header's hex
// block, spaces and line breaks dropped.
std::map<std::string, std::string> DocAnswers(const std::string& doc) {
  std::map<std::string, std::string> answers;
  const std::regex row(R"(\| `([a-z0-9 ()-]+)` \| `([0-9a-z ]+)` \|)");
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), row); it != std::sregex_iterator(); ++it)
    answers[(*it)[1]] = std::regex_replace((*it)[2].str(), std::regex(" "), "");
  std::smatch block;
  if (std::regex_search(doc, block, std::regex(R"(```hex\n([0-9a-f \n]+)```)")))
    answers["header"] = std::regex_replace(block[1].str(), std::regex("[ \n]"), "");
  return answers;
}

std::array<uint8_t, 32> Counting(uint8_t from) {
  std::array<uint8_t, 32> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(from + i);
  return bytes;
}

TEST_F(CipherVectors, FormatDocumentStatesTheCodesDefaults) {
  const std::string doc = FormatDoc();
  ASSERT_FALSE(doc.empty()) << HALVEX_FORMAT_DOC;
  const cipher::KdfParams kdf = cipher::kDefaultKdfParams;
  for (const std::string& stated : std::vector<std::string>{
           "New files get t=" + std::to_string(kdf.passes) + ", m=" + std::to_string(kdf.memoryKiB) + " KiB (" +
            std::to_string(kdf.memoryKiB / 1024) + " MiB), p=" + std::to_string(kdf.lanes),
        "chunk size: " + std::to_string(cipher::format::kChunkSize) + " in new files; a reader takes 1 to " +
            std::to_string(cipher::format::kMaxChunkSize),
        "version: " + std::to_string(cipher::format::kVersion)})
    EXPECT_NE(doc.find(stated), std::string::npos) << "FORMAT.md should say: " << stated;
}

// Every value of the known-answer section, computed from its stated inputs,
// and the file they make opens with the password.
TEST_F(CipherVectors, FormatDocumentKnownAnswersHold) {
  namespace fmt = cipher::format;
  namespace keys = cipher::keys;
  const std::map<std::string, std::string> doc = DocAnswers(FormatDoc());
  std::map<std::string, std::string> computed;

  fmt::Header h;
  h.aead = 1;
  h.passwordKeyLen = 24;
  h.kdfParams = {2, 256, 1};
  const auto salt = Counting(0x00), nonce = Counting(0x20), passwordSalt = Counting(0x30), fileKey = Counting(0x40);
  std::copy_n(salt.begin(), h.salt.size(), h.salt.begin());
  std::copy_n(nonce.begin(), h.noncePrefix.size(), h.noncePrefix.begin());
  std::copy_n(passwordSalt.begin(), h.passwordSalt.size(), h.passwordSalt.begin());
  h.size = 15;
  h.modified = 132'444'736'000'000'000ull;  // 2020-09-13 12:26:40 UTC
  h.name = "hello.txt";
  h.keyStoreId = keys::KeyStoreId(StoredKey());
  computed["key store id"] = Hex(std::array<uint8_t, 4>{static_cast<uint8_t>(h.keyStoreId >> 24),
                                                        static_cast<uint8_t>(h.keyStoreId >> 16),
                                                        static_cast<uint8_t>(h.keyStoreId >> 8),
                                                        static_cast<uint8_t>(h.keyStoreId)});

  cipher::crypto::SecureBuffer transcoded;
  ASSERT_EQ(cipher::kdf::Transcode(kVectorPassword, h.passwordSalt, h.kdfParams, 24, transcoded), ZQCA_OK);
  computed["transcoding"] = Hex(transcoded.view());

  h.slots = {{fmt::SlotKind::kPassword, {}}, {fmt::SlotKind::kStoredKey, {}}, {fmt::SlotKind::kRecipient, {}}};
  ASSERT_TRUE(keys::WrapSlot(h, 0, transcoded.view(), fileKey, h.slots[0]));
  ASSERT_TRUE(keys::WrapSlot(h, 1, StoredKey(), fileKey, h.slots[1]));
  computed["slot 0 (password)"] = Hex(h.slots[0].wrapped);
  computed["slot 1 (stored key)"] = Hex(h.slots[1].wrapped);
  const cipher::X25519Key identity = Counting(0xe0), ephemeral = Counting(0xc0);
  cipher::X25519Key recipient{};
  ASSERT_TRUE(cipher::PublicKeyOf(identity, recipient));
  computed["recipient"] = Hex(recipient);
  computed["recipient line"] = cipher::RecipientText(recipient);
  ASSERT_TRUE(keys::WrapRecipientSlot(h, 2, recipient, ephemeral, fileKey, h.slots[2]));
  computed["slot 2 (recipient)"] = Hex(h.slots[2].ephemeral) + Hex(h.slots[2].wrapped);

  std::array<uint8_t, 32> bodyKey{};
  ASSERT_TRUE(keys::BodyKey(fileKey, bodyKey));
  computed["body key"] = Hex(bodyKey);
  platform::FileMetadata kept;
  kept.hasTime = true;
  kept.seconds = 1'600'000'000;
  kept.nanoseconds = 123'456'789;
  kept.hasMode = true;
  kept.mode = 0644;
  const std::vector<uint8_t> records = *cipher::metadata::Encode(kept);
  computed["metadata records"] = Hex(records);
  h.metadataLength = static_cast<uint32_t>(records.size() + 16);
  ASSERT_TRUE(keys::HeaderMac(fileKey, h, h.mac));
  computed["header mac"] = Hex(h.mac);
  std::vector<uint8_t> sealedMetadata;
  ASSERT_TRUE(cipher::metadata::Seal(fileKey, h, records, sealedMetadata));
  computed["sealed metadata"] = Hex(sealedMetadata);
  const std::vector<uint8_t> header = fmt::Serialise(h);
  computed["header"] = Hex(header);

  std::string chunk = "Hello, Halvex!\n";
  std::array<uint8_t, 16> tag{};
  cipher::crypto::Aead aead;
  ASSERT_TRUE(aead.Init(cipher::crypto::AeadId::kAes256Gcm, bodyKey));
  std::span<uint8_t> plain(reinterpret_cast<uint8_t*>(chunk.data()), chunk.size());
  ASSERT_TRUE(aead.Seal(fmt::ChunkNonce(h, 0, true), h.mac, plain, tag));
  computed["chunk 0"] = Hex(plain) + Hex(tag);

  for (const auto& [name, value] : computed) {
    auto stated = doc.find(name);
    EXPECT_TRUE(stated != doc.end() && stated->second == value) << "FORMAT.md, " << name << ": " << value;
  }

  std::vector<uint8_t> file = header;
  file.insert(file.end(), sealedMetadata.begin(), sealedMetadata.end());
  file.insert(file.end(), plain.begin(), plain.end());
  file.insert(file.end(), tag.begin(), tag.end());
  WriteBytes(drive_.Native("known.hvx"), file);
  CallResult r = Decrypt(drive_.Path("known.hvx"), drive_.Path(""), kVectorPassword, OtherKey().data());
  ASSERT_EQ(r.code, ZQCA_OK);
  EXPECT_EQ(drive_.Read("hello.txt"), "Hello, Halvex!\n");
#ifndef _WIN32
  struct stat st{};
  ASSERT_EQ(stat(drive_.Native("hello.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
#endif
  // The identity alone opens it too.
  std::filesystem::remove(drive_.Native("hello.txt"));
  ASSERT_EQ(HalvexAddIdentity(cipher::IdentityText(identity).c_str()), HALVEX_OK);
  r = Decrypt(drive_.Path("known.hvx"), drive_.Path(""), WString(), OtherKey().data());
  HalvexClearIdentities();
  ASSERT_EQ(r.code, ZQCA_OK);
  EXPECT_EQ(drive_.Read("hello.txt"), "Hello, Halvex!\n");
}

}  // namespace
}  // namespace halvex::test
