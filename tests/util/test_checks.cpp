// CFESUtil file checks against real files on a temporary drive.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "platform/wide.h"
#include "tests/fakes/fakes.h"
#include "tests/support/immutable.h"
#include "tests/support/temp_drive.h"
#include "util/fesutil.h"

namespace {

using halvex::platform::ToUtf8;
using halvex::platform::Widen;
namespace fakes = halvex::fakes;

class Checks : public testing::Test {
 protected:
  Checks() {
    fakes::Reset();
    drive_.Write("Docs/plan.doc", "plan");
  }
  ~Checks() override { fakes::Reset(); }

  WString Path(const std::string& rel) { return drive_.Path(rel); }

  // A library path of exactly `length` characters: <root>L\aaa...a.txt
  WString PathOfLength(size_t length) {
    return Path("L\\" + std::string(length - Path("").size() - 2 - 4, 'a') + ".txt");
  }
  std::string RelOf(const WString& path) { return ToUtf8(path.substr(Path("").size())); }

  halvex::test::TempDrive drive_;
  CFESUtil util_;
};

struct ExistCase {
  const char* name;
  const char* rel;  // nullptr: the empty path
  int32_t isFolderOrUnreadable;
  int32_t exists;
  uint32_t verdict;
};

class Existence : public Checks, public testing::WithParamInterface<ExistCase> {};

TEST_P(Existence, FoldsMissingAndFoldersIntoNoFile) {
  const ExistCase& c = GetParam();
  const WString path = c.rel ? Path(c.rel) : WString();
  EXPECT_EQ(util_.ChkDirectoryExist(path.c_str()), c.isFolderOrUnreadable);
  EXPECT_EQ(util_.ChkFileExist(path.c_str()), c.exists);
  EXPECT_EQ(static_cast<uint32_t>(util_.CheckFileProcessable(path.c_str())), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Existence,
    testing::Values(ExistCase{"File", "Docs\\plan.doc", 0, 1, FES_OK},
                    ExistCase{"MissingFile", "Docs\\missing.doc", 1, 0, FES_FILE_NOT_FOUND},
                    ExistCase{"Folder", "Docs", 1, 0, FES_FILE_NOT_FOUND},
                    ExistCase{"FolderWithBackslash", "Docs\\", 1, 0, FES_FILE_NOT_FOUND},
                    ExistCase{"EmptyPath", nullptr, 1, 0, FES_FILE_NOT_FOUND},
                    ExistCase{"MissingFolder", "Nowhere\\plan.doc", 1, 0, FES_FILE_NOT_FOUND}),
    [](const testing::TestParamInfo<ExistCase>& info) { return info.param.name; });

TEST_F(Checks, NullPathIsNoFile) {
  EXPECT_EQ(util_.ChkFileExist(nullptr), 0);
  EXPECT_EQ(util_.CheckFileProcessable(nullptr), FES_FILE_NOT_FOUND);
  EXPECT_EQ(util_.CheckIsHiddenFile(nullptr), 0);
}

struct LengthCase {
  size_t length;
  bool create;
  uint32_t verdict;
};

class PathLength : public Checks, public testing::WithParamInterface<LengthCase> {};

TEST_P(PathLength, LongPathsAreRefusedOnlyWhenTheFileExists) {
  const WString path = PathOfLength(GetParam().length);
  ASSERT_EQ(path.size(), GetParam().length);
  if (GetParam().create) drive_.Write(RelOf(path), "x");
  EXPECT_EQ(static_cast<uint32_t>(util_.CheckFileProcessable(path.c_str())), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PathLength,
                         testing::Values(LengthCase{245, true, FES_OK},
                                         LengthCase{246, true, FES_PATH_TOO_LONG},
                                         LengthCase{250, true, FES_PATH_TOO_LONG},
                                         LengthCase{250, false, FES_FILE_NOT_FOUND}));

struct AttributeCase {
  const char* name;
  const char* rel;
  DWORD set;  // 0: leave as created
  int32_t hidden;
  int32_t system;
};

class Attributes : public Checks, public testing::WithParamInterface<AttributeCase> {};

TEST_P(Attributes, SurviveTheWriteProbe) {
  const AttributeCase& c = GetParam();
  drive_.Write(c.rel, "content");
  const WString path = Path(c.rel);
  if (c.set && !SetFileAttributesW(path.c_str(), c.set)) {
    GTEST_SKIP() << "cannot set attributes " << c.set << " here (error " << GetLastError()
                 << "): user extended attributes unsupported?";
  }
  const DWORD before = GetFileAttributesW(path.c_str());
  EXPECT_EQ(util_.CheckIsHiddenFile(path.c_str()), c.hidden);
  EXPECT_EQ(util_.CheckIsSystemFile(path.c_str()), c.system);
  const CFESUtil::SystemHidden both = util_.CheckIsSystemOrHiddenFile(path.c_str());
  EXPECT_EQ(both.hidden, c.hidden != 0);
  EXPECT_EQ(both.system, c.system != 0);
  EXPECT_EQ(util_.CheckFileProcessable(path.c_str()), FES_OK);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), before);
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Attributes,
    testing::Values(
        AttributeCase{"Plain", "Docs\\data.bin", 0, 0, 0},
        AttributeCase{"ReadOnly", "Docs\\data.bin", FILE_ATTRIBUTE_READONLY, 0, 0},
        AttributeCase{"Hidden", "Docs\\data.bin", FILE_ATTRIBUTE_HIDDEN, 1, 0},
        AttributeCase{"System", "Docs\\data.bin", FILE_ATTRIBUTE_SYSTEM, 0, 1},
        AttributeCase{"AllThree", "Docs\\data.bin",
                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 1, 1},
        AttributeCase{"DotName", "Docs\\.profile", 0, 1, 0}),
    [](const testing::TestParamInfo<AttributeCase>& info) { return info.param.name; });

TEST_F(Checks, AttributeTestsAnswerNoForMissingFiles) {
  for (const char* rel : {"Docs\\missing.doc", "Nowhere\\x"}) {
    EXPECT_EQ(util_.CheckIsHiddenFile(Path(rel).c_str()), 0) << rel;
    EXPECT_EQ(util_.CheckIsSystemFile(Path(rel).c_str()), 0) << rel;
  }
}

TEST_F(Checks, FileHeldElsewhereExistsButIsInUse) {
  const WString path = Path("Docs\\plan.doc");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(util_.ChkFileExist(path.c_str()), 1);
  EXPECT_EQ(util_.CheckFileProcessable(path.c_str()), FES_FILE_IN_USE);
  CloseHandle(held);
  EXPECT_EQ(util_.CheckFileProcessable(path.c_str()), FES_OK);
}

#ifndef _WIN32
using halvex::test::SetImmutable;

TEST_F(Checks, FileWhoseAttributesMayNotChangeIsRefused) {
  // Read-only, so the write probe has something to change.
  const WString path = Path("Docs\\plan.doc");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  const std::string native = drive_.Native("Docs/plan.doc");
  if (!SetImmutable(native, true)) {
    GTEST_SKIP() << "cannot make a file immutable here (no CAP_LINUX_IMMUTABLE, or tmpfs)";
  }
  const tagFES_STATUS verdict = util_.CheckFileProcessable(path.c_str());
  const int32_t exists = util_.ChkFileExist(path.c_str());
  SetImmutable(native, false);
  EXPECT_EQ(verdict, FES_ACCESS_DENIED);
  EXPECT_EQ(exists, 1);
}
#endif  // _WIN32

struct SizeCase {
  const char* name;
  const char* rel;        // file to look up
  uint64_t bytes;         // size of C:\Docs\sized.bin, made sparse
  int32_t large;
  int32_t veryLarge;
};

class FileSize : public Checks, public testing::WithParamInterface<SizeCase> {};

TEST_P(FileSize, FlagsLargeAndVeryLargeFiles) {
  const SizeCase& c = GetParam();
  drive_.Write("Docs/sized.bin", "");
  std::filesystem::resize_file(drive_.Native("Docs/sized.bin"), c.bytes);
  int32_t large = 7, veryLarge = 7;
  util_.ChkFileSize(Path(c.rel).c_str(), &large, &veryLarge);
  EXPECT_EQ(large, c.large);
  EXPECT_EQ(veryLarge, c.veryLarge);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FileSize,
    testing::Values(SizeCase{"Empty", "Docs\\sized.bin", 0, 0, 0},
                    SizeCase{"TenMiB", "Docs\\sized.bin", 10485760, 0, 0},
                    SizeCase{"TenMiBAndOne", "Docs\\sized.bin", 10485761, 1, 0},
                    SizeCase{"JustUnderFourGiB", "Docs\\sized.bin", 0xFFFFFFFFull, 1, 0},
                    SizeCase{"FourGiB", "Docs\\sized.bin", 0x100000000ull, 1, 1},
                    SizeCase{"Missing", "Docs\\missing.bin", 0x100000000ull, 0, 0},
                    // Wildcards would report whichever file matched first.
                    SizeCase{"Star", "Docs\\*.bin", 0x100000000ull, 0, 0},
                    SizeCase{"Question", "Docs\\sized.bi?", 0x100000000ull, 0, 0}),
    [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST_F(Checks, SelfExtractorAsksTheCipherLibrary) {
  const WString sfx = Path("Docs\\setup.exe");
  fakes::script().isSelfExtracting = [&](const WString& path) { return path == sfx; };
  EXPECT_EQ(util_.ChkIsSelfExtractorFile(sfx.c_str()), 1);
  EXPECT_EQ(util_.ChkIsSelfExtractorFile(Path("Docs\\plan.doc").c_str()), 0);
  EXPECT_EQ(fakes::CountOf("ZQCA_CheckSelfExtractEncryptedFile"), 2u);
}

}  // namespace
