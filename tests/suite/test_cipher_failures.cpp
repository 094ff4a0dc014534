// What the file system can do to an encryption: a process killed half-way,
// a disk that fills up. Nothing may ever stand half-written under the final
// name, and the source stays as it was.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "suite/cipher/fileio.h"
#include "tests/suite/cipher_test_support.h"

// Folder syncs fail while this is set: this program's fsync stands in for
// the C library's, for every call the cipher library makes.
static bool failFolderSync = false;

extern "C" int fsync(int fd) {
  struct stat st{};
  if (failFolderSync && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace halvex::test {
namespace {

// Stops the child for good half-way through, so the parent can kill it there.
int32_t HangAtHalf(int32_t percent) {
  if (percent >= 50) {
    std::ofstream(std::getenv("HALVEX_TEST_MARKER")).put('x');
    for (;;) pause();
  }
  return 0;
}

bool IsTemporaryName(const std::string& name) { return name.rfind(".hvx-", 0) == 0; }

TEST_F(CipherTest, KilledEncryptionLeavesNothingUnderTheFinalName) {
  const std::string content = Pattern(8 << 20);
  drive_.Write("big.bin", content);
  std::filesystem::create_directories(drive_.Native("enc"));
  std::string marker = drive_.Native("marker");
  setenv("HALVEX_TEST_MARKER", marker.c_str(), 1);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Encrypt(drive_.Path("big.bin"), drive_.Path("enc/big.hvx"), nullptr, StoredKey().data(), false, HangAtHalf);
    _exit(0);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  bool reachedHalf = std::filesystem::exists(marker);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(reachedHalf);
  EXPECT_TRUE(WIFSIGNALED(status));
  // Half-way, the output had no name yet, or a temporary one.
  for (const std::string& name : Listing(drive_.Native("enc"))) EXPECT_TRUE(IsTemporaryName(name)) << name;
  EXPECT_TRUE(drive_.Read("big.bin") == content);
}

// A 1 MiB tmpfs inside the temporary drive.
class FullDisk {
 public:
  explicit FullDisk(const std::string& where) : where_(where) {
    std::filesystem::create_directories(where_);
    mounted_ = mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=1m") == 0;
    if (!mounted_) error_ = errno;
  }
  ~FullDisk() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  std::string where_;
  bool mounted_ = false;
  int error_ = 0;
};

TEST_F(CipherTest, FullDiskReportsDiskFullAndLeavesNoOutput) {
  FullDisk disk(drive_.Native("small"));
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(disk.error());
  const std::string content = Pattern(3 << 20);
  drive_.Write("a.bin", content);
  CallResult enc = Encrypt(drive_.Path("a.bin"), drive_.Path("small/a.hvx"), nullptr, StoredKey().data());
  EXPECT_EQ(enc.code, ZQCA_ERR_DISK_FULL);
  EXPECT_TRUE(enc.buffer.empty());
  EXPECT_TRUE(Listing(drive_.Native("small")).empty());
  EXPECT_TRUE(drive_.Read("a.bin") == content);

  // Decryption into the full disk fails the same way.
  ASSERT_EQ(Encrypt(drive_.Path("a.bin"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  CallResult dec = Decrypt(drive_.Path("a.hvx"), drive_.Path("small"), WString(), StoredKey().data());
  EXPECT_EQ(dec.code, ZQCA_ERR_DISK_FULL);
  EXPECT_TRUE(dec.buffer.empty());
  EXPECT_TRUE(Listing(drive_.Native("small")).empty());
}

// A new name that may not survive a crash is no success: the caller would
// delete the source next. Nothing is left in the folder, the source stays.
TEST_F(CipherTest, FailedFolderSyncFailsTheCallAndLeavesNoOutput) {
  drive_.Write("a.txt", "content");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("made.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
  std::filesystem::create_directories(drive_.Native("out"));
  failFolderSync = true;
  CallResult enc = Encrypt(drive_.Path("a.txt"), drive_.Path("out/a.hvx"), nullptr, StoredKey().data());
  CallResult dec = Decrypt(drive_.Path("made.hvx"), drive_.Path("out"), WString(), StoredKey().data());
  failFolderSync = false;
  for (const CallResult& r : {enc, dec}) EXPECT_TRUE(r.code == ZQCA_ERR_WRITE && r.buffer.empty()) << r.code;
  EXPECT_TRUE(Listing(drive_.Native("out")).empty());
  EXPECT_EQ(drive_.Read("a.txt"), "content");
}

// The writer thread writes what it is handed, in order, whatever the sizes
// and however far ahead of it the caller runs.
TEST_F(CipherTest, PipelinedWriterKeepsOrderAndSizes) {
  struct Case {
    const char* name;
    size_t bufferBytes;
    size_t bufferCount;
    std::vector<size_t> sizes;
  };
  const Case cases[] = {
      {"nothing", 64, 2, {}},
      {"one short", 64, 2, {5}},
      {"more than the buffers", 64, 2, {64, 1, 63, 0, 64, 64, 7}},
      {"three buffers", 1 << 16, 3, std::vector<size_t>(40, 1 << 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WString path = drive_.Path("out.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    cipher::fileio::File file(h);
    std::string expected;
    {
      cipher::fileio::PipelinedWriter writer(file, c.bufferBytes, c.bufferCount);
      unsigned seed = 1;
      for (size_t size : c.sizes) {
        std::string piece = Pattern(size, seed++);
        std::span<uint8_t> buffer = writer.Buffer();
        ASSERT_GE(buffer.size(), size);
        std::memcpy(buffer.data(), piece.data(), size);
        expected += piece;
        ASSERT_TRUE(writer.Submit(size));
      }
      ASSERT_TRUE(writer.Finish());
    }
    ASSERT_TRUE(file.Close());
    EXPECT_TRUE(drive_.Read("out.bin") == expected);
  }
}

// GetLastError is per thread: the failure of a write on the writer thread
// must reach the caller's thread with its own code, so that a full disk is
// still told apart from other failures.
TEST_F(CipherTest, PipelinedWriterReportsTheWritersError) {
  drive_.Write("in.bin", "x");
  WString path = drive_.Path("in.bin");
  // Opened for reading only, so every write fails.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  cipher::fileio::File file(h);
  // What the same write gives on this thread.
  const uint8_t byte = 0;
  SetLastError(ERROR_SUCCESS);
  ASSERT_FALSE(file.WriteAll({&byte, 1}));
  const DWORD expected = GetLastError();
  ASSERT_NE(expected, static_cast<DWORD>(ERROR_SUCCESS));
  for (bool finishing : {false, true}) {
    SCOPED_TRACE(finishing ? "seen by Finish" : "seen by Submit");
    cipher::fileio::PipelinedWriter writer(file, 16, 2);
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      SetLastError(ERROR_SUCCESS);
      ok = writer.Submit(16);
      if (finishing && ok) break;
    }
    if (finishing && ok) {
      SetLastError(ERROR_SUCCESS);
      ok = writer.Finish();
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(GetLastError(), expected);
  }
  EXPECT_EQ(drive_.Read("in.bin"), "x");
}

// Leaving early (a cancel, a damaged chunk) with writes still queued must
// neither hang nor write after the writer is gone.
TEST_F(CipherTest, PipelinedWriterStopsWithWritesQueued) {
  WString path = drive_.Path("out.bin");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  cipher::fileio::File file(h);
  {
    cipher::fileio::PipelinedWriter writer(file, 1 << 20, 3);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(writer.Submit(1 << 20));
  }
  auto size = file.Size();
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(*size % (1 << 20), 0u);  // whole writes only
  EXPECT_LE(*size, 4u << 20);
}

// The reader thread hands every piece over in order and unchanged, a file
// shorter than planned fails with the end-of-file code on the caller's
// thread at the piece it misses, and leaving early neither hangs nor reads on.
TEST_F(CipherTest, PipelinedReaderHandsOverPiecesInOrder) {
  struct Case {
    const char* name;
    size_t fileBytes;
    uint64_t total;  // what the reader is told to read
    size_t bufferBytes, bufferCount, taken;  // taken: pieces asked for before leaving
  };
  const Case cases[] = {
      {"empty", 0, 0, 64, 3, 1},
      {"inline, one short piece", 5, 5, 64, 1, 1},
      {"more pieces than buffers", 64 * 7 + 3, 64 * 7 + 3, 64, 3, 8},
      {"two buffers", 1000, 1000, 100, 2, 10},
      {"file shorter than planned", 250, 400, 100, 3, 4},
      {"left after two", 1 << 20, 1 << 20, 1 << 12, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string content = Pattern(c.fileBytes, 7);
    drive_.Write("in.bin", content);
    WString path = drive_.Path("in.bin");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    cipher::fileio::File file(h);
    cipher::fileio::PipelinedReader reader(file, c.total, c.bufferBytes, c.bufferCount);
    std::string got;
    for (size_t piece = 0; piece < c.taken; ++piece) {
      const size_t bytes = static_cast<size_t>(std::min<uint64_t>(c.bufferBytes, c.total - got.size()));
      SetLastError(ERROR_SUCCESS);
      const uint8_t* data = reader.Next(bytes);
      if (got.size() + bytes > c.fileBytes) {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
        break;
      }
      ASSERT_NE(data, nullptr);
      got.append(reinterpret_cast<const char*>(data), bytes);
    }
    EXPECT_TRUE(got == content.substr(0, got.size()));
    if (c.total <= c.fileBytes && got.size() == c.total) {
      EXPECT_EQ(reader.Next(1), nullptr);  // nothing past the plan
    }
  }
}

}  // namespace
}  // namespace halvex::test
