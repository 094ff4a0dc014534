#include <gtest/gtest.h>

#include "platform/wide.h"

using halvex::platform::FromUtf8;
using halvex::platform::FromUtf8Into;
using halvex::platform::ToUtf8;
using halvex::platform::Widen;

namespace {

struct Conversion {
  const char* label;
  WString wide;
  std::string utf8;
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.label; }

class WideRoundTrip : public ::testing::TestWithParam<Conversion> {};

TEST_P(WideRoundTrip, EncodesAndDecodesBack) {
  const Conversion& c = GetParam();
  EXPECT_EQ(ToUtf8(c.wide), c.utf8);
  auto back = FromUtf8(c.utf8);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, c.wide);
  WString into(c.wide.size() + 1, u'#');  // into a caller's buffer: written only whole, with its NUL
  EXPECT_EQ(FromUtf8Into(c.utf8, into.data(), into.size() - 1), into.size());
  EXPECT_EQ(into[0], u'#') << "nothing written when it does not fit";
  EXPECT_EQ(FromUtf8Into(c.utf8, into.data(), into.size()), into.size());
  EXPECT_EQ(into, c.wide + WCHAR{0});
}

WString Units(std::initializer_list<unsigned> units) {
  WString s;
  for (unsigned u : units) s += static_cast<WCHAR>(u);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WideRoundTrip,
    ::testing::Values(Conversion{"empty", WString(), ""},
                      Conversion{"ascii", WTEXT("plan.doc"), "plan.doc"},
                      Conversion{"two_bytes", Units({0xE9}), "\xC3\xA9"},
                      Conversion{"three_bytes", Units({0x20AC}), "\xE2\x82\xAC"},
                      Conversion{"last_bmp", Units({0xFFFF}), "\xEF\xBF\xBF"},
                      Conversion{"surrogate_pair", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
                      Conversion{"highest_pair", Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
                      Conversion{"lone_high", Units({'a', 0xD800, 'b'}), "a\xED\xA0\x80" "b"},
                      Conversion{"lone_low", Units({0xDC00}), "\xED\xB0\x80"},
                      Conversion{"high_at_end", Units({'x', 0xDBFF}), "x\xED\xAF\xBF"},
                      Conversion{"low_then_high", Units({0xDC00, 0xD800}), "\xED\xB0\x80\xED\xA0\x80"},
                      Conversion{"embedded_nul", Units({'a', 0, 'b'}), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FromUtf8, RefusesBytesThatAreNotWtf8) {
  const char* cases[] = {
      "\x80",                      // stray continuation byte
      "\xE2\x82",                  // truncated sequence
      "\xC0\xAF",                  // overlong "/"
      "\xE0\x80\xAF",              // overlong, three bytes
      "\xF0\x80\x80\xAF",          // overlong, four bytes
      "\xF4\x90\x80\x80",          // above U+10FFFF
      "\xFF",                      // never a lead byte
      "\xED\xA0\xBD\xED\xB8\x80",  // a pair as two halves: only the four-byte form is valid
      "ok\xC3",                    // truncated at the end
  };
  for (const char* bytes : cases)
    EXPECT_TRUE(!FromUtf8(bytes) && FromUtf8Into(bytes, nullptr, 0) == 0) << ::testing::PrintToString(bytes);
}

TEST(Widen, ReplacesInvalidBytes) {
  EXPECT_EQ(Widen("a\xFF" "b"), Units({'a', 0xFFFD, 'b'}));
  EXPECT_EQ(Widen("C:\\Docs"), WTEXT("C:\\Docs"));
}

}  // namespace
