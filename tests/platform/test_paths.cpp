#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/durable.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "tests/support/temp_drive.h"

using halvex::platform::FromNativePath;
using halvex::platform::ReloadDriveMap;
using halvex::platform::SyncDirectory;
using halvex::platform::ToNativePath;

namespace {

// Installs a drive map for one test and restores the previous one after.
class DriveMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("HALVEX_DRIVES");
    if (old) saved_ = old;
  }
  void TearDown() override {
    if (saved_) setenv("HALVEX_DRIVES", saved_->c_str(), 1);
    else unsetenv("HALVEX_DRIVES");
    ReloadDriveMap();
  }
  static void Use(const char* map) {
    if (map) setenv("HALVEX_DRIVES", map, 1);
    else unsetenv("HALVEX_DRIVES");
    ReloadDriveMap();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(DriveMapTest, ToNativeFollowsTheMap) {
  Use("C=/srv/c;v=/media/vault/;C=/ignored;bad;7=/x;D=relative");
  const struct {
    const char16_t* path;
    const char* native;  // null: refused
  } cases[] = {
      {u"C:\\Docs\\plan.doc", "/srv/c/Docs/plan.doc"},
      {u"c:\\Docs", "/srv/c/Docs"},           // letters are case-insensitive
      {u"C:", "/srv/c"},                      // the drive alone is its root
      {u"C:\\", "/srv/c"},
      {u"V:\\x", "/media/vault/x"},           // trailing "/" of a root dropped
      {u"Z:\\etc\\hosts", "/etc/hosts"},      // Z: is "/" by default
      {u"Z:\\", "/"},
      {u"C:\\a\\..\\b", "/srv/c/a/../b"},     // dots are the caller's business
      {u"C:\\Docs\\", "/srv/c/Docs/"},
      {u"Q:\\x", nullptr},                    // unmapped
      {u"D:\\x", nullptr},                    // a relative root is not a mapping
      {u"C:\\a/b", nullptr},                  // "/" inside a component
      {u"C:\\a:b", nullptr},                  // ":" after the drive
      {u"C:Docs", nullptr},                   // drive-relative
      {u"\\\\server\\share", nullptr},
      {u"plan.doc", nullptr},
      {u"", nullptr},
  };
  for (const auto& c : cases) {
    auto native = ToNativePath(c.path);
    if (c.native) {
      EXPECT_EQ(native, std::optional<std::string>(c.native)) << halvex::platform::ToUtf8(c.path);
    } else {
      EXPECT_FALSE(native.has_value()) << halvex::platform::ToUtf8(c.path);
    }
  }
  EXPECT_FALSE(ToNativePath(WStringView(u"C:\\a\0b", 6)).has_value()) << "an embedded NUL";
}

TEST_F(DriveMapTest, ZCanBeMappedElsewhere) {
  Use("Z=/srv/z");
  EXPECT_EQ(ToNativePath(u"Z:\\x"), std::optional<std::string>("/srv/z/x"));
  Use(nullptr);
  EXPECT_EQ(ToNativePath(u"Z:\\x"), std::optional<std::string>("/x"));
}

TEST_F(DriveMapTest, FromNativeTakesTheLongestMapping) {
  Use("C=/srv;D=/srv/d;V=/media/vault");
  const struct {
    const char* native;
    const char16_t* path;  // null: refused
  } cases[] = {
      {"/srv/d/x", u"D:\\x"},
      {"/srv/dx/y", u"C:\\dx\\y"},           // a mapping contains whole components only
      {"/srv", u"C:\\"},
      {"/srv//a/./b/", u"C:\\a\\.\\b"},      // empty components collapse
      {"/media/vault/x", u"V:\\x"},
      {"/etc/hosts", u"Z:\\etc\\hosts"},
      {"/", u"Z:\\"},
      {"/srv/caf\xC3\xA9", u"C:\\caf\u00E9"},
      {"relative/x", nullptr},
      {"", nullptr},
      {"/srv/a\\b", u"C:\\a\uF05Cb"},       // names Windows refuses are mapped
      {"/srv/a:b.", u"C:\\a\uF03Ab\uF02E"},
      {"/srv/\xFF" "name", u"C:\\\xDCFFname"}, // not UTF-8
  };
  for (const auto& c : cases) {
    auto path = FromNativePath(c.native);
    if (c.path) {
      EXPECT_EQ(path, std::optional<WString>(c.path)) << c.native;
    } else {
      EXPECT_FALSE(path.has_value()) << c.native;
    }
  }
}

// Whatever a stored name holds, its native form is one name in the folder it
// was given: never a separator, NUL, "." or "..".
TEST_F(DriveMapTest, NoMappedNameLeavesItsFolder) {
  Use("C=/srv/c");
  const char16_t* hostile[] = {u"\uF02E", u"\uF02E\uF02E", u".\uF02E", u"\uF02E.", u"\uF02F", u"a\uF05C..\uF05Cb",
                               u"\uF000", u"\xDC2F", u"\xDCAF\xDCAE", u"\xD800", u"\uF03A\uF05C", u"\uF020\uF02E"};
  for (const char16_t* name : hostile) {
    auto native = ToNativePath(WString(u"C:\\x\\") + name);
    if (!native) continue;  // refused: fine
    ASSERT_EQ(native->rfind("/srv/c/x/", 0), 0u) << *native;
    const std::string last = native->substr(9);
    EXPECT_TRUE(last != "." && last != ".." && last.find_first_of(std::string("/\0", 2)) == std::string::npos) << last;
    EXPECT_EQ(ToNativePath(FromNativePath(*native).value_or(WString())), native) << "read back, the same name";
  }
}

TEST(SyncDirectory, SyncsAnExistingFolderOnly) {
  halvex::test::TempDrive drive;
  drive.Write("Docs/a.txt", "x");
  EXPECT_TRUE(SyncDirectory(drive.Path("Docs")));
  EXPECT_FALSE(SyncDirectory(drive.Path("Missing")));
  EXPECT_FALSE(SyncDirectory(drive.Path("Docs\\a.txt")));
}

}  // namespace
