// The drive-admin library: the vault counts as shown only while mapped and present.
#include "platform/paths.h"
#include "suite/krvdevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/wide.h"

namespace fs = std::filesystem;

namespace {

class DriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-drive-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    setenv("HALVEX_CONFIG", (dir_ / "settings.ini").string().c_str(), 1);
  }
  void TearDown() override {
    unsetenv("HALVEX_CONFIG");
    unsetenv("HALVEX_DRIVES");
    halvex::platform::ReloadDriveMap();
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

int32_t IsShow() {
  CKRVDevice device(0, 0);
  return device.IsShow();
}

TEST_F(DriveTest, ShownOnlyWhileTheVaultDriveIsMappedAndItsFolderIsThere) {
  struct Case {
    const char* what;
    const char* setting;  // nullptr: no settings file
    bool mapped;
    enum { kFolder, kNothing, kFile } target;
    int32_t expected;
  } cases[] = {
      {"no settings", nullptr, true, Case::kFolder, 0},
      {"empty value", "vault_drive =\n", true, Case::kFolder, 0},
      {"mapped and present", "vault_drive = V:\n", true, Case::kFolder, 1},
      {"lower-case letter", "vault_drive = v:\n", true, Case::kFolder, 1},
      {"not mapped", "vault_drive = V:\n", false, Case::kFolder, 0},
      {"mapped, folder gone", "vault_drive = V:\n", true, Case::kNothing, 0},
      {"mapped to a file", "vault_drive = V:\n", true, Case::kFile, 0},
      {"not a letter", "vault_drive = 1:\n", true, Case::kFolder, 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ / "vault");
    fs::remove(dir_ / "settings.ini");
    if (c.setting) std::ofstream(dir_ / "settings.ini") << c.setting;
    if (c.target == Case::kFolder) fs::create_directory(dir_ / "vault");
    if (c.target == Case::kFile) std::ofstream(dir_ / "vault") << "x";
    if (c.mapped) setenv("HALVEX_DRIVES", ("V=" + (dir_ / "vault").string()).c_str(), 1);
    else unsetenv("HALVEX_DRIVES");
    halvex::platform::ReloadDriveMap();
    EXPECT_EQ(c.expected, IsShow()) << c.what;
  }
}

}  // namespace
