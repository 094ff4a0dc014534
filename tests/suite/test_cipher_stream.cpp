// The stream form: whatever a pipe carries comes back byte for byte, a cut
// or altered stream never passes, and with a spool nothing is written
// before the whole stream has authenticated.
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include "suite/cipher/cipher.h"
#include "tests/suite/cipher_test_support.h"

namespace halvex::test {
namespace {

class MemoryReader : public cipher::ByteReader {
 public:
  explicit MemoryReader(std::span<const uint8_t> data) : data_(data) {}
  bool Read(std::span<uint8_t> buffer, size_t* got) override {
    *got = std::min(buffer.size(), data_.size() - at_);
    std::copy_n(data_.begin() + static_cast<long>(at_), *got, buffer.begin());
    at_ += *got;
    return true;
  }

 private:
  std::span<const uint8_t> data_;
  size_t at_ = 0;
};

class MemoryWriter : public cipher::ByteWriter {
 public:
  bool Write(std::span<const uint8_t> data) override {
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  std::vector<uint8_t> bytes;
};

class MemorySpool : public cipher::Spool {
 public:
  bool Read(std::span<uint8_t> buffer, size_t* got) override { return reader_->Read(buffer, got); }
  bool Write(std::span<const uint8_t> data) override { return held_.Write(data); }
  bool Rewind() override {
    reader_.emplace(held_.bytes);
    return true;
  }

 private:
  MemoryWriter held_;
  std::optional<MemoryReader> reader_;
};

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class CipherStream : public CipherTest {
 protected:
  std::vector<uint8_t> EncryptBytes(const std::vector<uint8_t>& plain, const BYTE* first = nullptr) {
    MemoryReader in(plain);
    MemoryWriter out;
    EXPECT_EQ(cipher::EncryptStream(in, out, first, StoredKey().data(), 24, WTEXT("data.tar")), ZQCA_OK);
    return out.bytes;
  }
  uint32_t DecryptBytes(const std::vector<uint8_t>& sealed, std::vector<uint8_t>& plain, bool spooled,
                        const BYTE* second = StoredKey().data(), WStringView password = {}) {
    MemoryReader in(sealed);
    MemoryWriter out;
    MemorySpool spool;
    bool byPassword = false;
    uint32_t code = cipher::DecryptStream(in, out, password, second, 24, spooled ? &spool : nullptr, &byPassword);
    plain = out.bytes;
    return code;
  }
};

TEST_F(CipherStream, EverySizeComesBackThroughAPipeAndAsAFile) {
  const size_t kChunk = 65536, kIo = 1024 * 1024;
  for (size_t size : {size_t{0}, size_t{1}, kChunk - 1, kChunk, kChunk + 1, kIo, kIo + 1, 2 * kIo + 5}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> plain = Bytes(Pattern(size, static_cast<unsigned>(size)));
    const std::vector<uint8_t> sealed = EncryptBytes(plain);
    for (bool spooled : {true, false}) {
      std::vector<uint8_t> back;
      EXPECT_EQ(DecryptBytes(sealed, back, spooled), ZQCA_OK);
      EXPECT_TRUE(back == plain);
    }
    // A stream saved to a file opens as any file does, under its stored name.
    WriteBytes(drive_.Native("in.hvx"), sealed);
    std::filesystem::create_directories(drive_.Native("out"));
    ASSERT_EQ(Decrypt(drive_.Path("in.hvx"), drive_.Path("out"), WString(), StoredKey().data()).code, ZQCA_OK);
    EXPECT_TRUE(ReadBytes(drive_.Native("out/data.tar")) == plain);
    std::filesystem::remove_all(drive_.Native("out"));
  }
}

// Cut at a chunk boundary, inside a chunk, inside the header; a byte
// changed; bytes added: each fails, and with a spool nothing was written.
TEST_F(CipherStream, ACutOrAlteredStreamNeverPasses) {
  const std::vector<uint8_t> plain = Bytes(Pattern(3 * 65536 + 100));
  const std::vector<uint8_t> sealed = EncryptBytes(plain);
  const size_t bodyEnd = sealed.size(), sealedChunk = 65536 + 16;
  const size_t firstChunkEnd = bodyEnd - (plain.size() - 65536) - 3 * 16;  // after chunk 0
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t code;
  };
  auto cut = [&](size_t n) { return std::vector<uint8_t>(sealed.begin(), sealed.begin() + static_cast<long>(n)); };
  auto flipped = [&](size_t at) {
    std::vector<uint8_t> b = sealed;
    b[at] ^= 0x40;
    return b;
  };
  std::vector<uint8_t> longer = sealed;
  longer.push_back(0);
  std::vector<uint8_t> chunkDropped = cut(firstChunkEnd - sealedChunk);
  chunkDropped.insert(chunkDropped.end(), sealed.begin() + static_cast<long>(firstChunkEnd), sealed.end());
  const Case cases[] = {
      {"cut after chunk 0", cut(firstChunkEnd), ZQCA_ERR_DAMAGED},
      {"cut inside the last chunk", cut(bodyEnd - 10), ZQCA_ERR_DAMAGED},
      {"cut inside the header", cut(40), ZQCA_ERR_DAMAGED},
      {"nothing at all", {}, ZQCA_ERR_NOT_ENCRYPTED},
      {"a body byte changed", flipped(bodyEnd - 100), ZQCA_ERR_DAMAGED},
      {"a byte added", longer, ZQCA_ERR_DAMAGED},
      {"chunk 0 dropped", chunkDropped, ZQCA_ERR_DAMAGED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> out;
    EXPECT_EQ(DecryptBytes(c.bytes, out, true), c.code);
    EXPECT_TRUE(out.empty());
    EXPECT_NE(DecryptBytes(c.bytes, out, false), ZQCA_OK);
  }
}

TEST_F(CipherStream, KeysAndFormsAsForFiles) {
  // Transcoded by the same copy of the library as the stream's own calls
  // (on Windows the exported call is the DLL's).
  BYTE* password = nullptr;
  ASSERT_EQ(cipher::TranscodePassword(WTEXT("stream secret"), 24, &password), ZQCA_OK);
  const std::vector<uint8_t> plain = Bytes("tar bytes\n");
  const std::vector<uint8_t> sealed = EncryptBytes(plain, password);
  cipher::FreeSecure(password);
  std::vector<uint8_t> out;
  // Another key store's key alone does not open it; its password does.
  EXPECT_EQ(DecryptBytes(sealed, out, true, OtherKey().data()), ZQCA_ERR_WRONG_KEY);
  EXPECT_EQ(DecryptBytes(sealed, out, true, OtherKey().data(), WTEXT("stream secret")), ZQCA_OK);
  EXPECT_TRUE(out == plain);
  // A file made by the batch's call reads from a pipe too.
  drive_.Write("plain.txt", "made as a file\n");
  ASSERT_EQ(Encrypt(drive_.Path("plain.txt"), drive_.Path("plain.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  EXPECT_EQ(DecryptBytes(ReadBytes(drive_.Native("plain.hvx")), out, true), ZQCA_OK);
  EXPECT_TRUE(out == Bytes("made as a file\n"));
  // A self-extracting file's payload cannot be found without seeking.
  ASSERT_EQ(Encrypt(drive_.Path("plain.txt"), drive_.Path("plain.exe"), nullptr, StoredKey().data(), true).code,
            ZQCA_OK);
  EXPECT_EQ(DecryptBytes(ReadBytes(drive_.Native("plain.exe")), out, true), ZQCA_ERR_NOT_ENCRYPTED);
}

#ifndef _WIN32
// What a file carries besides its bytes comes back: nanosecond time, mode,
// extended attributes (where the file system has them). Windows files keep
// their time only.
TEST_F(CipherStream, FileMetadataComesBackExactly) {
  drive_.Write("src/notes.txt", "metadata\n");
  const std::string source = drive_.Native("src/notes.txt");
  ASSERT_EQ(chmod(source.c_str(), 0751), 0);
  const bool xattrs = setxattr(source.c_str(), "user.halvex.test", "tagged", 6, 0) == 0;
  struct timespec times[2] = {{0, UTIME_OMIT}, {1'700'000'000, 123'456'789}};
  ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
  ASSERT_EQ(Encrypt(drive_.Path("src/notes.txt"), drive_.Path("notes.hvx"), nullptr, StoredKey().data()).code,
            ZQCA_OK);
  std::filesystem::create_directories(drive_.Native("out"));
  ASSERT_EQ(Decrypt(drive_.Path("notes.hvx"), drive_.Path("out"), WString(), StoredKey().data()).code, ZQCA_OK);
  struct stat st{};
  ASSERT_EQ(stat(drive_.Native("out/notes.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1'700'000'000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123'456'789);
  EXPECT_EQ(st.st_uid, geteuid());
  if (xattrs) {
    char value[16] = {};
    EXPECT_EQ(getxattr(drive_.Native("out/notes.txt").c_str(), "user.halvex.test", value, sizeof value), 6);
    EXPECT_STREQ(value, "tagged");
  }
}
#endif

}  // namespace
}  // namespace halvex::test
