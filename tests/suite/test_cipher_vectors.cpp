// Encrypted files checked in under data/ must keep opening: a format change
// that breaks files already written fails here. The files were made once by
// the DISABLED_ test below (run it with --gtest_also_run_disabled_tests and
// HALVEX_WRITE_VECTORS set to the data folder only when the format version
// is deliberately raised, keeping the old files).
#include <sys/stat.h>

#include "suite/cipher/format.h"
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
  };
  return vectors;
}

class CipherVectors : public CipherTest {};

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
}

}  // namespace
}  // namespace halvex::test
