// What the file system can do to an encryption: a process killed half-way,
// a disk that fills up. Nothing may ever stand half-written under the final
// name, and the source stays as it was.
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/suite/cipher_test_support.h"

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

bool HasTemporaryFile(const std::string& folder) {
  for (const std::string& name : Listing(folder))
    if (name.rfind(".hvx-", 0) == 0) return true;
  return false;
}

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
  EXPECT_FALSE(drive_.Exists("enc/big.hvx"));
  EXPECT_TRUE(HasTemporaryFile(drive_.Native("enc")));  // it was half-way, under its temporary name
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

}  // namespace
}  // namespace halvex::test
