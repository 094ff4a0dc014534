// The settings library: value 25, the private temporary folder, the last-use record.
#include "platform/paths.h"
#include "suite/settings/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/wide.h"
#include "suite/zq.h"

namespace fs = std::filesystem;
namespace st = halvex::settings;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-settings-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    setenv("HALVEX_CONFIG", (dir_ / "settings.ini").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    fs::create_directory(dir_ / "run");
  }
  void TearDown() override {
    unsetenv("HALVEX_CONFIG");
    unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(dir_);
  }
  void WriteSettings(const std::string& text) { std::ofstream(dir_ / "settings.ini") << text; }

  static std::string Read(uint32_t id, uint32_t capacity = 260) {
    WCHAR buffer[260];
    std::fill_n(buffer, 260, WTEXT('?'));
    uint32_t size = capacity;
    EXPECT_EQ(0u, ZQ_ReadINIFileW(id, buffer, &size));
    return halvex::platform::ToUtf8(buffer);
  }
  static std::pair<uint32_t, std::string> TempFolder(uint32_t capacity = 260) {
    WCHAR buffer[260] = {};
    uint32_t size = capacity;
    uint32_t code = ZQ_GetTempFolderPathW(buffer, &size);
    return {code, halvex::platform::ToUtf8(buffer)};
  }
  // The library's form of a native folder, with the final backslash.
  static std::string Windows(const fs::path& native) {
    return halvex::platform::ToUtf8(*halvex::platform::FromNativePath(native.string())) + "\\";
  }
  static unsigned Mode(const fs::path& p) {
    struct stat s;
    return lstat(p.c_str(), &s) == 0 ? s.st_mode & 0777 : 01000;
  }

  fs::path dir_;
};

TEST_F(SettingsTest, VaultDriveIsReadFromTheSettingsFile) {
  struct Case {
    const char* file;  // nullptr: no settings file
    std::string expected;
  } cases[] = {
      {nullptr, ""},
      {"", ""},
      {"vault_drive = V:\n", "V:"},
      {"# comment\n[halvex]\n  vault_drive=W:  \r\n", "W:"},
      {"vault_drive = V:\nvault_drive = X:\n", "X:"},
      {"; vault_drive = V:\nother = 1\n", ""},
  };
  for (const Case& c : cases) {
    fs::remove(dir_ / "settings.ini");
    if (c.file) WriteSettings(c.file);
    EXPECT_EQ(c.expected, Read(ZQ_SETTING_VAULT_DRIVE)) << (c.file ? c.file : "(no file)");
  }
  EXPECT_EQ("", Read(7)) << "unknown ids give the empty string";
}

// A batch reads the value once per file: every change to the file counts from
// the next read on, however it was made, also once the file has settled.
TEST_F(SettingsTest, EveryChangeOfTheSettingsFileIsSeenAtTheNextRead) {
  WriteSettings("vault_drive = V:\n");
  EXPECT_EQ("V:", Read(ZQ_SETTING_VAULT_DRIVE));
  WriteSettings("vault_drive = W:\n");  // in place, same size, at once
  EXPECT_EQ("W:", Read(ZQ_SETTING_VAULT_DRIVE));
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  EXPECT_EQ("W:", Read(ZQ_SETTING_VAULT_DRIVE));
  WriteSettings("vault_drive = X:\n");
  EXPECT_EQ("X:", Read(ZQ_SETTING_VAULT_DRIVE));
  ASSERT_TRUE(st::WriteValue(dir_ / "settings.ini", st::kVaultDriveKey, "Y:"));
  EXPECT_EQ("Y:", Read(ZQ_SETTING_VAULT_DRIVE));
  fs::remove(dir_ / "settings.ini");
  EXPECT_EQ("", Read(ZQ_SETTING_VAULT_DRIVE));
}

TEST_F(SettingsTest, ValueIsCutToTheBufferAndAlwaysTerminated) {
  WriteSettings("vault_drive = V:\n");
  EXPECT_EQ("V:", Read(ZQ_SETTING_VAULT_DRIVE, 3));
  EXPECT_EQ("V", Read(ZQ_SETTING_VAULT_DRIVE, 2));
  EXPECT_EQ("", Read(ZQ_SETTING_VAULT_DRIVE, 1));
  uint32_t size = 0;
  WCHAR one = 0;
  EXPECT_NE(0u, ZQ_ReadINIFileW(25, &one, &size)) << "no room for even the terminator";
  EXPECT_NE(0u, ZQ_ReadINIFileW(25, nullptr, &size));
}

TEST_F(SettingsTest, DefaultTempFolderIsMadePrivateAndEndsInABackslash) {
  auto [code, path] = TempFolder();
  ASSERT_EQ(0u, code);
  EXPECT_EQ(Windows(dir_ / "run" / "halvex"), path);
  EXPECT_EQ(0700u, Mode(dir_ / "run" / "halvex"));
}

TEST_F(SettingsTest, ConfiguredTempFolderIsUsedAndNarrowedToOwnerOnly) {
  fs::create_directory(dir_ / "mine");
  chmod((dir_ / "mine").c_str(), 0755);
  WriteSettings("temp_folder = " + (dir_ / "mine").string() + "\n");
  auto [code, path] = TempFolder();
  ASSERT_EQ(0u, code);
  EXPECT_EQ(Windows(dir_ / "mine"), path);
  EXPECT_EQ(0700u, Mode(dir_ / "mine"));
}

TEST_F(SettingsTest, UnsafeOrUnfittingTempFoldersAreRefusedWithAnEmptyPath) {
  fs::create_directory(dir_ / "target");
  fs::create_directory_symlink(dir_ / "target", dir_ / "link");
  fs::create_directory(dir_ / "theirs");
  std::ofstream(dir_ / "file") << "x";
  std::vector<std::string> unsafe = {"link", "file"};
  // Only root can give a folder away; elsewhere that case is left out.
  if (chown((dir_ / "theirs").c_str(), 65534, 65534) == 0) unsafe.push_back("theirs");
  for (const std::string& name : unsafe) {
    WriteSettings("temp_folder = " + (dir_ / name).string() + "\n");
    auto [code, path] = TempFolder();
    EXPECT_NE(0u, code) << name;
    EXPECT_EQ("", path) << name;
  }
  WriteSettings("temp_folder = relative/folder\n");
  EXPECT_NE(0u, TempFolder().first);

  fs::remove(dir_ / "settings.ini");
  auto [code, path] = TempFolder(5);
  EXPECT_NE(0u, code) << "a cut path would name another folder";
  EXPECT_EQ("", path);
}

TEST_F(SettingsTest, LastPasswordUseIsRecordedBesideTheSettings) {
  WriteSettings("vault_drive = V:\n");
  std::ofstream(dir_ / "state.ini") << "# kept\nlast_password_use = 1\nother = 2\n";
  long long before = std::time(nullptr);
  ASSERT_EQ(0u, ZQ_WriteLastSPWUseChgTime(1));
  auto recorded = st::ReadValue(dir_ / "state.ini", st::kLastPasswordUseKey);
  ASSERT_TRUE(recorded);
  long long when = std::stoll(*recorded);
  EXPECT_GE(when, before);
  EXPECT_LE(when, before + 5);
  EXPECT_EQ("2", st::ReadValue(dir_ / "state.ini", "other").value_or(""));
  EXPECT_EQ("V:", Read(ZQ_SETTING_VAULT_DRIVE)) << "the settings file is not touched";
}

}  // namespace
