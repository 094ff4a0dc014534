// The name mapping: one native name component <-> its library form (see
// ToNativePath in platform/wide.h for the rules).
#include <algorithm>
#include <array>
#include <vector>

#include "platform/posix/internal.h"

namespace halvex::platform::posix {

namespace {

constexpr char32_t kMapBase = 0xF000;
constexpr char32_t kEscapeBase = 0xDC00;  // plus a byte 0x80-0xFF

constexpr char32_t kSuperscripts[] = {0xB9, 0xB2, 0xB3};

bool IsSuperscriptDigit(char32_t c) { return std::find(std::begin(kSuperscripts), std::end(kSuperscripts), c) != std::end(kSuperscripts); }

// Characters Windows refuses anywhere in a name, and DEL, which a stored
// name may not hold.
bool IsRefusedAnywhere(char32_t c) {
  return (c >= 0x01 && c < 0x20) || c == 0x7F || c == u'"' || c == u'*' || c == u':' || c == u'<' ||
         c == u'>' || c == u'?' || c == u'\\' || c == u'|';
}

// Every character that can stand mapped, and so is unmapped on the way back:
// the ones above, a final dot or space, and the last character of a device
// name. Never "/" or NUL.
bool IsMappable(char32_t c) {
  if (IsRefusedAnywhere(c) || c == u'.' || c == u' ' || c == u'$' || IsSuperscriptDigit(c)) return true;
  if (c >= u'0' && c <= u'9') return true;
  switch (c) {
    case u'N': case u'n': case u'L': case u'l': case u'X': case u'x': return true;
  }
  return false;
}

char32_t Upper(char32_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

// Whether base (a name up to its first dot, trailing spaces dropped) opens a
// device on Windows rather than a file.
bool IsDeviceName(const std::vector<char32_t>& base) {
  static constexpr std::array<std::u32string_view, 6> kDevices = {U"CON", U"PRN", U"AUX", U"NUL", U"CONIN$", U"CONOUT$"};
  std::u32string upper;
  for (char32_t c : base) upper += Upper(c);
  if (std::find(kDevices.begin(), kDevices.end(), upper) != kDevices.end()) return true;
  if (upper.size() != 4 || (upper.substr(0, 3) != U"COM" && upper.substr(0, 3) != U"LPT")) return false;
  return (upper[3] >= u'0' && upper[3] <= u'9') || IsSuperscriptDigit(upper[3]);
}

// One piece of a decoded native name: a code point, or a byte that is
// carried as an escape.
struct Piece {
  char32_t value;
  bool escaped;
};

}  // namespace

WString LibraryName(std::string_view native) {
  if (native == "." || native == "..") return WString(native.begin(), native.end());
  std::vector<Piece> pieces;
  for (size_t pos = 0; pos < native.size();) {
    const size_t start = pos;
    std::optional<char32_t> cp = DecodeUtf8(native, pos);
    // A native name holding a mappable U+F0xx itself escapes its bytes, so
    // it does not come back as the character it would stand for.
    if (cp && (*cp & ~char32_t{0xFF}) == kMapBase && IsMappable(*cp - kMapBase)) cp.reset();
    if (!cp) {
      if (pos == start) pos = start + 1;
      for (size_t i = start; i < pos; ++i) pieces.push_back({static_cast<unsigned char>(native[i]), true});
      continue;
    }
    pieces.push_back({*cp, false});
  }
  const auto is = [&](size_t i, char32_t c) { return !pieces[i].escaped && pieces[i].value == c; };
  const auto map = [&](size_t i) { pieces[i].value += kMapBase; };

  // A device name keeps its meaning before any extension and trailing spaces.
  size_t end = 0;
  while (end < pieces.size() && !is(end, u'.')) ++end;
  while (end > 0 && is(end - 1, u' ')) --end;
  std::vector<char32_t> base;
  for (size_t i = 0; i < end && !pieces[i].escaped; ++i) base.push_back(pieces[i].value);
  if (base.size() == end && IsDeviceName(base)) map(end - 1);

  for (size_t i = 0; i < pieces.size(); ++i)
    if (!pieces[i].escaped && IsRefusedAnywhere(pieces[i].value)) map(i);
  if (!pieces.empty() && (is(pieces.size() - 1, u'.') || is(pieces.size() - 1, u' '))) map(pieces.size() - 1);

  WString out;
  for (const Piece& p : pieces) AppendUtf16(out, p.escaped ? kEscapeBase + p.value : p.value);
  return out;
}

std::optional<std::string> NativeName(WStringView name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const char32_t unit = static_cast<uint16_t>(name[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < name.size()) {
      const char32_t low = static_cast<uint16_t>(name[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    // What Windows refuses in a name is refused here too (123), rather than
    // written to the disk as a name no Windows program could open; the
    // mapped U+F0xx forms below are how such native names are reached.
    if (unit == u'/' || (unit != 0x7F && IsRefusedAnywhere(unit)) || unit == 0) return std::nullopt;
    if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
      out += static_cast<char>(unit - kEscapeBase);
    } else if ((unit & ~char32_t{0xFF}) == kMapBase && IsMappable(unit - kMapBase)) {
      AppendUtf8(out, unit - kMapBase);
    } else {
      AppendUtf8(out, unit);  // other lone surrogates (names made on Windows) as WTF-8
    }
  }
  // Mapped dots that would come back as "." or ".." would walk the path.
  if ((out == "." || out == "..") && name != WStringView(WTEXT(".")) && name != WStringView(WTEXT("..")))
    return std::nullopt;
  return out;
}

}  // namespace halvex::platform::posix
