// Wide strings: UTF-16 code units on every platform, and their UTF-8 forms.
// Paths are platform/paths.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

// A wide string: UTF-16 code units, WCHAR on every platform.
using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;

namespace halvex::platform {

// UTF-16 -> UTF-8. A lone surrogate is written as WTF-8 (its three-byte
// form), so every wide name survives the round trip.
std::string ToUtf8(WStringView text);
// The same into out, which must hold the length a first call with out null
// returns: for callers that keep the bytes in memory of their own (secure
// memory for passwords).
size_t EncodeUtf8(WStringView text, uint8_t* out);
// UTF-8 (WTF-8) -> UTF-16. Returns nothing for bytes that are not WTF-8.
std::optional<WString> FromUtf8(std::string_view text);
// The same into out, with a final NUL, only when all of it fits in capacity
// units; returns the units it needs with that NUL, 0 for bytes that are not
// WTF-8. Nothing is copied on the way, so a secret lies only where the
// caller put it.
size_t FromUtf8Into(std::string_view text, WCHAR* out, size_t capacity);
// Convenience for literals and messages; invalid bytes become U+FFFD.
WString Widen(std::string_view text);
// Strict UTF-8: the code point at text[pos], advancing pos, or nothing (pos
// unchanged) for a malformed sequence or an encoded surrogate.
std::optional<char32_t> DecodeUtf8(std::string_view text, size_t& pos);
void AppendUtf8(std::string& out, char32_t cp);
void AppendUtf16(WString& out, char32_t cp);
// A name safe to print on a terminal: bytes that are not printable UTF-8
// (control characters, invalid sequences) become \xNN.
std::string Printable(std::string_view name);

}  // namespace halvex::platform
