// CFESUtil path splitting and the display tail.
#include <gtest/gtest.h>

#include "platform/wide.h"
#include "util/fesutil.h"

namespace {

using halvex::platform::Widen;

struct SplitCase {
  const char* path;
  const char* directory;
  const char* fileName;
  const char* extension;
  bool rejoins;  // directory + name + extension gives the path back
};

class PathSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(PathSplit, SplitsIntoFolderNameAndExtension) {
  const SplitCase& c = GetParam();
  CFESUtil util;
  WString path = Widen(c.path);
  const WString directory = util.GetDirectory(path);
  const WString fileName = util.GetFileName(path);
  const WString extension = util.GetExtName(path);
  EXPECT_EQ(directory, Widen(c.directory));
  EXPECT_EQ(fileName, Widen(c.fileName));
  EXPECT_EQ(extension, Widen(c.extension));
  EXPECT_EQ(path, Widen(c.path));  // the input is left alone
  if (c.rejoins) {
    EXPECT_EQ(directory + fileName + extension, path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathSplit,
    testing::Values(
        SplitCase{"C:\\Docs\\plan.doc", "C:\\Docs\\", "plan.", "doc", true},
        SplitCase{"C:\\Docs\\plan.final.DOC", "C:\\Docs\\", "plan.final.", "DOC", true},
        SplitCase{"C:\\Docs\\README", "C:\\Docs\\", "README", "", true},
        SplitCase{"C:\\Old.dir\\README", "C:\\Old.dir\\", "README", "", true},
        SplitCase{"C:\\Docs\\", "C:\\Docs\\", "", "", true},
        SplitCase{"plan.doc", "", "plan.", "doc", true},
        SplitCase{"C:\\Docs\\plan.", "C:\\Docs\\", "plan.", "", true},
        SplitCase{"", "", "", "", true},
        SplitCase{"C:\\Docs\\.profile", "C:\\Docs\\", ".", "profile", true},
        SplitCase{"C:plan.doc", "", "C:plan.", "doc", true},
        // Only the extension honours a forward slash.
        SplitCase{"C:\\a/b.d/c", "C:\\", "a/b.", "", false},
        SplitCase{"C:\\Docs/plan.doc", "C:\\", "Docs/plan.", "doc", true},
        SplitCase{"C:/Docs.old/README", "", "C:/Docs.", "", false},
        // The drive is set aside before the extension is looked for.
        SplitCase{".:", "", ".", "", false}));

struct ShortCase {
  size_t length;
  uint32_t maximum;
  size_t expectedLength;  // 0: unchanged
};

class ShortName : public testing::TestWithParam<ShortCase> {};

TEST_P(ShortName, KeepsShortNamesAndShowsTheTailOfLongOnes) {
  const ShortCase& c = GetParam();
  CFESUtil util;
  WString name;
  for (size_t i = 0; i < c.length; ++i) name.push_back(static_cast<WCHAR>(u'a' + i % 26));
  const WString shown = util.ShortFileName(name, c.maximum);
  if (c.expectedLength == 0) {
    EXPECT_EQ(shown, name);
    return;
  }
  ASSERT_EQ(shown.size(), c.expectedLength);
  EXPECT_EQ(shown.substr(0, 3), WTEXT("..."));
  EXPECT_EQ(shown.substr(3), name.substr(name.size() - c.maximum));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortName,
                         testing::Values(ShortCase{29, 28, 0}, ShortCase{28, 28, 0},
                                         ShortCase{30, 28, 31}, ShortCase{40, 28, 31},
                                         ShortCase{0, 28, 0}, ShortCase{1, 0, 0},
                                         ShortCase{2, 0, 3}, ShortCase{300, 0, 3},
                                         ShortCase{10, UINT32_MAX, 0}));

}  // namespace
