// Tampering sweep: encrypted files of sizes around the chunk size are damaged
// in every way a disk, a transfer or a forger without the key could damage
// them. Every case must be refused with the code for what it hit, leave the
// output folder empty and the output buffer blank. Prints cases and
// acceptances; one acceptance fails the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "batch/state.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/format.h"
#include "suite/cipher/stubs.h"
#include "tests/reliability/observer.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

namespace fmt = cipher::format;
constexpr size_t kTag = 16;
constexpr size_t kSealedChunk = fmt::kChunkSize + kTag;

const std::array<BYTE, 24>& StoredKey() {
  static const std::array<BYTE, 24> key = [] {
    std::array<BYTE, 24> k{};
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<BYTE>(0x5A ^ (i * 7));
    return k;
  }();
  return key;
}

// What a refusal must say: a file without our magic is not ours at all;
// anything else that fails to authenticate is damaged. The lock flag lies
// outside the checksum (locking writes that byte alone): flipping it locks.
enum class Expect { kDamaged, kNotOurs, kNotOursOrDamaged, kDamagedOrLocked };

bool Allowed(Expect expect, uint32_t code) {
  switch (expect) {
    case Expect::kDamaged: return code == ZQCA_ERR_DAMAGED;
    case Expect::kNotOurs: return code == ZQCA_ERR_NOT_ENCRYPTED;
    case Expect::kNotOursOrDamaged: return code == ZQCA_ERR_DAMAGED || code == ZQCA_ERR_NOT_ENCRYPTED;
    case Expect::kDamagedOrLocked: return code == ZQCA_ERR_DAMAGED || code == ZQCA_ERR_LOCKED;
  }
  return false;
}

struct Tally {
  int cases = 0;
  int accepted = 0;
  int wrongCode = 0;
  int leftOutput = 0;
};

class TamperSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    fs::create_directories(env_.Drive() / "src");
    fs::create_directories(Out());
  }

  fs::path Out() const { return env_.Drive() / "out"; }
  fs::path Target() const { return env_.Drive() / "t.hvx"; }

  // An encrypted file as the batch makes them: a password slot and a stored-key slot.
  std::string Make(const std::string& name, const std::string& content, bool sfx) {
    WriteFile(env_.Drive() / "src" / name, content);
    WString password = Password();
    uint32_t error = 0;
    BYTE* key = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), 24, &error);
    EXPECT_EQ(error, 0u);
    std::array<WCHAR, MAX_PATH> destination{};
    WString target = SuiteEnvironment::Path("made.hvx");
    std::copy(target.begin(), target.end(), destination.begin());
    WString source = SuiteEnvironment::Path("src/" + name);
    EXPECT_EQ(ZQCA_DualPasswordFileEncryptW(source.c_str(), destination.data(), key, StoredKey().data(), 24, sfx,
                                            nullptr),
              ZQCA_OK);
    ZQCA_FreeMemory(key);
    std::string bytes = ReadFile(env_.Drive() / "made.hvx");
    fs::remove(env_.Drive() / "made.hvx");
    return bytes;
  }

  uint32_t DecryptTarget() {
    std::array<WCHAR, MAX_PATH> output{};
    output.fill(u'?');  // a refusal must blank it
    BYTE flag = 0;
    WString source = SuiteEnvironment::Path("t.hvx");
    WString folder = SuiteEnvironment::Path("out");
    uint32_t code = ZQCA_DualPasswordFileDecryptW(source.c_str(), folder.c_str(), WTEXT(""), 0,
                                                  StoredKey().data(), 24, output.data(), &flag, nullptr);
    lastBufferBlank_ = output[0] == 0;
    return code;
  }

  // One case: the target as it stands now must be refused as expected.
  void Judge(const std::string& what, Expect expect) {
    ++tally_.cases;
    uint32_t code = DecryptTarget();
    if (code == ZQCA_OK) {
      ++tally_.accepted;
      ADD_FAILURE() << what << ": accepted";
      fs::remove_all(Out());
      fs::create_directories(Out());
      return;
    }
    if (!Allowed(expect, code)) {
      ++tally_.wrongCode;
      ADD_FAILURE() << what << ": refused with " << code;
    }
    if (!fs::is_empty(Out()) || !lastBufferBlank_) {
      ++tally_.leftOutput;
      ADD_FAILURE() << what << ": left an output behind";
      fs::remove_all(Out());
      fs::create_directories(Out());
    }
  }

  // Whole-file cases: the bytes are written, judged, and the next case
  // rewrites the file.
  void JudgeBytes(const std::string& what, const std::string& bytes, Expect expect) {
    WriteFile(Target(), bytes);
    Judge(what, expect);
  }

  // Bit flips are done in place on one copy of the file and undone after.
  void JudgeFlips(const std::string& label, const std::string& file, const std::vector<size_t>& bits,
                  const std::function<Expect(size_t byte)>& expect) {
    WriteFile(Target(), file);
    ASSERT_EQ(DecryptTarget(), ZQCA_OK) << label << ": the untouched file must open";
    fs::remove_all(Out());
    fs::create_directories(Out());
    int fd = open(Target().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (size_t bit : bits) {
      const size_t at = bit / 8;
      const char original = file[at];
      const char flipped = static_cast<char>(original ^ (1 << (bit % 8)));
      ASSERT_EQ(pwrite(fd, &flipped, 1, static_cast<off_t>(at)), 1);
      Judge(label + " bit " + std::to_string(bit), expect(at));
      ASSERT_EQ(pwrite(fd, &original, 1, static_cast<off_t>(at)), 1);
    }
    close(fd);
  }

  static std::vector<size_t> EveryBit(size_t from, size_t to) {
    std::vector<size_t> bits;
    for (size_t bit = from * 8; bit < to * 8; ++bit) bits.push_back(bit);
    return bits;
  }

  static size_t HeaderLength(const std::string& bytes, size_t at) {
    return *fmt::HeaderLength({reinterpret_cast<const uint8_t*>(bytes.data()) + at, fmt::kPrefixSize});
  }

  SuiteEnvironment env_{SuiteEnvironment::FastBase()};
  Tally tally_;
  bool lastBufferBlank_ = true;
};

struct Shape {
  size_t size;
  bool sfx;
};

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {0, false},       {1, false},     {65535, false}, {65536, false}, {65537, false},
      {1 << 20, false}, {1, true},      {65537, true},
  };
  return shapes;
}

std::string Describe(const Shape& s) { return std::to_string(s.size) + (s.sfx ? " bytes, self-extracting" : " bytes"); }

TEST_F(TamperSweep, EveryDamageIsRefusedAndNothingIsWritten) {
  unsigned seed = 10;
  for (const Shape& shape : Shapes()) {
    const std::string label = Describe(shape);
    const std::string file = Make("f.bin", Pattern(shape.size, seed++), shape.sfx);
    const size_t start = shape.sfx ? halvex::cipher::stubs::ForNewFile().size() : 0;
    const size_t header = HeaderLength(file, start);
    const size_t bodyStart = start + header;
    const size_t bodyEnd = file.size() - (shape.sfx ? fmt::kTrailerSize : 0);
    const size_t chunks = fmt::ChunkCount(shape.size, fmt::kChunkSize);

    // Every header bit. Without its magic the file is not ours; a payload
    // behind a stub is then not found at all.
    JudgeFlips(label + " header", file, EveryBit(start, bodyStart),
               [&](size_t at) {
                 if (at < start + fmt::kMagic.size()) return Expect::kNotOurs;
                 return at == start + fmt::kFlagsOffset ? Expect::kDamagedOrLocked : Expect::kDamaged;
               });
    // The body: every tag's first and last byte, each chunk's first and last
    // ciphertext byte, and a stride through everything; one bit of each.
    std::set<size_t> bits;
    auto addByte = [&](size_t at) { bits.insert(at * 8 + at % 8); };
    for (size_t k = 0; k < chunks; ++k) {
      size_t chunkStart = bodyStart + k * kSealedChunk;
      size_t plain = std::min<size_t>(fmt::kChunkSize, shape.size - k * fmt::kChunkSize);
      if (plain) addByte(chunkStart), addByte(chunkStart + plain - 1);
      addByte(chunkStart + plain), addByte(chunkStart + plain + kTag - 1);
    }
    for (size_t at = bodyStart; at < bodyEnd; at += Long() ? 61 : 997) addByte(at);
    JudgeFlips(label + " body", file, {bits.begin(), bits.end()}, [](size_t) { return Expect::kDamaged; });
    // The trailer of a self-extracting file: what it points at is not found.
    if (shape.sfx)
      JudgeFlips(label + " trailer", file, EveryBit(bodyEnd, file.size()),
                 [](size_t) { return Expect::kNotOursOrDamaged; });

    // Truncation at every chunk boundary and one byte either side, and at the
    // edges of the header.
    std::set<size_t> lengths = {0, 8, fmt::kPrefixSize - 1, fmt::kPrefixSize, bodyStart - 1, bodyStart,
                                bodyStart + 1, file.size() - 1};
    for (size_t k = 1; k <= chunks; ++k)
      for (size_t delta : {size_t{0}, size_t{1}, size_t{2}})
        lengths.insert(std::min(bodyStart + k * kSealedChunk + delta - 1, file.size() - 1));
    for (size_t length : lengths) {
      if (length >= file.size()) continue;
      Expect expect = shape.sfx || length < start + fmt::kPrefixSize ? Expect::kNotOurs : Expect::kDamaged;
      JudgeBytes(label + " cut to " + std::to_string(length), file.substr(0, length), expect);
    }
    // Appended bytes, and the last sealed chunk repeated.
    for (size_t extra : {1, 16, 17, 4096}) {
      std::string longer = file + std::string(extra, '\0');
      JudgeBytes(label + " " + std::to_string(extra) + " bytes appended", longer,
                 shape.sfx ? Expect::kNotOurs : Expect::kDamaged);
    }
    if (!shape.sfx) {
      size_t lastChunk = (shape.size - (chunks - 1) * fmt::kChunkSize) + kTag;
      JudgeBytes(label + " last chunk repeated", file + file.substr(file.size() - lastChunk), Expect::kDamaged);
    }
    // Chunks swapped with their neighbour, and one chunk put in place of the next.
    if (!shape.sfx) {
      for (size_t k = 0; k + 1 < chunks; ++k) {
        const size_t a = bodyStart + k * kSealedChunk, b = a + kSealedChunk;
        const size_t bLength = std::min(kSealedChunk, file.size() - b);
        std::string swapped = file.substr(0, a) + file.substr(b, bLength) + file.substr(a, kSealedChunk) +
                              file.substr(b + bLength);
        JudgeBytes(label + " chunks " + std::to_string(k) + " and " + std::to_string(k + 1) + " swapped", swapped,
                   Expect::kDamaged);
        if (bLength == kSealedChunk) {
          std::string repeated = file;
          repeated.replace(b, kSealedChunk, file.substr(a, kSealedChunk));
          JudgeBytes(label + " chunk " + std::to_string(k) + " in place of the next", repeated, Expect::kDamaged);
        }
      }
    }
  }
  std::printf("tamper sweep: %d cases tried, %d accepted, %d refused with an unexpected code, %d left output\n",
              tally_.cases, tally_.accepted, tally_.wrongCode, tally_.leftOutput);
  EXPECT_EQ(tally_.accepted, 0);
}

// A forger without the key can still renew the header's checksum (it has no
// key). Every header bit changed that way must be refused all the same, by the
// key slots, the MAC or the version check; the lock bit refuses by locking.
TEST_F(TamperSweep, HeaderChangesWithARenewedChecksumAreRefused) {
  std::map<uint32_t, int> codes;
  for (const Shape& shape : {Shape{1, false}, Shape{65537, true}}) {
    const std::string file = Make("f.bin", Pattern(shape.size, 7), shape.sfx);
    const size_t start = shape.sfx ? halvex::cipher::stubs::ForNewFile().size() : 0;
    const size_t header = HeaderLength(file, start);
    for (size_t bit = (start + fmt::kMagic.size()) * 8; bit < (start + header - fmt::kChecksumSize) * 8; ++bit) {
      std::string bad = file;
      bad[bit / 8] ^= static_cast<char>(1 << (bit % 8));
      auto* bytes = reinterpret_cast<uint8_t*>(bad.data()) + start;
      cipher::crypto::Sha256({bytes, header - fmt::kChecksumSize}, {bytes + header - fmt::kChecksumSize, fmt::kChecksumSize});
      WriteFile(Target(), bad);
      ++tally_.cases;
      uint32_t code = DecryptTarget();
      ++codes[code];
      if (code == ZQCA_OK) {
        ++tally_.accepted;
        ADD_FAILURE() << Describe(shape) << ": header bit " << bit - start * 8 << " changed, accepted";
        fs::remove_all(Out());
        fs::create_directories(Out());
      } else if (!fs::is_empty(Out()) || !lastBufferBlank_) {
        ADD_FAILURE() << Describe(shape) << ": header bit " << bit - start * 8 << " left an output behind";
      }
    }
  }
  std::printf("header changes with renewed checksum: %d cases tried, %d accepted; refusals by code:",
              tally_.cases, tally_.accepted);
  for (const auto& [code, count] : codes) std::printf(" %u x%d", code, count);
  std::printf("\n");
  EXPECT_EQ(tally_.accepted, 0);
}

// Two files of one size under the same key: any header with the other's
// body, and any chunk from the other file, must be refused.
TEST_F(TamperSweep, PartsOfTwoFilesDoNotCombine) {
  for (size_t size : {size_t{1}, size_t{65537}, size_t{3 * 65536}}) {
    const std::string a = Make("a.bin", Pattern(size, 1), false);
    const std::string b = Make("b.bin", Pattern(size, 2), false);
    const size_t header = HeaderLength(a, 0);
    ASSERT_EQ(header, HeaderLength(b, 0));
    const std::string label = std::to_string(size) + " bytes";
    JudgeBytes(label + ": a's header, b's body", a.substr(0, header) + b.substr(header), Expect::kDamaged);
    JudgeBytes(label + ": b's header, a's body", b.substr(0, header) + a.substr(header), Expect::kDamaged);
    std::string mixed = a;
    mixed.replace(header, std::min(kSealedChunk, a.size() - header), b.substr(header, std::min(kSealedChunk, b.size() - header)));
    JudgeBytes(label + ": b's first chunk in a", mixed, Expect::kDamaged);
  }
  std::printf("header and chunk swaps: %d cases tried, %d accepted\n", tally_.cases, tally_.accepted);
  EXPECT_EQ(tally_.accepted, 0);
}

// In a batch, a damaged file stays as it was, nothing stands in its place,
// and the user is told it is damaged.
TEST_F(TamperSweep, BatchKeepsTheDamagedFileAndReportsIt) {
  NonInteractive(progress::Choice::kSkip, progress::ErrorChoice::kSkip);
  WriteFile(env_.Drive() / "docs" / "plan.bin", Pattern(70000, 5));
  BatchResult encrypted = RunBatch({SuiteEnvironment::Path("docs/plan.bin")}, 1);
  ASSERT_EQ(encrypted.outputs.size(), 1u);
  const fs::path encryptedFile = env_.Drive() / "docs" / "plan.bin.qelmenc";
  std::string bytes = ReadFile(encryptedFile);
  bytes[bytes.size() - 20] ^= 0x04;
  WriteFile(encryptedFile, bytes);

  ReportedFailures().clear();
  BatchResult decrypted = RunBatch(encrypted.outputs, 0);
  EXPECT_EQ(decrypted.succeeded, 0u);
  EXPECT_EQ(decrypted.errCode, ZQCA_ERR_DAMAGED);
  EXPECT_EQ(ReadFile(encryptedFile), bytes);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(env_.Drive() / "docs")) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"plan.bin.qelmenc"});
  ASSERT_EQ(ReportedFailures().size(), 1u);
  EXPECT_EQ(ReportedFailures()[0].fes, 1302u);
  EXPECT_EQ(ReportedFailures()[0].api, ZQCA_ERR_DAMAGED);
}

}  // namespace
}  // namespace halvex::reliability
