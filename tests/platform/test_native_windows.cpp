// Library paths <-> native names in the Windows build: the same path, in
// WTF-8 at the host boundary; relative names and stream names refused.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/paths.h"
#include "platform/wide.h"

using halvex::platform::FromNativePath;
using halvex::platform::ToNativePath;

namespace {

struct NativeCase {
  const char* label;
  WString library;                    // the library's form
  std::optional<std::string> native;  // nothing: refused
};

void PrintTo(const NativeCase& c, std::ostream* os) { *os << c.label; }

class ToNative : public ::testing::TestWithParam<NativeCase> {};

TEST_P(ToNative, GivesThePathInUtf8OrNothing) {
  EXPECT_EQ(ToNativePath(GetParam().library), GetParam().native);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToNative,
    ::testing::Values(
        NativeCase{"drive_path", WTEXT("C:\\Docs\\plan.doc"), "C:\\Docs\\plan.doc"},
        NativeCase{"drive_root", WTEXT("V:\\"), "V:\\"},
        NativeCase{"unc", WTEXT("\\\\server\\share\\a.txt"), "\\\\server\\share\\a.txt"},
        NativeCase{"non_ascii", WTEXT("C:\\caf\u00e9.doc"), "C:\\caf\xC3\xA9.doc"},
        NativeCase{"lone_surrogate_as_wtf8", WString(WTEXT("C:\\")) + static_cast<WCHAR>(0xD800),
                   "C:\\\xED\xA0\x80"},
        NativeCase{"relative", WTEXT("Docs\\plan.doc"), std::nullopt},
        NativeCase{"drive_relative", WTEXT("C:plan.doc"), std::nullopt},
        NativeCase{"empty", WString(), std::nullopt},
        NativeCase{"stream_name", WTEXT("C:\\plan.doc:secret"), std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

struct FromCase {
  const char* label;
  std::string native;
  std::optional<WString> library;
};

void PrintTo(const FromCase& c, std::ostream* os) { *os << c.label; }

class FromNative : public ::testing::TestWithParam<FromCase> {};

TEST_P(FromNative, GivesTheLibraryFormOrNothing) {
  EXPECT_EQ(FromNativePath(GetParam().native), GetParam().library);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FromNative,
    ::testing::Values(
        FromCase{"backslashes", "C:\\Docs\\plan.doc", WString(WTEXT("C:\\Docs\\plan.doc"))},
        // The library splits paths on "\" alone.
        FromCase{"forward_slashes", "C:/Docs/plan.doc", WString(WTEXT("C:\\Docs\\plan.doc"))},
        FromCase{"unc_forward", "//server/share/a", WString(WTEXT("\\\\server\\share\\a"))},
        FromCase{"not_utf8", "C:\\\xFF.doc", std::nullopt},
        FromCase{"relative", "plan.doc", std::nullopt},
        FromCase{"rooted_without_drive", "\\Docs\\plan.doc", std::nullopt},
        FromCase{"stream_name", "C:\\plan.doc:secret", std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(NativeRoundTrip, EveryAcceptedPathComesBackUnchanged) {
  const WString paths[] = {WTEXT("C:\\Docs\\plan.doc"), WTEXT("\\\\server\\share\\x y.txt"),
                           WString(WTEXT("D:\\")) + static_cast<WCHAR>(0xDC00) + WTEXT(".bin")};
  for (const WString& path : paths) {
    auto native = ToNativePath(path);
    ASSERT_TRUE(native.has_value());
    EXPECT_EQ(FromNativePath(*native), path);
  }
}

}  // namespace
