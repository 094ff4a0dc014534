// The key store: made once, private, the same key every time, never silently replaced.
#include "suite/keystore/keystore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "suite/zqkm.h"

namespace fs = std::filesystem;
namespace ks = halvex::keystore;

// libgcrypt keeps its entropy collector's buffer for the life of the process.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:libgcrypt.so\n"; }

namespace {

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// The stored key as bytes, or the error code as text.
std::string FetchKey() {
  uint32_t value = 7, error = 99;
  BYTE* key = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  EXPECT_EQ(0u, value);
  if (!key) return "error " + std::to_string(error);
  EXPECT_EQ(0u, error);
  std::string bytes(reinterpret_cast<char*>(key), 24);
  ZQKM_FreeMemory(key);
  return bytes;
}

class KeystoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-keystore-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    UseKeyFile(dir_ / "config" / "halvex" / "keystore");
  }
  void TearDown() override {
    unsetenv("HALVEX_KEYSTORE");
    fs::remove_all(dir_);
  }
  void UseKeyFile(const fs::path& p) {
    keyFile_ = p;
    setenv("HALVEX_KEYSTORE", p.c_str(), 1);
  }
  fs::path dir_, keyFile_;
};

TEST_F(KeystoreTest, FirstUseMakesAPrivateKeyFileAndLaterUsesGiveTheSameKey) {
  std::string first = FetchKey();
  ASSERT_EQ(24u, first.size()) << first;
  struct stat st;
  ASSERT_EQ(0, stat(keyFile_.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_EQ(49, st.st_size);
  ASSERT_EQ(0, stat(keyFile_.parent_path().c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777) << "folders made for the key are private too";
  EXPECT_EQ(first, FetchKey());
  EXPECT_EQ(1, std::distance(fs::directory_iterator(keyFile_.parent_path()), fs::directory_iterator{}))
      << "no temporary file is left behind";
}

TEST_F(KeystoreTest, DamagedKeyFileIsErrorOneAndStaysUntouched) {
  ASSERT_EQ(24u, FetchKey().size());
  const std::string good = ReadBytes(keyFile_);
  struct Case {
    const char* what;
    std::string bytes;
  };
  auto flip = [&](size_t at) {
    std::string b = good;
    b[at] ^= 0x01;
    return b;
  };
  const std::vector<Case> cases = {
      {"empty", ""},
      {"truncated", good.substr(0, 30)},
      {"one byte short", good.substr(0, 48)},
      {"trailing byte", good + "x"},
      {"bad magic", flip(0)},
      {"bad version", flip(8)},
      {"key byte changed", flip(20)},
      {"checksum changed", flip(48)},
  };
  for (const Case& c : cases) {
    WriteBytes(keyFile_, c.bytes);
    EXPECT_EQ("error 1", FetchKey()) << c.what;
    EXPECT_EQ(c.bytes, ReadBytes(keyFile_)) << c.what << ": never replaced by a new key";
  }
}

TEST_F(KeystoreTest, UnreadableOrUncreatableKeyFileGivesTheMatchingError) {
  fs::create_directories(keyFile_);  // a folder where the key file should be
  EXPECT_EQ("error 1", FetchKey());
  WriteBytes(dir_ / "plainfile", "x");
  UseKeyFile(dir_ / "plainfile" / "keystore");  // its folder cannot exist
  EXPECT_EQ("error 2", FetchKey());
}

TEST_F(KeystoreTest, ProcessesRacingOnFirstUseEndWithOneKey) {
  constexpr int kProcesses = 6;
  int fds[kProcesses][2];
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    ASSERT_EQ(0, pipe(fds[i]));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string key = FetchKey();
      ssize_t n = write(fds[i][1], key.data(), key.size());
      _exit(n == static_cast<ssize_t>(key.size()) ? 0 : 1);
    }
    close(fds[i][1]);
    children.push_back(pid);
  }
  std::vector<std::string> keys;
  for (int i = 0; i < kProcesses; ++i) {
    char buf[64];
    ssize_t n = read(fds[i][0], buf, sizeof buf);
    keys.emplace_back(buf, n > 0 ? static_cast<size_t>(n) : 0);
    close(fds[i][0]);
    int status = 0;
    waitpid(children[i], &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string stored = FetchKey();
  ASSERT_EQ(24u, stored.size());
  for (const std::string& k : keys) EXPECT_EQ(stored, k);
  EXPECT_EQ(1, std::distance(fs::directory_iterator(keyFile_.parent_path()), fs::directory_iterator{}));
}

TEST_F(KeystoreTest, ExportNeverOverwritesAndNeedsAKey) {
  EXPECT_EQ(ks::Status::kMissing, ks::Export(dir_ / "copy"));
  ASSERT_EQ(24u, FetchKey().size());
  ASSERT_EQ(ks::Status::kOk, ks::Export(dir_ / "copy"));
  EXPECT_EQ(ReadBytes(keyFile_), ReadBytes(dir_ / "copy"));
  WriteBytes(dir_ / "other", "keep me");
  EXPECT_EQ(ks::Status::kExists, ks::Export(dir_ / "other"));
  EXPECT_EQ("keep me", ReadBytes(dir_ / "other"));
}

TEST_F(KeystoreTest, ImportRefusesBadFilesAndOtherKeysUnlessForced) {
  // A key of another machine.
  UseKeyFile(dir_ / "elsewhere" / "keystore");
  const std::string foreignKey = FetchKey();
  const fs::path foreign = dir_ / "elsewhere" / "keystore";
  UseKeyFile(dir_ / "config" / "halvex" / "keystore");

  // With no key yet, an import installs it.
  ASSERT_EQ(ks::Status::kOk, ks::Import(foreign, false));
  EXPECT_EQ(foreignKey, FetchKey());
  fs::remove(keyFile_);

  const std::string ownKey = FetchKey();
  const std::string ownFile = ReadBytes(keyFile_);
  WriteBytes(dir_ / "damaged", ReadBytes(foreign).substr(0, 40));
  EXPECT_EQ(ks::Status::kCorrupt, ks::Import(dir_ / "damaged", true));
  EXPECT_EQ(ks::Status::kMissing, ks::Import(dir_ / "absent", true));
  EXPECT_EQ(ks::Status::kExists, ks::Import(foreign, false));
  EXPECT_EQ(ownFile, ReadBytes(keyFile_)) << "refused imports change nothing";
  EXPECT_EQ(ks::Status::kOk, ks::Import(keyFile_, false)) << "the same key is no conflict";

  ASSERT_EQ(ks::Status::kOk, ks::Import(foreign, true));
  EXPECT_EQ(foreignKey, FetchKey());
  EXPECT_NE(ownKey, foreignKey);
  struct stat st;
  ASSERT_EQ(0, stat(keyFile_.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

}  // namespace
