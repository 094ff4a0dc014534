// The bridge between the library's Windows paths and the host system's own
// names: the drive map and the name mapping.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/wide.h"

namespace halvex::platform {

// The native form of a library path. On POSIX: "X:\a\b" -> the directory the
// drive map gives X plus "/a/b" (HALVEX_DRIVES, e.g. "C=/srv/c;V=/media/vault";
// "Z:" is "/" unless mapped otherwise), each name unmapped (see below). A path
// without a mapped drive letter, holding a "/", NUL or a character Windows
// refuses in a name (control characters and " * : < > ? |) inside a name, or a
// name that would become "." or ".." only once unmapped, gives nothing. On
// Windows: the path itself, as UTF-8.
//
// The name mapping on POSIX, so that every native name has a library form
// and comes back byte for byte:
// - a character Windows refuses in a name (U+0001-U+001F and
//   " * : < > ? \ |), and U+007F, which a stored name may not hold, is
//   U+F000 plus the character (as Wine does for the same problem);
// - so is a final dot or space (Windows would strip it), and the last
//   character of a device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9,
//   LPT0-9 and the superscript 1-3 forms, before any extension);
// - a byte that is not part of valid UTF-8 is the lone surrogate U+DC00 plus
//   the byte (U+DC80-U+DCFF), as surrogateescape does;
// - a native name that already holds one of those U+F0xx characters has
//   their bytes escaped that way, so it does not read back as the mapped
//   character.
// On the way back each U+F0xx of the mapped set gives its character and each
// U+DC80-U+DCFF its byte, anywhere in a name; no mapped character gives "/"
// or NUL. Other lone surrogates (names made on Windows) are written as WTF-8.
std::optional<std::string> ToNativePath(WStringView path);
// The library's form of a native absolute path: the longest drive mapping
// that contains it, each name below it mapped as above. Gives nothing for a
// relative path.
std::optional<WString> FromNativePath(std::string_view native);
// A library path (or the "..." tail the library shows) as the user's system
// names it, for display: the native path, printable (see Printable).
std::string DisplayPath(WStringView path);

// Re-read HALVEX_DRIVES (tests change the map between cases).
void ReloadDriveMap();

}  // namespace halvex::platform
