// The key store: made once, private, the same key every time, never silently
// replaced; a ring that only grows; backups sealed under a passphrase.
#include "suite/keystore/keystore.h"

#include <gcrypt.h>
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

#include "platform/testing.h"
#include "suite/keystore/backup.h"
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

// bytes with their trailing checksum made right again, as a key file has it.
std::string Resealed(std::string bytes) {
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, bytes.data(), bytes.size() - 16);
  bytes.replace(bytes.size() - 16, 16, reinterpret_cast<char*>(digest), 16);
  return bytes;
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
  EXPECT_EQ(59, st.st_size) << "a ring of one key";
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
      {"checksum changed", flip(58)},
      {"no keys", Resealed(good.substr(0, 9) + std::string("\0\xff", 2) + good.substr(43))},
      {"more keys counted than held", Resealed(good.substr(0, 9) + "\x02" + good.substr(10))},
      {"chosen key beyond the ring", Resealed(good.substr(0, 10) + "\x01" + good.substr(11))},
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
  // A new key file whose name the folder's flush did not make durable keys
  // nothing: a power cut could take the name and orphan every file it keyed.
  UseKeyFile(dir_ / "fresh" / "keystore");
  halvex::platform::InjectFault(halvex::platform::FaultPoint::kSyncFolder, 1, EIO);
  EXPECT_EQ("error 2", FetchKey());
  halvex::platform::ClearFaults();
  EXPECT_EQ(FetchKey().size(), 24u) << "the complete file serves the next call";
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
  EXPECT_EQ(ks::Status::kMissing, ks::Export(dir_ / "copy", std::nullopt));
  ASSERT_EQ(24u, FetchKey().size());
  ASSERT_EQ(ks::Status::kOk, ks::Export(dir_ / "copy", std::nullopt));
  EXPECT_EQ(ReadBytes(keyFile_), ReadBytes(dir_ / "copy"));
  WriteBytes(dir_ / "other", "keep me");
  EXPECT_EQ(ks::Status::kExists, ks::Export(dir_ / "other", std::nullopt));
  EXPECT_EQ(ks::Status::kExists, ks::Export(dir_ / "other", "pass"));
  EXPECT_EQ("keep me", ReadBytes(dir_ / "other"));
}

// A store lost and made anew holds a new key; importing the old backup adds
// the old key beside it, and the new one keeps encrypting.
TEST_F(KeystoreTest, ImportAddsKeysAndNeverReplacesOne) {
  const std::string oldKey = FetchKey();
  const fs::path backup = dir_ / "old.backup";
  ASSERT_EQ(ks::Status::kOk, ks::Export(backup, std::nullopt));
  fs::remove(keyFile_);
  const std::string newKey = FetchKey();
  ASSERT_NE(oldKey, newKey);

  size_t added = 9;
  ASSERT_EQ(ks::Status::kOk, ks::Import(backup, std::nullopt, &added));
  EXPECT_EQ(1u, added);
  EXPECT_EQ(newKey, FetchKey()) << "an older key added does not take over encrypting";
  ASSERT_EQ(ks::Status::kOk, ks::Import(backup, std::nullopt, &added));
  EXPECT_EQ(0u, added) << "a key held already is not added twice";
  std::vector<ks::KeyInfo> keys;
  ASSERT_EQ(ks::Status::kOk, ks::List(keys));
  ASSERT_EQ(2u, keys.size());
  EXPECT_TRUE(keys[0].encrypts);
  EXPECT_FALSE(keys[1].encrypts);

  const std::string ring = ReadBytes(keyFile_);
  WriteBytes(dir_ / "damaged", ReadBytes(backup).substr(0, 40));
  EXPECT_EQ(ks::Status::kCorrupt, ks::Import(dir_ / "damaged", std::nullopt));
  EXPECT_EQ(ks::Status::kMissing, ks::Import(dir_ / "absent", std::nullopt));
  EXPECT_EQ(ks::Status::kUnknownKey, ks::Use(keys[0].id ^ 1));
  EXPECT_EQ(ring, ReadBytes(keyFile_)) << "refused changes change nothing";

  ASSERT_EQ(ks::Status::kOk, ks::Use(keys[1].id));
  EXPECT_EQ(oldKey, FetchKey()) << "the chosen key encrypts";
  WriteBytes(keyFile_, ring.substr(0, 50));
  EXPECT_EQ(ks::Status::kStoreDamaged, ks::Import(backup, std::nullopt));
  EXPECT_EQ(ring.substr(0, 50), ReadBytes(keyFile_)) << "a damaged store is never replaced";
}

// Stores and backups of the first layout: one key, 49 bytes.
TEST_F(KeystoreTest, SingleKeyFilesOfTheFirstLayoutStillServe) {
  const std::string key(24, '\x5a');
  const std::string v1 = Resealed(std::string("HALVEXKS\x01") + key + std::string(16, '\0'));
  fs::create_directories(keyFile_.parent_path());
  WriteBytes(keyFile_, v1);
  EXPECT_EQ(key, FetchKey());
  WriteBytes(dir_ / "v1.backup", v1);
  EXPECT_EQ(ks::Status::kOk, ks::Import(dir_ / "v1.backup", std::nullopt));
  EXPECT_EQ(v1, ReadBytes(keyFile_)) << "nothing new: the old file stays as it was";
  fs::remove(keyFile_);
  ASSERT_EQ(ks::Status::kOk, ks::Import(dir_ / "v1.backup", std::nullopt));
  EXPECT_EQ(key, FetchKey());
}

TEST_F(KeystoreTest, SealedBackupOpensWithItsPassphraseAlone) {
  ks::backup::SetCost(1, 64);
  const std::string key = FetchKey();
  const fs::path sealed = dir_ / "sealed.backup";
  ASSERT_EQ(ks::Status::kOk, ks::Export(sealed, "correct horse"));
  const std::string bytes = ReadBytes(sealed);
  EXPECT_EQ(std::string::npos, bytes.find(key)) << "the key is not readable in the backup";
  EXPECT_TRUE(ks::NeedsPassphrase(sealed));
  fs::remove(keyFile_);

  std::string tampered = bytes;
  tampered[bytes.size() / 2] ^= 1;
  WriteBytes(dir_ / "tampered", tampered);
  EXPECT_EQ(ks::Status::kNeedsPassphrase, ks::Import(sealed, std::nullopt));
  EXPECT_EQ(ks::Status::kWrongPassphrase, ks::Import(sealed, "wrong horse"));
  EXPECT_EQ(ks::Status::kWrongPassphrase, ks::Import(dir_ / "tampered", "correct horse"));
  EXPECT_FALSE(fs::exists(keyFile_));
  ASSERT_EQ(ks::Status::kOk, ks::Import(sealed, "correct horse"));
  EXPECT_EQ(key, FetchKey());
}

}  // namespace
