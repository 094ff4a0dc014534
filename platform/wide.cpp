// UTF-16 <-> UTF-8 (WTF-8) conversion, shared by every platform.
//
// WTF-8 is UTF-8 that also carries lone surrogates in their three-byte form,
// so any sequence of UTF-16 code units, valid or not, has exactly one byte
// form and comes back unchanged. A surrogate pair is always written as one
// four-byte sequence; the six-byte spelling of a pair is refused on the way
// back, or two different native names would decode to the same wide name.
#include "platform/wide.h"

#include <cstdint>

namespace halvex::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

// One code point as UTF-8 at out[n] (only counted when out is null).
static void PutUtf8(uint8_t* out, size_t& n, char32_t cp) {
  auto put = [&](char32_t byte) {
    if (out) out[n] = static_cast<uint8_t>(byte);
    ++n;
  };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6)), put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18)), put(0x80 | ((cp >> 12) & 0x3F)), put(0x80 | ((cp >> 6) & 0x3F)), put(0x80 | (cp & 0x3F));
  }
}

// One code point as UTF-16 at out[n] (only counted when out is null).
static void PutUtf16(WCHAR* out, size_t& n, char32_t cp) {
  auto put = [&](char32_t unit) {
    if (out) out[n] = static_cast<WCHAR>(unit);
    ++n;
  };
  if (cp < 0x10000) {
    put(cp);
  } else {
    cp -= 0x10000;
    put(0xD800 + (cp >> 10)), put(0xDC00 + (cp & 0x3FF));
  }
}

void AppendUtf16(WString& out, char32_t cp) {
  WCHAR units[2];
  size_t n = 0;
  PutUtf16(units, n, cp);
  out.append(units, n);
}

namespace {

// Decodes one WTF-8 sequence at text[pos]. Returns the code point and
// advances pos, or returns nothing (pos unchanged) for a malformed sequence:
// a stray continuation byte, a truncated sequence, an overlong form, a value
// above U+10FFFF, or a high surrogate directly followed by a low one.
std::optional<char32_t> DecodeOne(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  size_t length;
  char32_t cp;
  char32_t minimum;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < length) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF) return std::nullopt;
  if (IsHighSurrogate(cp)) {
    // A pair written as two three-byte halves is not WTF-8.
    size_t after = pos + length;
    if (text.size() - after >= 3 && byte(after) == 0xED && byte(after + 1) >= 0xB0 &&
        byte(after + 1) <= 0xBF)
      return std::nullopt;
  }
  pos += length;
  return cp;
}

}  // namespace

std::optional<char32_t> DecodeUtf8(std::string_view text, size_t& pos) {
  size_t at = pos;
  std::optional<char32_t> cp = DecodeOne(text, at);
  if (!cp || (*cp >= 0xD800 && *cp <= 0xDFFF)) return std::nullopt;
  pos = at;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  uint8_t bytes[4];
  size_t n = 0;
  PutUtf8(bytes, n, cp);
  out.append(reinterpret_cast<const char*>(bytes), n);
}

size_t EncodeUtf8(WStringView text, uint8_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = static_cast<uint16_t>(text[i]);
    if (IsHighSurrogate(unit) && i + 1 < text.size()) {
      char32_t low = static_cast<uint16_t>(text[i + 1]);
      if (IsLowSurrogate(low)) {
        PutUtf8(out, n, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    PutUtf8(out, n, unit);  // a lone surrogate keeps its three-byte form
  }
  return n;
}

std::string ToUtf8(WStringView text) {
  std::string out(EncodeUtf8(text, nullptr), '\0');
  EncodeUtf8(text, reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

std::optional<WString> FromUtf8(std::string_view text) {
  WString out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    auto cp = DecodeOne(text, pos);
    if (!cp) return std::nullopt;
    AppendUtf16(out, *cp);
  }
  return out;
}

size_t FromUtf8Into(std::string_view text, WCHAR* out, size_t capacity) {
  // Counted first, so that nothing is written unless all of it fits.
  size_t units = 0;
  for (size_t pos = 0; pos < text.size();) {
    auto cp = DecodeOne(text, pos);
    if (!cp) return 0;
    PutUtf16(nullptr, units, *cp);
  }
  if (!out || capacity <= units) return units + 1;
  size_t n = 0;
  for (size_t pos = 0; pos < text.size();) PutUtf16(out, n, *DecodeOne(text, pos));
  out[n] = 0;
  return units + 1;
}

WString Widen(std::string_view text) {
  WString out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    auto cp = DecodeOne(text, pos);
    if (!cp) {
      cp = kReplacement;
      ++pos;
    }
    AppendUtf16(out, *cp);
  }
  return out;
}

namespace {
// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t Utf8Length(std::string_view s, size_t i) {
  size_t at = i;
  return DecodeUtf8(s, at) ? at - i : 0;
}
}  // namespace

std::string Printable(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    size_t n = Utf8Length(name, i);
    if (n > 1 || (n == 1 && c >= 0x20 && c != 0x7F)) {
      out.append(name.substr(i, n));
      i += n;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      ++i;
    }
  }
  return out;
}

}  // namespace halvex::platform
