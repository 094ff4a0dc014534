#include <gtest/gtest.h>

#include <functional>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/identity.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "tests/platform/helpers.h"
#include "tests/support/temp_drive.h"

using namespace halvex::test;

namespace {

constexpr DWORD RO = FILE_ATTRIBUTE_READONLY, HID = FILE_ATTRIBUTE_HIDDEN, SYS = FILE_ATTRIBUTE_SYSTEM,
                DIR = FILE_ATTRIBUTE_DIRECTORY, NORMAL = FILE_ATTRIBUTE_NORMAL;

struct DiskCase {
  const char* label;
  const char* name;
  std::function<void(const TempDrive&, const std::string&)> setUp;
  DWORD expected;
};

void ExpectAttributes(const DiskCase& c) {
  TempDrive drive;
  c.setUp(drive, c.name);
  EXPECT_EQ(Attributes(drive.Path(c.name)), c.expected) << c.label;
}

TEST(GetFileAttributesW, ReportsWhatIsOnDisk) {
  const DiskCase cases[] = {
      {"plain", "a.txt", [](auto& d, auto& n) { d.Write(n, "x"); }, NORMAL},
      {"read_only", "a.txt", [](auto& d, auto& n) { d.Write(n, "x"), MakeReadOnly(d.Native(n)); }, RO},
      {"folder", "Docs", [](auto& d, auto& n) { MakeFolder(d.Native(n)); }, DIR},
      {"missing", "nothing.txt", [](auto&, auto&) {}, INVALID_FILE_ATTRIBUTES},
  };
  for (const auto& c : cases) ExpectAttributes(c);
}

TEST(GetFileAttributesW, DotNamesAreHiddenAsWineShowsThem) {
  if (!DotNamesAreHidden()) GTEST_SKIP() << "Windows itself gives a dot-name no meaning";
  const DiskCase cases[] = {
      {"dot_name", ".profile", [](auto& d, auto& n) { d.Write(n, "x"); }, HID},
      {"dot_folder", ".cfg", [](auto& d, auto& n) { MakeFolder(d.Native(n)); }, DIR | HID},
  };
  for (const auto& c : cases) ExpectAttributes(c);
}

TEST(GetFileAttributesW, TellsAMissingFolderFromAMissingFile) {
  TempDrive drive;
  EXPECT_EQ(GetFileAttributesW(drive.Path("a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(GetFileAttributesW(drive.Path("Missing\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(GetFileAttributesW(WTEXT("Q:\\a.txt")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), UnknownDriveError());
}

// Every combination of the three bits set on name reads back as set, and the
// file keeps its content.
void ExpectAttributesRoundTrip(const char* name) {
  const DWORD requests[] = {RO, HID, SYS, RO | HID, HID | SYS, RO | HID | SYS, NORMAL, 0};
  for (DWORD request : requests) {
    TempDrive drive;
    drive.Write(name, "x");
    const WString path = drive.Path(name);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), request)) << name << " " << request;
    const DWORD expected = (request & (RO | HID | SYS)) ? (request & (RO | HID | SYS)) : NORMAL;
    EXPECT_EQ(Attributes(path), expected) << name << " " << request;
    EXPECT_EQ(drive.Read(name), "x");
    SetFileAttributesW(path.c_str(), NORMAL);  // Windows will not remove a read-only file
  }
}

TEST(SetFileAttributesW, RoundTripsOnPlainNames) { ExpectAttributesRoundTrip("a.txt"); }

// What the library does before processing a file: read, clear, restore.
TEST(SetFileAttributesW, ClearAndRestoreKeepsTheFileAsItWas) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  const WString path = drive.Path("a.txt");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), RO | SYS));
  const DWORD before = GetFileAttributesW(path.c_str());
  EXPECT_EQ(Attributes(path), RO | SYS);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), NORMAL));
  EXPECT_EQ(Attributes(path), NORMAL);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), before));
  EXPECT_EQ(GetFileAttributesW(path.c_str()), before);
  SetFileAttributesW(path.c_str(), NORMAL);
}

// Windows keeps a read-only mark on a folder (it only customises the
// folder's view); Wine and the POSIX layer drop it. The library never sets
// it, so only the hidden bit is held to account here.
TEST(SetFileAttributesW, FolderTakesTheHiddenBit) {
  TempDrive drive;
  MakeFolder(drive.Native("Docs"));
  ASSERT_TRUE(SetFileAttributesW(drive.Path("Docs").c_str(), HID | DIR));
  EXPECT_EQ(GetFileAttributesW(drive.Path("Docs").c_str()), DIR | HID);
  ASSERT_TRUE(SetFileAttributesW(drive.Path("Docs").c_str(), NORMAL));
  EXPECT_EQ(GetFileAttributesW(drive.Path("Docs").c_str()), DIR);
}

TEST(SetFileAttributesW, RefusesAMissingFile) {
  TempDrive drive;
  EXPECT_FALSE(SetFileAttributesW(drive.Path("missing.txt").c_str(), NORMAL));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_FALSE(SetFileAttributesW(drive.Path("Missing\\a.txt").c_str(), NORMAL));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

#ifndef _WIN32
// How the POSIX layer keeps what Windows keeps in the file system.

TEST(GetFileAttributesW, ReadsTheStoredDosAttributes) {
  const DiskCase cases[] = {
      {"stored_hidden", "a.txt", [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), "0x2"); }, HID},
      {"stored_system", "a.txt", [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), "0x4"); }, SYS},
      {"stored_other_bits_ignored", "a.txt",
       [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), "0x21"); }, NORMAL},
      {"all", "a.txt",
       [](auto& d, auto& n) {
         d.Write(n, "x"), WriteDosAttrib(d.Native(n), "0x6"), chmod(d.Native(n).c_str(), 0400);
       },
       RO | HID | SYS},
      {"stored_wins_over_dot", ".profile",
       [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), "0x0"); }, NORMAL},
      {"trailing_nul_accepted", "a.txt",
       [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), std::string("0x2\0", 4)); }, HID},
      {"unreadable_value_is_absent", ".x",
       [](auto& d, auto& n) { d.Write(n, "x"), WriteDosAttrib(d.Native(n), "junk"); }, HID},
  };
  for (const auto& c : cases) ExpectAttributes(c);
}

TEST(SetFileAttributesW, RoundTripsOnDotNames) { ExpectAttributesRoundTrip(".profile"); }

TEST(SetFileAttributesW, StoresOnlyWhatTheNameDoesNotSay) {
  const struct {
    const char* name;
    DWORD request;
    std::optional<std::string> stored;
  } cases[] = {
      {"a.txt", HID | SYS, "0x6"},
      {"a.txt", SYS | RO, "0x4"},
      {"a.txt", NORMAL, std::nullopt},
      {".profile", NORMAL, "0x0"},  // or the dot-name would stay hidden
      {".profile", HID, std::nullopt},
      {".profile", SYS, "0x4"},
  };
  for (const auto& c : cases) {
    TempDrive drive;
    drive.Write(c.name, "x");
    WriteDosAttrib(drive.Native(c.name), "0x6");
    ASSERT_TRUE(SetFileAttributesW(drive.Path(c.name).c_str(), c.request));
    EXPECT_EQ(ReadDosAttrib(drive.Native(c.name)), c.stored) << c.name << " " << c.request;
  }
}

TEST(SetFileAttributesW, ClearingReadOnlyGivesBackWriteBitsTheUmaskAllows) {
  const struct {
    mode_t mode, mask, readOnly, writable;
  } cases[] = {
      {0640, 022, 0440, 0640},
      {0644, 002, 0444, 0664},  // others may read but the umask keeps their write
      {0600, 077, 0400, 0600},
      {0444, 0222, 0444, 0644},  // the owner gets write back even so
  };
  for (const auto& c : cases) {
    TempDrive drive;
    ScopedUmask mask(c.mask);
    drive.Write("a.txt", "x");
    chmod(drive.Native("a.txt").c_str(), c.mode);
    ASSERT_TRUE(SetFileAttributesW(drive.Path("a.txt").c_str(), RO));
    EXPECT_EQ(ModeOf(drive.Native("a.txt")), c.readOnly) << std::oct << c.mode;
    ASSERT_TRUE(SetFileAttributesW(drive.Path("a.txt").c_str(), NORMAL));
    EXPECT_EQ(ModeOf(drive.Native("a.txt")), c.writable) << std::oct << c.mode;
  }
}

TEST(SetFileAttributesW, ClearAndRestoreKeepsTheModeOnAnyName) {
  for (const char* name : {"a.txt", ".profile"}) {
    TempDrive drive;
    drive.Write(name, "x");
    const WString path = drive.Path(name);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), RO | SYS));
    const DWORD before = GetFileAttributesW(path.c_str());
    const mode_t mode = ModeOf(drive.Native(name));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), NORMAL));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), NORMAL) << name;
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), before));
    EXPECT_EQ(GetFileAttributesW(path.c_str()), before) << name;
    EXPECT_EQ(ModeOf(drive.Native(name)), mode) << name;
  }
}

TEST(SetFileAttributesW, FolderKeepsItsMode) {
  TempDrive drive;
  mkdir(drive.Native("Docs").c_str(), 0755);
  ASSERT_TRUE(SetFileAttributesW(drive.Path("Docs").c_str(), RO | HID | DIR));
  EXPECT_EQ(GetFileAttributesW(drive.Path("Docs").c_str()), DIR | HID);
  EXPECT_EQ(ModeOf(drive.Native("Docs")), mode_t{0755});
}

TEST(SetFileAttributesW, RefusesWhatMayNotChange) {
  TempDrive drive;
  drive.Write("frozen.txt", "x");
  ImmutableFile frozen(drive.Native("frozen.txt"));
  if (!frozen.Active()) GTEST_SKIP() << "chattr +i is not available here";
  // Even a request that changes nothing is refused: callers use it as a probe.
  EXPECT_FALSE(SetFileAttributesW(drive.Path("frozen.txt").c_str(), NORMAL));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_FALSE(SetFileAttributesW(drive.Path("frozen.txt").c_str(), HID));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
}
#endif  // _WIN32

// Looks a scope remembers never hide a change made through the layer: the
// next look, in the same scope, sees it.
// The whole content through a new handle, or "-" when it cannot be opened.
std::string ReadThroughNewHandle(const WString& file) {
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "-";
  char buffer[16] = {};
  DWORD done = 0;
  ReadFile(h, buffer, sizeof buffer, &done, nullptr);
  CloseHandle(h);
  return std::string(buffer, done);
}

// A look's handle, part read and closed: in a scope, the next open of the
// path for reading may start from its descriptor.
void LookIntoAndClose(const WString& file) {
  HANDLE look = halvex::platform::OpenToLook(file, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(look, INVALID_HANDLE_VALUE);
  char first = 0;
  DWORD done = 0;
  ReadFile(look, &first, 1, &done, nullptr);
  CloseHandle(look);
}

TEST(LookScope, ChangesThroughTheLayerShowAtOnce) {
  struct Case {
    const char* label;
    std::function<void(const WString&)> change;
    DWORD attributes;
    uint64_t size;
    std::string content;
  };
  const auto append = [](const WString& f) {
    HANDLE h = CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_END);
    WriteFile(h, "bc", 2, &written, nullptr);
    CloseHandle(h);
  };
  const std::vector<Case> cases = {
      {"looked at only", [](const WString&) {}, NORMAL, 1, "a"},
      {"made read-only", [](const WString& f) { SetFileAttributesW(f.c_str(), RO); }, RO, 1, "a"},
      {"hidden", [](const WString& f) { SetFileAttributesW(f.c_str(), HID); }, HID, 1, "a"},
      {"written to", append, NORMAL, 3, "abc"},
      {"deleted", [](const WString& f) { DeleteFileW(f.c_str()); }, INVALID_FILE_ATTRIBUTES, 0, "-"},
      {"moved away", [](const WString& f) { MoveFileW(f.c_str(), (f + WTEXT("2")).c_str()); },
       INVALID_FILE_ATTRIBUTES, 0, "-"},
      {"replaced by a folder",
       [](const WString& f) {
         DeleteFileW(f.c_str());
         CreateDirectoryW(f.c_str(), nullptr);
       },
       DIR, 0, "-"},
      {"replaced by another file",
       [](const WString& f) {
         MoveFileW(f.c_str(), (f + WTEXT("2")).c_str());
         HANDLE h = CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
         DWORD written = 0;
         WriteFile(h, "zz", 2, &written, nullptr);
         CloseHandle(h);
       },
       NORMAL, 2, "zz"},
  };
  for (const Case& c : cases) {
    TempDrive drive;
    drive.Write("a.txt", "a");
    const WString file = drive.Path("a.txt");
    halvex::platform::LookScope looks;
    ASSERT_EQ(Attributes(file), NORMAL);
    ASSERT_TRUE(halvex::platform::GetFileIdentity(file.c_str()));
    LookIntoAndClose(file);
    c.change(file);
    EXPECT_EQ(Attributes(file), c.attributes) << c.label;
    const auto identity = halvex::platform::GetFileIdentity(file.c_str());
    if (c.size) {
      EXPECT_EQ(identity ? identity->size : 0, c.size) << c.label;
    }
    EXPECT_EQ(ReadThroughNewHandle(file), c.content) << c.label;
  }
}

#ifndef _WIN32
// A change behind the layer's back shows once the scopes are ended.
TEST(LookScope, EndedScopesLookAgain) {
  TempDrive drive;
  drive.Write("a.txt", "a");
  halvex::platform::LookScope looks;
  ASSERT_EQ(Attributes(drive.Path("a.txt")), NORMAL);
  MakeReadOnly(drive.Native("a.txt"));
  halvex::platform::EndLookScopes();
  EXPECT_EQ(Attributes(drive.Path("a.txt")), RO);
}

// A link looked at through (as a read-only file) is still deleted as a link.
TEST(LookScope, DeletingALinkLookedThroughKeepsItsTarget) {
  TempDrive drive;
  drive.Write("target.txt", "t");
  MakeReadOnly(drive.Native("target.txt"));
  ASSERT_EQ(symlink(drive.Native("target.txt").c_str(), drive.Native("link.txt").c_str()), 0);
  halvex::platform::LookScope looks;
  ASSERT_EQ(Attributes(drive.Path("link.txt")), RO);
  EXPECT_TRUE(DeleteFileW(drive.Path("link.txt").c_str()));
  EXPECT_EQ(Attributes(drive.Path("link.txt")), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(drive.Read("target.txt"), "t");
}

// A handle asked its size again sees what was written by others meanwhile.
TEST(LookScope, ASizeAskedAgainSeesGrowth) {
  TempDrive drive;
  drive.Write("a.txt", "a");
  HANDLE h = CreateFileW(drive.Path("a.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  drive.Write("a.txt", "abcd");
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 4);
  CloseHandle(h);
}
#endif

}  // namespace
