#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <functional>
#include <iostream>
#include <regex>
#include <set>

#include "platform/wide.h"
#include "tests/platform/helpers.h"
#include "tests/support/temp_drive.h"

using namespace halvex::test;
using halvex::platform::ToUtf8;

namespace {

HANDLE Hold(const TempDrive& drive, const char* name, DWORD access, DWORD share) {
  return CreateFileW(drive.Path(name).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

size_t EntriesIn(const std::filesystem::path& folder) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(DeleteFileW, RefusesWhatWindowsRefuses) {
  const struct {
    const char* label;
    const char* name;
    std::function<void(TempDrive&)> setUp;
    DWORD error;  // 0: deleted
  } cases[] = {
      {"plain", "a.txt", [](auto& d) { d.Write("a.txt", "x"); }, 0},
      {"dot_name", ".a", [](auto& d) { d.Write(".a", "x"); }, 0},
      {"read_only", "a.txt", [](auto& d) { d.Write("a.txt", "x"), MakeReadOnly(d.Native("a.txt")); },
       ERROR_ACCESS_DENIED},
      {"folder", "Docs", [](auto& d) { MakeFolder(d.Native("Docs")); }, ERROR_ACCESS_DENIED},
      {"missing", "a.txt", [](auto&) {}, ERROR_FILE_NOT_FOUND},
      {"missing_folder", "No\\a.txt", [](auto&) {}, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : cases) {
    TempDrive drive;
    c.setUp(drive);
    EXPECT_EQ(DeleteFileW(drive.Path(c.name).c_str()), c.error == 0) << c.label;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.label;
    }
    EXPECT_FALSE(c.error == 0 && drive.Exists(c.name)) << c.label;
    SetFileAttributesW(drive.Path(c.name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(DeleteFileW, RefusesAHeldFile) {
  for (DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{0}}) {
    TempDrive drive;
    drive.Write("a.txt", "x");
    HANDLE h = Hold(drive, "a.txt", GENERIC_READ, share);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(drive.Path("a.txt").c_str()));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
    CloseHandle(h);
    EXPECT_TRUE(DeleteFileW(drive.Path("a.txt").c_str()));
  }
}

TEST(MoveFileW, MovesFilesAndFoldersButNeverReplaces) {
  TempDrive drive;
  drive.Write("a.txt", "a");
  drive.Write("b.txt", "b");
  drive.Write("Docs/in.txt", "in");
  EXPECT_FALSE(MoveFileW(drive.Path("a.txt").c_str(), drive.Path("b.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(drive.Read("a.txt"), "a");
  EXPECT_EQ(drive.Read("b.txt"), "b");

  EXPECT_TRUE(MoveFileW(drive.Path("a.txt").c_str(), drive.Path("c.txt").c_str()));
  EXPECT_FALSE(drive.Exists("a.txt"));
  EXPECT_EQ(drive.Read("c.txt"), "a");
  EXPECT_TRUE(MoveFileW(drive.Path("Docs").c_str(), drive.Path("Moved").c_str()));
  EXPECT_EQ(drive.Read("Moved/in.txt"), "in");

  EXPECT_FALSE(MoveFileW(drive.Path("gone.txt").c_str(), drive.Path("d.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(MoveFileW(drive.Path("c.txt").c_str(), drive.Path("No\\d.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

TEST(MoveFileW, RefusesAHeldSource) {
  TempDrive drive;
  drive.Write("a.txt", "a");
  HANDLE h = Hold(drive, "a.txt", GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(MoveFileW(drive.Path("a.txt").c_str(), drive.Path("b.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  CloseHandle(h);
  EXPECT_TRUE(drive.Exists("a.txt"));
  EXPECT_FALSE(drive.Exists("b.txt"));
}

TEST(CopyFileW, CopiesDataAndAttributes) {
  TempDrive drive;
  drive.Write("Docs/a.txt", "payload");
  ASSERT_TRUE(SetFileAttributesW(drive.Path("Docs\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(CopyFileW(drive.Path("Docs\\a.txt").c_str(), drive.Path("Docs\\b.txt").c_str(), TRUE));
  EXPECT_EQ(drive.Read("Docs/b.txt"), "payload");
  // Windows may add the archive bit to a new file; the library never reads it.
  EXPECT_EQ(GetFileAttributesW(drive.Path("Docs\\b.txt").c_str()) & ~DWORD{FILE_ATTRIBUTE_ARCHIVE},
            FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(EntriesIn(drive.Native("Docs")), 2u) << "no temporary file is left behind";
}

TEST(CopyFileW, ExistingTargets) {
  const struct {
    const char* label;
    BOOL failIfExists;
    std::function<void(TempDrive&)> setUp;
    DWORD error;  // 0: copied
  } cases[] = {
      {"fail_if_exists", TRUE, nullptr, ERROR_FILE_EXISTS},
      {"overwrite", FALSE, nullptr, 0},
      {"read_only_target", FALSE, [](auto& d) { MakeReadOnly(d.Native("b.txt")); }, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    TempDrive drive;
    if (c.setUp && !ReadOnlyRefusesWriting(drive.Native(), drive.Path())) {
      std::cout << "skipped " << c.label << ": Wine run as root writes into read-only files\n";
      continue;
    }
    drive.Write("a.txt", "new");
    drive.Write("b.txt", "old");
    if (c.setUp) c.setUp(drive);
    EXPECT_EQ(CopyFileW(drive.Path("a.txt").c_str(), drive.Path("b.txt").c_str(), c.failIfExists), c.error == 0)
        << c.label;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.label;
    }
    EXPECT_EQ(drive.Read("b.txt"), c.error ? "old" : "new") << c.label;
    EXPECT_EQ(EntriesIn(drive.Root()), 2u) << c.label;
    SetFileAttributesW(drive.Path("b.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

TEST(CopyFileW, HeldFiles) {
  const struct {
    const char* held;
    DWORD access, share;
    bool copies;
  } cases[] = {
      {"a.txt", GENERIC_READ, FILE_SHARE_READ, true},   // readers may share the source
      {"a.txt", GENERIC_READ, 0, false},                // held exclusively
      {"a.txt", GENERIC_WRITE, FILE_SHARE_READ, true},  // the copy shares writing
      {"b.txt", GENERIC_READ, FILE_SHARE_READ, false},  // a held target is not replaced
      {"b.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},  // unless its holder shares writing
  };
  for (const auto& c : cases) {
    TempDrive drive;
    drive.Write("a.txt", "new");
    drive.Write("b.txt", "old");
    HANDLE h = Hold(drive, c.held, c.access, c.share);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CopyFileW(drive.Path("a.txt").c_str(), drive.Path("b.txt").c_str(), FALSE), c.copies)
        << c.held << " " << c.access << " " << c.share;
    if (!c.copies) {
      EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION}) << c.held;
    }
    CloseHandle(h);
    EXPECT_EQ(drive.Read("b.txt"), c.copies ? "new" : "old");
  }
}

// Answers that no caller of ours leans on today, given as Windows gives them.
TEST(Win32, SmallAnswersAsWindows) {
  TempDrive drive;
  drive.Write("a.txt", "old");
  const WString a = drive.Path("a.txt");
  // A name Windows refuses fails with 123 in every call that takes a path;
  // reads and writes of nothing still check the handle's access.
  const auto p = [&](const char* name) { return drive.Path(name); };
  const auto openFile = [](const WString& path, DWORD access, DWORD creation) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, creation, 0, nullptr);
  };
  const auto io = [&](DWORD access, bool write, void* buffer, DWORD size) {
    HANDLE h = openFile(a, access, OPEN_EXISTING);
    DWORD done = 7;  // nothing is ever moved here
    const BOOL ok = write ? WriteFile(h, buffer, size, &done, nullptr) : ReadFile(h, buffer, size, &done, nullptr);
    return CloseHandle(h), ok && done == 0;
  };
  char byte;
  const struct { const char* label; std::function<bool()> call; DWORD error; /* 0: succeeds */ } cases[] = {
      {"create_folder_star", [&] { return CreateDirectoryW(p("W*M").c_str(), nullptr); }, ERROR_INVALID_NAME},
      {"create_folder_tab", [&] { return CreateDirectoryW(p("W\tM").c_str(), nullptr); }, ERROR_INVALID_NAME},
      {"remove_folder_query", [&] { return RemoveDirectoryW(p("W?M").c_str()); }, ERROR_INVALID_NAME},
      {"move_onto_wildcard", [&] { return MoveFileW(a.c_str(), p("b*.txt").c_str()); }, ERROR_INVALID_NAME},
      {"move_from_wildcard", [&] { return MoveFileW(p("a?txt").c_str(), p("c").c_str()); }, ERROR_INVALID_NAME},
      {"copy_onto_pipe", [&] { return CopyFileW(a.c_str(), p("b|.txt").c_str(), FALSE); }, ERROR_INVALID_NAME},
      {"copy_onto_itself", [&] { return CopyFileW(a.c_str(), a.c_str(), FALSE); }, ERROR_SHARING_VIOLATION},
      {"open_angle", [&] { return openFile(p("a<b\""), GENERIC_WRITE, OPEN_ALWAYS) != INVALID_HANDLE_VALUE; },
       ERROR_INVALID_NAME},
      {"delete_star", [&] { return DeleteFileW(p("*.txt").c_str()); }, ERROR_INVALID_NAME},
      {"get_attributes", [&] { return GetFileAttributesW(p("a.tx?").c_str()) != INVALID_FILE_ATTRIBUTES; },
       ERROR_INVALID_NAME},
      {"set_attr", [&] { return SetFileAttributesW(p("a>b").c_str(), FILE_ATTRIBUTE_NORMAL); }, ERROR_INVALID_NAME},
      {"read_nothing_unreadable", [&] { return io(GENERIC_WRITE, false, &byte, 0); }, ERROR_ACCESS_DENIED},
      {"read_nothing_null", [&] { return io(GENERIC_READ, false, nullptr, 0); }, 0},
      {"write_nothing_unwritable", [&] { return io(GENERIC_READ, true, &byte, 0); }, ERROR_ACCESS_DENIED},
      {"write_nothing_null", [&] { return io(GENERIC_WRITE, true, nullptr, 0); }, 0},
      {"read_into_null", [&] { return io(GENERIC_READ, false, nullptr, 1); }, ERROR_NOACCESS},
      {"write_from_null", [&] { return io(GENERIC_WRITE, true, nullptr, 1); }, ERROR_INVALID_USER_BUFFER},
  };
  for (const auto& c : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(c.call(), c.error == 0) << c.label;
    EXPECT_EQ(GetLastError(), c.error) << c.label;
  }
  EXPECT_EQ(drive.Read("a.txt"), "old");
  EXPECT_EQ(EntriesIn(drive.Root()), 1u) << "nothing was made";
  EXPECT_TRUE(MoveFileW(a.c_str(), a.c_str()));
  EXPECT_FALSE(DeleteFileW(nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(CopyFileW(a.c_str(), drive.Path("b.txt").c_str(), TRUE));
  EXPECT_NE(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND}) << "nothing stale after success";
  // CREATE_ALWAYS truncates whatever the access; each handle does only what
  // it was opened for.
  for (DWORD access : {DWORD{0}, DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
    HANDLE h = CreateFileW(a.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << access;
    EXPECT_EQ(drive.Read("a.txt"), "") << access;
    drive.Write("a.txt", "x");
    char c;
    DWORD done;
    EXPECT_EQ(ReadFile(h, &c, 1, &done, nullptr), access == GENERIC_READ) << access;
    EXPECT_EQ(WriteFile(h, "y", 1, &done, nullptr), access == GENERIC_WRITE) << access;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << access;  // each was refused one
    CloseHandle(h);
  }
}

TEST(CopyFileW, RefusesAFolderOrMissingSource) {
  TempDrive drive;
  MakeFolder(drive.Native("Docs"));
  EXPECT_FALSE(CopyFileW(drive.Path("Docs").c_str(), drive.Path("b").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_FALSE(CopyFileW(drive.Path("none").c_str(), drive.Path("b").c_str(), FALSE));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST(Folders, CreateAndRemove) {
  TempDrive drive;
  EXPECT_TRUE(CreateDirectoryW(drive.Path("WLM\\").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(drive.Path("WLM").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_FALSE(CreateDirectoryW(drive.Path("No\\Sub").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
  drive.Write("WLM/a.txt", "x");
  EXPECT_FALSE(RemoveDirectoryW(drive.Path("WLM").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DIR_NOT_EMPTY});
  EXPECT_FALSE(RemoveDirectoryW(drive.Path("WLM\\a.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_DIRECTORY});
  std::filesystem::remove(drive.Native("WLM/a.txt"));
  EXPECT_TRUE(RemoveDirectoryW(drive.Path("WLM").c_str()));
}

// Windows documents the name as <folder>\<prefix><hex>.TMP; Wine writes the
// hex digits and ".tmp" in lower case. Names are case-insensitive on Windows,
// so either is right there, and the library never depends on the case.
bool IsTempName(const std::string& name, const std::string& folder, const std::string& prefix) {
  const std::regex shape(R"(([0-9A-F]{1,4})\.TMP)", std::regex::icase);
  return name.size() > folder.size() + prefix.size() && name.compare(0, folder.size(), folder) == 0 &&
         name.compare(folder.size(), prefix.size(), prefix) == 0 &&
         std::regex_match(name.substr(folder.size() + prefix.size()), shape);
}

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Hex(UINT n) {
  char hex[16];
  snprintf(hex, sizeof hex, "%X", n);
  return hex;
}

TEST(GetTempFileNameW, CreatesDistinctEmptyFiles) {
  TempDrive drive;
  MakeFolder(drive.Native("Docs"));
  const std::string folder = ToUtf8(drive.Path("Docs\\"));
  std::set<std::string> seen;
  for (const WString& given : {drive.Path("Docs"), drive.Path("Docs\\")}) {
    for (int i = 0; i < 20; ++i) {
      WCHAR name[MAX_PATH];
      UINT n = GetTempFileNameW(given.c_str(), WTEXT("jurTmp"), 0, name);
      ASSERT_NE(n, 0u);
      const std::string text = ToUtf8(name);
      EXPECT_TRUE(IsTempName(text, folder, "jur")) << text;
      EXPECT_EQ(ToUpper(text.substr(folder.size())), "JUR" + Hex(n) + ".TMP") << "the name carries the number";
      EXPECT_TRUE(seen.insert(ToUpper(text)).second) << "names are never reused: " << text;
      const std::string rel = "Docs/" + text.substr(folder.size());
      EXPECT_TRUE(drive.Exists(rel)) << text;
      EXPECT_EQ(drive.Read(rel), "");
      // A name given out and deleted since is not given out again at once
      // (Wine 8 takes the clock afresh each time and may).
      if (!IsWine()) {
        EXPECT_TRUE(DeleteFileW(name));
      }
    }
  }
}

TEST(GetTempFileNameW, WithANumberOnlyFormats) {
  TempDrive drive;
  MakeFolder(drive.Native("Docs"));
  const std::string docs = ToUtf8(drive.Path("Docs\\")), root = ToUtf8(drive.Path());
  WCHAR name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameW(drive.Path("Docs").c_str(), WTEXT("ab"), 0x1A2B, name), 0x1A2Bu);
  EXPECT_EQ(ToUpper(ToUtf8(name)), ToUpper(docs + "ab1A2B.TMP"));
  EXPECT_EQ(GetTempFileNameW(drive.Path().c_str(), nullptr, 0x10, name), 0x10u);
  EXPECT_EQ(ToUpper(ToUtf8(name)), ToUpper(root + "10.TMP"));
  EXPECT_EQ(EntriesIn(drive.Native("Docs")), 0u) << "a given number creates nothing";
}

TEST(GetTempFileNameW, FailsInAMissingFolder) {
  TempDrive drive;
  WCHAR name[MAX_PATH];
  for (UINT unique : {0u, 0x10u}) {
    EXPECT_EQ(GetTempFileNameW(drive.Path("Missing").c_str(), WTEXT("jur"), unique, name), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_DIRECTORY});
  }
}

TEST(FindFirstFileW, ReportsSizeInHalves) {
  const struct {
    uint64_t size;
    DWORD high, low;
  } cases[] = {
      {0, 0, 0},
      {10485760, 0, 10485760},
      {10485761, 0, 10485761},
      {uint64_t{1} << 32, 1, 0},
      {(uint64_t{1} << 32) + 5, 1, 5},
  };
  for (const auto& c : cases) {
    TempDrive drive;
    drive.Write("Docs/big.bin", "");
    std::filesystem::resize_file(drive.Native("Docs/big.bin"), c.size);  // sparse where it can be
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(drive.Path("Docs\\big.bin").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeHigh, c.high) << c.size;
    EXPECT_EQ(data.nFileSizeLow, c.low) << c.size;
    EXPECT_EQ(WString(data.cFileName), WTEXT("big.bin"));
    EXPECT_EQ(data.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL}, 0u);
    EXPECT_TRUE(FindClose(find));
  }
}

TEST(FindFirstFileW, WildcardsAndMisses) {
  TempDrive drive;
  drive.Write("Docs/b.txt", "bb");
  drive.Write("Docs/a.txt", "a");
  drive.Write("Docs/c.doc", "ccc");
  const struct {
    const char* pattern;
    const WCHAR* found;  // null: nothing
    DWORD error;
  } cases[] = {
      {"Docs\\*.txt", WTEXT("a.txt"), 0},  // the first in name order
      {"Docs\\?.doc", WTEXT("c.doc"), 0},
      {"Docs\\*", WTEXT("."), 0},  // a folder lists itself and its parent first
      {"Docs\\*.*", WTEXT("."), 0},
      {"Docs\\.?", WTEXT(".."), 0},
      {"Docs\\[a-z]", nullptr, ERROR_FILE_NOT_FOUND},  // no character classes
      {"Docs\\*.zip", nullptr, ERROR_FILE_NOT_FOUND},
      {"Docs\\none.txt", nullptr, ERROR_FILE_NOT_FOUND},
      {"No\\*.txt", nullptr, ERROR_PATH_NOT_FOUND},
      {"No\\a.txt", nullptr, ERROR_PATH_NOT_FOUND},
      {"Docs\\a.txt\\*", nullptr, IsWine() ? DWORD{ERROR_INVALID_NAME} : DWORD{ERROR_DIRECTORY}},  // in a file
      {"D*\\a.txt", nullptr, ERROR_INVALID_NAME},
  };
  for (const auto& c : cases) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(drive.Path(c.pattern).c_str(), &data);
    if (c.found) {
      ASSERT_NE(find, INVALID_HANDLE_VALUE) << c.pattern;
      EXPECT_EQ(WString(data.cFileName), c.found) << c.pattern;
      FindClose(find);
    } else {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE) << c.pattern;
      EXPECT_EQ(GetLastError(), c.error) << c.pattern;
    }
  }
}

#ifndef _WIN32
// What only the POSIX layer has to take care of: modes, times, links between
// file systems, dot-names and the immutable flag.

TEST(DeleteFileW, RefusesAnImmutableFile) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  ImmutableFile frozen(drive.Native("a.txt"));
  if (!frozen.Active()) GTEST_SKIP() << "chattr +i is not available here";
  EXPECT_FALSE(DeleteFileW(drive.Path("a.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
}

TEST(MoveFileW, CopiesAcrossFileSystems) {
  struct stat shm {}, tmp {};
  if (stat("/dev/shm", &shm) != 0 || stat(std::filesystem::temp_directory_path().c_str(), &tmp) != 0 ||
      shm.st_dev == tmp.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  const char* savedTmp = std::getenv("TMPDIR");
  const std::string saved = savedTmp ? savedTmp : "";
  setenv("TMPDIR", "/dev/shm", 1);
  TempDrive other('V');
  if (savedTmp) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  TempDrive drive;

  drive.Write("a.txt", "moved");
  ASSERT_TRUE(SetFileAttributesW(drive.Path("a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  other.Write("taken.txt", "stays");
  EXPECT_FALSE(MoveFileW(drive.Path("a.txt").c_str(), other.Path("taken.txt").c_str()));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(other.Read("taken.txt"), "stays");

  ASSERT_TRUE(MoveFileW(drive.Path("a.txt").c_str(), other.Path("a.txt").c_str()));
  EXPECT_FALSE(drive.Exists("a.txt"));
  EXPECT_EQ(other.Read("a.txt"), "moved");
  EXPECT_EQ(GetFileAttributesW(other.Path("a.txt").c_str()), FILE_ATTRIBUTE_HIDDEN);
}

TEST(CopyFileW, CopiesDataModeAttributesAndTime) {
  TempDrive drive;
  drive.Write("Docs/a.txt", "payload");
  chmod(drive.Native("Docs/a.txt").c_str(), 0640);
  ASSERT_TRUE(SetFileAttributesW(drive.Path("Docs\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  const struct timespec times[2] = {{1000000000, 0}, {1200000000, 5}};
  utimensat(AT_FDCWD, drive.Native("Docs/a.txt").c_str(), times, 0);

  ASSERT_TRUE(CopyFileW(drive.Path("Docs\\a.txt").c_str(), drive.Path("Docs\\b.txt").c_str(), TRUE));
  EXPECT_EQ(drive.Read("Docs/b.txt"), "payload");
  EXPECT_EQ(ModeOf(drive.Native("Docs/b.txt")), mode_t{0640});
  EXPECT_EQ(GetFileAttributesW(drive.Path("Docs\\b.txt").c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  struct stat st {};
  stat(drive.Native("Docs/b.txt").c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
  EXPECT_EQ(EntriesIn(drive.Native("Docs")), 2u) << "no temporary file is left behind";
}

TEST(CopyFileW, CarriesTheHiddenBitAcrossNames) {
  TempDrive drive;
  drive.Write(".a", "x");
  drive.Write("b", "y");
  ASSERT_TRUE(CopyFileW(drive.Path(".a").c_str(), drive.Path("plain").c_str(), TRUE));
  EXPECT_EQ(GetFileAttributesW(drive.Path("plain").c_str()), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(CopyFileW(drive.Path("b").c_str(), drive.Path(".dotted").c_str(), TRUE));
  EXPECT_EQ(GetFileAttributesW(drive.Path(".dotted").c_str()), FILE_ATTRIBUTE_NORMAL);
}

TEST(FindFirstFileW, ReportsTheWriteTime) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1577836800, 0}};
  utimensat(AT_FDCWD, drive.Native("a.txt").c_str(), times, 0);
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(drive.Path("a.txt").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  const uint64_t ft = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(ft, 132223104000000000ull);
  FindClose(find);
}

#endif  // _WIN32

}  // namespace
