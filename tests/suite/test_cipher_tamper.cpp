// Damaged and forged files: every change to a header bit, sampled body bits,
// truncation, extension, reordering and swapped headers must be refused with
// nothing left in the output folder; forged names and versions likewise.
#include <gcrypt.h>

#include <functional>

#include "halvex/host.h"
#include "suite/cipher/format.h"
#include "suite/cipher/stubs.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/metadata.h"
#include "tests/suite/cipher_test_support.h"

namespace halvex::test {
namespace {

namespace fmt = cipher::format;
constexpr size_t kSealedChunk = fmt::kChunkSize + 16;

class CipherTamper : public CipherTest {
 protected:
  void SetUp() override {
    CipherTest::SetUp();
    std::filesystem::create_directories(drive_.Native("out"));
  }

  // Encrypts content under name with the stored key; returns the file's bytes.
  std::vector<uint8_t> Make(const std::string& name, const std::string& content, bool sfx = false) {
    drive_.Write("src/" + name, content);
    EXPECT_EQ(Encrypt(drive_.Path("src/" + name), drive_.Path(name + ".hvx"), nullptr, StoredKey().data(), sfx)
                  .code,
              ZQCA_OK);
    return ReadBytes(drive_.Native(name + ".hvx"));
  }

  // Decrypts bytes written to a file; the output folder must stay empty on failure.
  uint32_t Try(const std::vector<uint8_t>& bytes) {
    WriteBytes(drive_.Native("t.hvx"), bytes);
    CallResult r = Decrypt(drive_.Path("t.hvx"), drive_.Path("out"), WString(), StoredKey().data());
    if (r.code != ZQCA_OK) {
      EXPECT_TRUE(r.buffer.empty());
      EXPECT_TRUE(Listing(drive_.Native("out")).empty());
    } else {
      std::filesystem::remove_all(drive_.Native("out"));
      std::filesystem::create_directories(drive_.Native("out"));
    }
    return r.code;
  }

  static size_t HeaderLength(const std::vector<uint8_t>& bytes, size_t at = 0) {
    return *fmt::HeaderLength({bytes.data() + at, fmt::kPrefixSize});
  }
  // Where chunk 0 starts: after the header and its sealed metadata.
  static size_t BodyStart(const std::vector<uint8_t>& bytes, size_t at = 0) {
    fmt::Header h;
    const size_t length = HeaderLength(bytes, at);
    EXPECT_EQ(fmt::Parse({bytes.data() + at, length}, h), fmt::ParseResult::kOk);
    return at + length + h.metadataLength;
  }
};

TEST_F(CipherTamper, EveryHeaderBitFlipIsDetected) {
  std::vector<uint8_t> file = Make("a.txt", Pattern(1000));
  ASSERT_EQ(Try(file), ZQCA_OK);
  const size_t headerBits = HeaderLength(file) * 8;
  for (size_t bit = 0; bit < headerBits; ++bit) {
    std::vector<uint8_t> bad = file;
    bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    // Without its magic the file is not ours at all; the lock flag lies
    // outside the checksum, so that locking is a write of one byte.
    uint32_t expected = bit < 64 ? ZQCA_ERR_NOT_ENCRYPTED : bit == 81 ? ZQCA_ERR_LOCKED : ZQCA_ERR_DAMAGED;
    ASSERT_EQ(Try(bad), expected) << "bit " << bit;
  }
}

TEST_F(CipherTamper, SampledBodyAndTrailerBitFlipsAreDetected) {
  for (bool sfx : {false, true}) {
    std::vector<uint8_t> file = Make(sfx ? "s.txt" : "a.txt", Pattern(2 * 65536 + 300), sfx);
    size_t start = sfx ? halvex::cipher::stubs::ForNewFile().size() : 0;
    size_t bodyStart = start + HeaderLength(file, start);
    size_t bodyEnd = file.size() - (sfx ? fmt::kTrailerSize : 0);
    for (size_t bit = bodyStart * 8; bit < bodyEnd * 8; bit += 4099) {
      std::vector<uint8_t> bad = file;
      bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
      ASSERT_EQ(Try(bad), ZQCA_ERR_DAMAGED) << "bit " << bit;
    }
    std::vector<uint8_t> lastBit = file;
    lastBit[bodyEnd - 1] ^= 0x80;
    EXPECT_EQ(Try(lastBit), ZQCA_ERR_DAMAGED);
    if (sfx) {  // a trailer that points elsewhere leaves nothing to find
      for (size_t at = bodyEnd; at < file.size(); ++at) {
        std::vector<uint8_t> bad = file;
        bad[at] ^= 0x01;
        EXPECT_EQ(Try(bad), ZQCA_ERR_NOT_ENCRYPTED) << "trailer byte " << at - bodyEnd;
      }
    }
  }
}

TEST_F(CipherTamper, TruncationAndExtensionAreDetected) {
  std::vector<uint8_t> file = Make("a.txt", Pattern(3 * 65536 + 100));
  const size_t body = BodyStart(file);
  std::vector<size_t> lengths = {0, 8, body - 1, body, body + 1, file.size() - 1, file.size() - 16};
  for (size_t k = 1; k <= 3; ++k)
    for (long delta : {-1L, 0L, 1L}) lengths.push_back(body + k * kSealedChunk + delta);
  for (size_t length : lengths) {
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<long>(length));
    uint32_t code = Try(cut);
    if (length < fmt::kPrefixSize) EXPECT_EQ(code, ZQCA_ERR_NOT_ENCRYPTED) << length;
    else EXPECT_EQ(code, ZQCA_ERR_DAMAGED) << length;
  }
  for (size_t extra : {1, 16, 17}) {
    std::vector<uint8_t> longer = file;
    longer.insert(longer.end(), extra, 0);
    EXPECT_EQ(Try(longer), ZQCA_ERR_DAMAGED) << extra;
  }
  std::vector<uint8_t> repeated = file;  // the last chunk appended again
  repeated.insert(repeated.end(), file.end() - 116, file.end());
  EXPECT_EQ(Try(repeated), ZQCA_ERR_DAMAGED);
}

TEST_F(CipherTamper, ReorderedChunksAreDetected) {
  std::vector<uint8_t> file = Make("a.txt", Pattern(3 * 65536));
  const size_t body = BodyStart(file);
  std::vector<uint8_t> swapped = file;
  std::swap_ranges(swapped.begin() + body, swapped.begin() + body + kSealedChunk,
                   swapped.begin() + body + kSealedChunk);
  EXPECT_EQ(Try(swapped), ZQCA_ERR_DAMAGED);
  // The last chunk moved to the front of a file of full chunks: same length.
  std::vector<uint8_t> rotated = file;
  std::rotate(rotated.begin() + body, rotated.end() - kSealedChunk, rotated.end());
  EXPECT_EQ(Try(rotated), ZQCA_ERR_DAMAGED);
}

TEST_F(CipherTamper, HeadersSwappedBetweenFilesAreDetected) {
  std::vector<uint8_t> a = Make("a.txt", Pattern(70000, 1));
  std::vector<uint8_t> b = Make("b.txt", Pattern(70000, 2));
  const size_t header = HeaderLength(a);
  ASSERT_EQ(header, HeaderLength(b));
  std::vector<uint8_t> mixed = b;
  std::copy(a.begin(), a.begin() + static_cast<long>(header), mixed.begin());
  EXPECT_EQ(Try(mixed), ZQCA_ERR_DAMAGED);
}

// A forger without the key can renew the checksum; the MAC must still catch
// every field the slots do not depend on. A forged field, a forged slot and a
// wrong key get the same answer, so the codes reveal nothing about a key.
TEST_F(CipherTamper, ForgedFieldsAndSlotsWithRenewedChecksumOpenWithNoKey) {
  std::vector<uint8_t> file = Make("a.txt", Pattern(1000));
  const size_t length = HeaderLength(file);
  struct Field {
    const char* name;
    size_t offset;
  } fields[] = {{"password key length", 19}, {"chunk size", 21},  {"passes", 24},
                {"memory", 28},              {"lanes", 32},       {"nonce prefix", 68},
                {"reserved", 75},            {"size", 76},        {"modified", 84},
                {"name", 94},                {"password salt", 99}, {"key store id", 115},
                {"metadata length", 119},    {"slot kind", 123},  {"wrapped key", 130},
                {"slot tag", 165},           {"mac", 172}};
  for (const Field& f : fields) {
    std::vector<uint8_t> forged = file;
    forged[f.offset] ^= 0x01;
    gcry_md_hash_buffer(GCRY_MD_SHA256, forged.data() + length - 32, forged.data(), length - 32);
    uint32_t code = Try(forged);
    // A reserved byte or slot kind out of range is malformed before any key is tried.
    bool malformed = f.offset == 75 || f.offset == 123;
    EXPECT_EQ(code, malformed ? ZQCA_ERR_DAMAGED : ZQCA_ERR_WRONG_KEY) << f.name;
  }
  EXPECT_EQ(length, 172u + 64u);
}

// A recipient slot forged in place opens with no identity; one in a header
// of a version that had no such slots is damage.
TEST_F(CipherTamper, ForgedRecipientSlotsOpenWithNoIdentity) {
  cipher::X25519Key identity{}, recipient{};
  identity.fill(0x5a);
  ASSERT_TRUE(cipher::PublicKeyOf(identity, recipient));
  // Through the host controls, which reach the library the calls below use
  // (on Windows a DLL with its own copy of what the C++ interface sets).
  const std::string line = cipher::RecipientText(recipient);
  const char* lines[] = {line.c_str()};
  ASSERT_EQ(HalvexSetRecipients(lines, 1, HALVEX_RECIPIENTS_ONLY), HALVEX_OK);
  std::vector<uint8_t> file = Make("a.txt", Pattern(1000));
  ASSERT_EQ(HalvexSetRecipients(nullptr, 0, HALVEX_RECIPIENTS_ALSO), HALVEX_OK);
  ASSERT_EQ(HalvexAddIdentity(cipher::IdentityText(identity).c_str()), HALVEX_OK);
  const size_t length = HeaderLength(file), slot = length - 64 - 81;
  ASSERT_EQ(Try(file), ZQCA_OK);
  struct Forged {
    const char* name;
    size_t offset;
    uint8_t value;  // xored in
    uint32_t code;
  } forged[] = {{"ephemeral key", slot + 1, 0x01, ZQCA_ERR_WRONG_KEY},
                {"wrapped key", slot + 40, 0x01, ZQCA_ERR_WRONG_KEY},
                {"slot tag", slot + 80, 0x80, ZQCA_ERR_WRONG_KEY},
                {"kind 3 to 1", slot, 0x02, ZQCA_ERR_DAMAGED},
                {"version 3 to 2", 8, 0x01, ZQCA_ERR_DAMAGED}};
  for (const Forged& f : forged) {
    std::vector<uint8_t> bad = file;
    bad[f.offset] ^= f.value;
    gcry_md_hash_buffer(GCRY_MD_SHA256, bad.data() + length - 32, bad.data(), length - 32);
    EXPECT_EQ(Try(bad), f.code) << f.name;
  }
  HalvexClearIdentities();
}

// Rebuilds an encrypted file with a changed header, sealed correctly, as a
// forger holding the key would: only the library's own checks can refuse it.
std::vector<uint8_t> Reseal(const std::vector<uint8_t>& file, const std::function<void(fmt::Header&)>& change) {
  fmt::Header header;
  size_t length = *fmt::HeaderLength({file.data(), fmt::kPrefixSize});
  EXPECT_EQ(fmt::Parse({file.data(), length}, header), fmt::ParseResult::kOk);
  std::array<uint8_t, 32> fileKey{}, bodyKey{};
  EXPECT_TRUE(cipher::keys::UnwrapSlot(header, 0, StoredKey(), fileKey));
  EXPECT_TRUE(cipher::keys::BodyKey(fileKey, bodyKey));
  std::array<uint8_t, 32> oldMac = header.mac;
  std::vector<uint8_t> records, sealedMetadata;
  EXPECT_TRUE(cipher::metadata::Open(fileKey, header, {file.data() + length, header.metadataLength}, records));
  const size_t bodyStart = length + header.metadataLength;
  change(header);
  EXPECT_TRUE(cipher::keys::HeaderMac(fileKey, header, header.mac));
  std::vector<uint8_t> out = fmt::Serialise(header);
  EXPECT_TRUE(cipher::metadata::Seal(fileKey, header, records, sealedMetadata));
  out.insert(out.end(), sealedMetadata.begin(), sealedMetadata.end());
  cipher::crypto::Aead aead;
  EXPECT_TRUE(aead.Init(static_cast<cipher::crypto::AeadId>(header.aead), bodyKey));
  size_t at = bodyStart;
  uint64_t count = fmt::ChunkCount(header.size, header.chunkSize);
  for (uint32_t i = 0; i < count; ++i) {
    size_t plain = std::min<size_t>(header.chunkSize, file.size() - at - 16);
    std::vector<uint8_t> chunk(file.begin() + at, file.begin() + at + plain + 16);
    auto nonce = fmt::ChunkNonce(header, i, i + 1 == count);
    std::span<uint8_t> data(chunk.data(), plain), tag(chunk.data() + plain, 16);
    EXPECT_TRUE(aead.Open(nonce, oldMac, data, tag));
    EXPECT_TRUE(aead.Seal(nonce, header.mac, data, tag));
    out.insert(out.end(), chunk.begin(), chunk.end());
    at += plain + 16;
  }
  return out;
}

TEST_F(CipherTamper, ResealedFileWithItsOwnNameStillOpens) {
  std::vector<uint8_t> file = Make("a.txt", Pattern(65536 + 9));
  EXPECT_EQ(Try(Reseal(file, [](fmt::Header&) {})), ZQCA_OK);
}

TEST_F(CipherTamper, StoredNamesThatAreNotOnePlainNameAreRefused) {
  std::vector<uint8_t> file = Make("a.txt", "content");
  const std::string names[] = {"..\\x", "a\\b", "a/b", "C:x", "..", ".", "", std::string("a\x01" "b"),
                               std::string("a\x7f"), "../../etc/passwd", std::string(256, 'n'),
                               "\xff\xfe", "a.", "a ", "CON", "nul.txt", "Com1", "lpt9.log", "aux .c",
                               "COM\xc2\xb9", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b"};
  for (const std::string& name : names) {
    std::vector<uint8_t> forged = Reseal(file, [&](fmt::Header& h) { h.name = name; });
    EXPECT_EQ(Try(forged), ZQCA_ERR_UNSAFE_NAME) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(drive_.Native("x")));
#ifndef _WIN32
  // The longest name allowed; only a drive root leaves room for it (the
  // Windows build's test folder is no drive root).
  std::string longest(255, 'n');
  WriteBytes(drive_.Native("t.hvx"), Reseal(file, [&](fmt::Header& h) { h.name = longest; }));
  EXPECT_EQ(Decrypt(drive_.Path("t.hvx"), drive_.Path(""), WString(), StoredKey().data()).code, ZQCA_OK);
  EXPECT_TRUE(std::filesystem::exists(drive_.Native(longest)));
#endif
}

// The name limit counts UTF-16 units, as Windows does, not bytes of UTF-8.
TEST(CipherNames, LimitCountsUtf16Units) {
  EXPECT_TRUE(fmt::IsSafeName(WString(255, u'\u00e9')));
  EXPECT_FALSE(fmt::IsSafeName(WString(256, u'\u00e9')));
  EXPECT_TRUE(fmt::IsSafeName(WString(127, u'\xd83d') + WString(1, u'x')));  // lone surrogates pass as WTF-8
  EXPECT_TRUE(fmt::IsSafeName(WTEXT("report (final).v2.doc")));
  // What hosts map forbidden characters and trailing dots to, and names that
  // only look like devices, are plain names.
  for (const WCHAR* name : {WTEXT("a\uF03Fb"), WTEXT("a\uF02E"), WTEXT("console"), WTEXT("COM10"), WTEXT("nul_"),
                            WTEXT(".hidden")})
    EXPECT_TRUE(fmt::IsSafeName(name)) << platform::ToUtf8(name);
}

TEST_F(CipherTamper, UnknownVersionIsReportedAsSuch) {
  std::vector<uint8_t> file = Make("a.txt", "content");
  size_t length = HeaderLength(file);
  for (uint16_t version : {0, 4, 0x100}) {
    std::vector<uint8_t> other = file;
    other[8] = static_cast<uint8_t>(version);
    other[9] = static_cast<uint8_t>(version >> 8);
    gcry_md_hash_buffer(GCRY_MD_SHA256, other.data() + length - 32, other.data(), length - 32);
    EXPECT_EQ(Try(other), ZQCA_ERR_VERSION) << version;
    WriteBytes(drive_.Native("v.hvx"), other);
    EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive_.Path("v.hvx").c_str()));
    EXPECT_EQ(ZQCA_LockFileW(drive_.Path("v.hvx").c_str()), ZQCA_ERR_VERSION);
  }
}

// A header may ask for any Argon2id cost before its MAC can be checked (the
// MAC needs the key the derivation yields): what a file may ask is capped,
// and a file over the cap is refused without a derivation.
TEST_F(CipherTamper, KdfCostsOverTheCapAreRefusedWithoutDeriving) {
  drive_.Write("src/p.txt", "p");
  PasswordKey key(WTEXT("pw"));
  ASSERT_EQ(Encrypt(drive_.Path("src/p.txt"), drive_.Path("p.hvx"), key.get(), nullptr).code, ZQCA_OK);
  std::vector<uint8_t> file = ReadBytes(drive_.Native("p.hvx"));
  const size_t length = HeaderLength(file);
  // passes, memory in KiB, lanes (offsets 24, 28, 32)
  for (std::array<uint32_t, 3> cost : {std::array<uint32_t, 3>{64, 64, 1}, {1, 128, 16}, {1, 1 << 20, 1},
                                       {3, 512 << 10, 1}, {0, 64, 1}}) {
    std::vector<uint8_t> forged = file;
    for (int i = 0; i < 12; ++i) forged[24 + i] = static_cast<uint8_t>(cost[i / 4] >> (8 * (i % 4)));
    gcry_md_hash_buffer(GCRY_MD_SHA256, forged.data() + length - 32, forged.data(), length - 32);
    WriteBytes(drive_.Native("t.hvx"), forged);
    uint64_t runs = cipher::KdfRunCount();
    EXPECT_EQ(Decrypt(drive_.Path("t.hvx"), drive_.Path("out"), WTEXT("pw"), nullptr).code, ZQCA_ERR_KDF);
    EXPECT_EQ(cipher::KdfRunCount(), runs) << cost[0] << " " << cost[1] << " " << cost[2];
  }
}

TEST_F(CipherTamper, WrongKeyIsNotMistakenForDamage) {
  Make("a.txt", "content");
  CallResult r = Decrypt(drive_.Path("a.txt.hvx"), drive_.Path("out"), WString(), OtherKey().data());
  EXPECT_EQ(r.code, ZQCA_ERR_WRONG_KEY);
  EXPECT_TRUE(Listing(drive_.Native("out")).empty());
}

}  // namespace
}  // namespace halvex::test
