#include <gtest/gtest.h>

#ifndef _WIN32
#include <linux/magic.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#endif

#include <chrono>
#include <cstring>
#include <utility>

#include "platform/durable.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "tests/platform/helpers.h"
#include "tests/support/temp_drive.h"

using namespace halvex::test;

namespace {

constexpr DWORD R = GENERIC_READ, W = GENERIC_WRITE, RW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;

HANDLE Open(const WString& path, DWORD access, DWORD share, DWORD creation = OPEN_EXISTING) {
  return CreateFileW(path.c_str(), access, share, nullptr, creation, 0, nullptr);
}

// Windows' rule: an open is refused when it refuses another what that one may
// do, or may do what another refuses; an open with no access is never checked.
// Deleting and renaming ask for delete access and share everything.
TEST(CreateFileW, ShareModesFollowWindows) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  const WString a = drive.Path("a.txt"), b = drive.Path("b.txt");
  const auto keepsOut = [](DWORD share, DWORD access) {
    return ((access & R) && !(share & SR)) || ((access & W) && !(share & SW));
  };
  for (DWORD access1 : {DWORD{0}, R, W, RW}) {
    for (DWORD share1 = 0; share1 < 8; ++share1) {
      HANDLE first = Open(a, access1, share1);
      ASSERT_NE(first, INVALID_HANDLE_VALUE);
      for (DWORD access2 : {DWORD{0}, R, W, RW}) {
        for (DWORD share2 = 0; share2 < 8; ++share2) {
          const bool opens = !access1 || !access2 || (!keepsOut(share1, access2) && !keepsOut(share2, access1));
          HANDLE second = Open(a, access2, share2);
          EXPECT_EQ(second != INVALID_HANDLE_VALUE, opens)
              << access1 << "/" << share1 << " then " << access2 << "/" << share2;
          if (second != INVALID_HANDLE_VALUE) CloseHandle(second);
          else EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
        }
      }
      const bool removable = !access1 || (share1 & FILE_SHARE_DELETE);
      const bool moved = MoveFileW(a.c_str(), b.c_str()) && MoveFileW(b.c_str(), a.c_str());
      EXPECT_EQ(moved, removable) << access1 << "/" << share1;
      EXPECT_EQ(DeleteFileW(a.c_str()), removable) << access1 << "/" << share1;
      CloseHandle(first);
      if (removable) drive.Write("a.txt", "x");
    }
  }
}

// A look is refused as a reader would be, and (over POSIX, where it is not
// recorded) keeps nobody out while it lasts.
TEST(CreateFileW, ALookIsRefusedLikeAReaderButKeepsNobodyOut) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  const WString a = drive.Path("a.txt");
  HANDLE writer = Open(a, W, SR);
  HANDLE look = halvex::platform::OpenToLook(a, SR | SW);
  EXPECT_NE(look, INVALID_HANDLE_VALUE) << "let in where a reader is";
  CloseHandle(look);
  CloseHandle(writer);
  writer = Open(a, W, 0);
  EXPECT_EQ(halvex::platform::OpenToLook(a, SR | SW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  CloseHandle(writer);
#ifndef _WIN32
  look = halvex::platform::OpenToLook(a, 0);
  ASSERT_NE(look, INVALID_HANDLE_VALUE);
  writer = Open(a, RW, 0);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "an exclusive open while the look lasts";
  CloseHandle(writer);
  CloseHandle(look);
#endif
}

TEST(CreateFileW, RefusesAFolder) {
  TempDrive drive;
  MakeFolder(drive.Native("Docs"));
  for (DWORD access : {R, W, RW}) {
    EXPECT_EQ(Open(drive.Path("Docs"), access, SR), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  }
  EXPECT_EQ(Open(drive.Path("Docs"), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
}

TEST(CreateFileW, CreationDispositions) {
  const struct {
    DWORD creation;
    bool exists;
    bool opens;
    DWORD error;           // last error afterwards
    const char* content;   // afterwards; null: no file
  } cases[] = {
      {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
      {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
      {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
      {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
      {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
      {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
      {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
      {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
  };
  for (const auto& c : cases) {
    TempDrive drive;
    if (c.exists) drive.Write("a.txt", "old");
    HANDLE h = Open(drive.Path("a.txt"), RW, 0, c.creation);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << c.creation << " " << c.exists;
    EXPECT_EQ(GetLastError(), c.error) << c.creation << " " << c.exists;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(drive.Exists("a.txt"), c.content != nullptr);
    if (c.content) {
      EXPECT_EQ(drive.Read("a.txt"), c.content) << c.creation << " " << c.exists;
    }
  }
}

TEST(CreateFileW, NeverTruncatesAFileItCannotHave) {
  TempDrive drive;
  drive.Write("a.txt", "keep me");
  HANDLE holder = Open(drive.Path("a.txt"), R, SR);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  // Truncating counts as writing, whatever access was asked for (Windows
  // checks an overwrite as a writer; Wine 8 lets a reader empty the file).
  for (auto [access, creation] : {std::pair{W, CREATE_ALWAYS}, {W, TRUNCATE_EXISTING}, {R, CREATE_ALWAYS}}) {
    if (access == R && IsWine()) continue;
    EXPECT_EQ(Open(drive.Path("a.txt"), access, SR, creation), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  }
  CloseHandle(holder);
  EXPECT_EQ(drive.Read("a.txt"), "keep me");
}

TEST(CreateFileW, ReadOnlyFileRefusesWriting) {
  TempDrive drive;
  if (!ReadOnlyRefusesWriting(drive.Native(), drive.Path()))
    GTEST_SKIP() << "Wine run as root writes into read-only files";
  drive.Write("a.txt", "x");
  MakeReadOnly(drive.Native("a.txt"));
  EXPECT_EQ(Open(drive.Path("a.txt"), W, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  HANDLE h = Open(drive.Path("a.txt"), R, SR);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  SetFileAttributesW(drive.Path("a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CreateFileW, ErrorsNameWhatIsMissing) {
  TempDrive drive;
  const struct {
    WString path;
    DWORD error;
  } cases[] = {
      {drive.Path("missing.txt"), ERROR_FILE_NOT_FOUND},
      {drive.Path("NoFolder\\missing.txt"), ERROR_PATH_NOT_FOUND},
      {WTEXT("Q:\\a.txt"), UnknownDriveError()},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Open(c.path, R, SR), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error) << halvex::platform::ToUtf8(c.path);
  }
  EXPECT_EQ(Open(drive.Path("NoFolder\\new.txt"), W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});
}

TEST(Handles, ReadWriteSeekTruncate) {
  TempDrive drive;
  HANDLE h = Open(drive.Path("a.txt"), RW, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  LARGE_INTEGER at{}, pos{};
  at.QuadPart = 5;
  ASSERT_TRUE(SetFilePointerEx(h, at, &pos, FILE_BEGIN));
  EXPECT_EQ(pos.QuadPart, 5);
  ASSERT_TRUE(SetEndOfFile(h));
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 5);
  at.QuadPart = -2;
  ASSERT_TRUE(SetFilePointerEx(h, at, &pos, FILE_END));
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "lo");
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u) << "end of file is success with nothing read";
  at.QuadPart = -100;
  EXPECT_FALSE(SetFilePointerEx(h, at, nullptr, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_NEGATIVE_SEEK});
  EXPECT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  EXPECT_EQ(drive.Read("a.txt"), "hello");
}

TEST(Handles, FileTimesAreHundredsOfNanosecondsSince1601) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  HANDLE h = Open(drive.Path("a.txt"), W, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const uint64_t jan2020 = 132223104000000000ull + 1234567;  // 2020-01-01 00:00:00.1234567 UTC
  const FILETIME write{static_cast<DWORD>(jan2020), static_cast<DWORD>(jan2020 >> 32)};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &write));
  FILETIME back{};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &back));
  EXPECT_EQ(back.dwLowDateTime, write.dwLowDateTime);
  EXPECT_EQ(back.dwHighDateTime, write.dwHighDateTime);
  CloseHandle(h);
#ifndef _WIN32
  struct stat st {};
  stat(drive.Native("a.txt").c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, 1577836800);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
#endif
}

TEST(Handles, NullHandleFailsWithInvalidHandle) {
  DWORD done;
  char c;
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_FALSE(ReadFile(nullptr, &c, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

#ifndef _WIN32
// What only the POSIX layer has to take care of. (Windows reuses the value of
// a closed handle, and INVALID_HANDLE_VALUE names the current process there.)

TEST(Handles, StaleOrForeignHandlesFailWithInvalidHandle) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  HANDLE h = Open(drive.Path("a.txt"), R, SR);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindClose(h)) << "a file handle is not a search";
  EXPECT_TRUE(CloseHandle(h));
  DWORD done;
  char c;
  for (HANDLE bad : {h, INVALID_HANDLE_VALUE, HANDLE{nullptr}}) {
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_FALSE(ReadFile(bad, &c, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  }
}

TEST(CreateFileW, SeesAnOpenInAnotherProcessUntilItEnds) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE h = Open(drive.Path("a.txt"), W, SR);
    (void)!write(ready[1], h == INVALID_HANDLE_VALUE ? "n" : "k", 1);
    pause();
    _exit(0);
  }
  char k;
  ASSERT_EQ(read(ready[0], &k, 1), 1);
  ASSERT_EQ(k, 'k');
  HANDLE reader = Open(drive.Path("a.txt"), R, SR | SW);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "the writer shares reading";
  CloseHandle(reader);
  EXPECT_EQ(Open(drive.Path("a.txt"), R, SR), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  kill(child, SIGKILL);  // the kernel drops what a dead process held
  waitpid(child, nullptr, 0);
  close(ready[0]), close(ready[1]);
  HANDLE h = Open(drive.Path("a.txt"), R, SR);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST(CreateFileW, RefusesAnythingButARegularFileWithoutBlocking) {
  TempDrive drive;
  ASSERT_EQ(mkfifo(drive.Native("pipe").c_str(), 0666), 0);
  mkdir(drive.Native("Docs").c_str(), 0755);
  const auto start = std::chrono::steady_clock::now();
  for (const char* name : {"pipe", "Docs"}) {
    for (DWORD access : {R, W, RW}) {
      EXPECT_EQ(Open(drive.Path(name), access, SR), INVALID_HANDLE_VALUE) << name;
      EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << name;
    }
    EXPECT_EQ(Open(drive.Path(name), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE) << name;
    // A new file is created without a look first; what stood there still
    // gives the error a look would have.
    EXPECT_EQ(Open(drive.Path(name), W, 0, CREATE_NEW), INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << name;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  // Nor does a new file follow a link to where nothing is yet.
  ASSERT_EQ(symlink(drive.Native("elsewhere").c_str(), drive.Native("link").c_str()), 0);
  EXPECT_EQ(Open(drive.Path("link"), W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(drive.Exists("elsewhere"));
}

TEST(CreateFileW, NewFileModeFollowsTheUmask) {
  TempDrive drive;
  ScopedUmask mask(027);
  HANDLE h = Open(drive.Path("a.txt"), W, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(ModeOf(drive.Native("a.txt")), mode_t{0640});
}

// A "/" is a separator on Windows; inside a POSIX name it has no place.
TEST(CreateFileW, RefusesASlashInsideAName) {
  TempDrive drive;
  EXPECT_EQ(Open(drive.Path() + u"a/b.txt", R, SR), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_NAME});
}

// Pages of [from, to) of a file that are in memory.
size_t ResidentPages(const std::string& native, size_t from, size_t to) {
  int fd = open(native.c_str(), O_RDONLY);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, to, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return SIZE_MAX;
  std::vector<unsigned char> in((to + page - 1) / page);
  size_t count = SIZE_MAX;
  if (mincore(map, to, in.data()) == 0) {
    count = 0;
    for (size_t i = from / page; i < in.size(); ++i) count += in[i] & 1;
  }
  munmap(map, to);
  return count;
}

// A file streamed through once leaves little of itself in memory: written
// pages go once on disk, except the newest, and read ones once read. The
// data itself stays whole.
TEST(PageCacheHints, StreamedPagesGoAndTheDataStays) {
  TempDrive drive;
  struct statfs fs{};
  ASSERT_EQ(statfs(drive.Native().c_str(), &fs), 0);
  if (fs.f_type == TMPFS_MAGIC) GTEST_SKIP() << "tmpfs keeps every page in memory";
  constexpr size_t kMiB = 1 << 20, kSize = 16 * kMiB, kTail = 4 * kMiB;
  std::string content(kSize, '\0');
  for (size_t i = 0; i < kSize; ++i) content[i] = static_cast<char>(i * 131 >> 7);
  const std::string native = drive.Native("big.bin");

  HANDLE out = Open(drive.Path("big.bin"), W, 0, CREATE_NEW);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out, content.data(), static_cast<DWORD>(kSize), &written, nullptr));
  SetLastError(ERROR_FILE_EXISTS);
  ASSERT_TRUE(halvex::platform::ReleaseWrittenPages(out, kTail));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_EXISTS}) << "the last error is left alone";
  EXPECT_EQ(ResidentPages(native, 0, kSize - kTail), 0u);
  EXPECT_GT(ResidentPages(native, kSize - kTail, kSize), 0u) << "the newest pages are kept";
  EXPECT_TRUE(halvex::platform::ReleaseWrittenPages(out, kSize)) << "nothing old enough: nothing to do";
  CloseHandle(out);

  HANDLE in = Open(drive.Path("big.bin"), R, SR);
  ASSERT_NE(in, INVALID_HANDLE_VALUE);
  std::string back(kSize, '\0');
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(in, back.data(), static_cast<DWORD>(kSize / 2), &read, nullptr));
  halvex::platform::ReleaseReadPages(in);
  EXPECT_EQ(ResidentPages(native, 0, kSize / 2), 0u);
  ASSERT_TRUE(ReadFile(in, back.data() + kSize / 2, static_cast<DWORD>(kSize / 2), &read, nullptr));
  CloseHandle(in);
  EXPECT_TRUE(back == content);
}
#endif  // _WIN32

}  // namespace
