// Wide strings and the bridge between the library's Windows paths and the
// host system's own names.
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

// Makes a rename or creation inside folder durable (fsync of the folder on
// POSIX; nothing to do on Windows, where the file system journals it).
bool SyncDirectory(WStringView folder);

// Asks the system to start writing an open file's changed data to disk now,
// without waiting, so that a final flush has less left to do. Only a hint:
// nothing happens where there is no such call (Windows), and the last error
// is left alone.
void StartWriteback(HANDLE file);

// Lets the system drop the cached pages of what an open file held before its
// current position: data streamed through once and not wanted again soon,
// which would otherwise push other memory out. Only a hint; the last error is
// left alone.
void ReleaseReadPages(HANDLE file);

// Waits until what was written to an open file before its last keepTail bytes
// is on disk, then lets the system drop those cached pages. Returns FALSE with
// the last error set when writing that data failed: the error is reported
// here, and a later flush of the file would not report it again.
bool ReleaseWrittenPages(HANDLE file, uint64_t keepTail);

// Creates path for writing as CreateFileW(GENERIC_WRITE, no sharing,
// CREATE_NEW) does, private to its owner from the start: mode 0600 on POSIX,
// the folder's inherited access on Windows.
HANDLE CreatePrivateFile(WStringView path);

// Gives the file that file (made by CreatePrivateFile, which shares nothing)
// holds the name to, as MoveFileW(from, to) would once file is closed: never
// replacing a file, failing with 183 then. No other open can hold the file,
// so none is looked for; file stays open. POSIX only: Windows renames the
// closed file.
#ifndef _WIN32
bool RenameHeldFile(HANDLE file, WStringView from, WStringView to);
#endif

// A new file in folder that has no name yet, open for writing as
// CreatePrivateFile makes it (owner only, sharing nothing). It appears only
// once NameUnnamedFile names it, and goes with its handle otherwise, even when
// the process dies, so an unfinished output never stands in a folder; and the
// folder gets one change per file fewer than with a temporary name. Gives
// INVALID_HANDLE_VALUE where the system cannot make one (Windows, a file
// system without such files): the caller then makes a named one.
HANDLE CreateUnnamedFile(WStringView folder);
// Gives the file of CreateUnnamedFile the name to, never replacing a file
// (183 then); file stays open, but keeps nobody out once named: name it
// complete, and close it.
bool NameUnnamedFile(HANDLE file, WStringView to);

// Opens path for reading as CreateFileW(GENERIC_READ, share, OPEN_EXISTING)
// does, refused by the same opens, but without recording the open, so it
// keeps nobody out: for a look at a file whose handle is closed again at once.
// CreateFileW itself on Windows.
HANDLE OpenToLook(WStringView path, DWORD share);

// A short run of checks on one file (is it there, may it be opened, may it
// change, what is in its first bytes, which file is it) looks at the same
// path again and again. While a LookScope lives on a thread, its looks at a
// path's type, mode, times and stored attributes are answered from the first
// one, until this process changes any file through this layer, which makes
// them look afresh. What another program changes in that moment is seen as
// checks made a moment earlier would have seen it, so a scope never spans a
// question or the cipher's work past its first progress report. Within it, a
// look's handle (OpenToLook) that is closed leaves its descriptor for the
// next open of the same path for reading. Nothing on Windows.
class LookScope {
 public:
  LookScope();
  ~LookScope();
  LookScope(const LookScope&) = delete;
  LookScope& operator=(const LookScope&) = delete;
};
// Ends the scopes open on this thread: until the last of them closes, every
// look goes to the disk again. Called before anything that may change files
// behind the layer's back or take long (a question, the cipher's work).
void EndLookScopes();

// The permission bits (at most 0777) of an open file. False on Windows, whose
// files have none: the library handles their attributes on their own.
bool GetPermissions(HANDLE file, uint32_t* mode);
// Sets them (FALSE with the last error set on failure); nothing to do on Windows.
bool SetPermissions(HANDLE file, uint32_t mode);

// An open file's size, last write time and, where files have them, its
// permission bits (*hasMode false on Windows), from one look where the system
// allows. False with the last error set when the file cannot be looked at.
struct OpenFileFacts {
  uint64_t size = 0;
  FILETIME written{};
  uint32_t mode = 0;
  bool hasMode = false;
};
bool DescribeOpenFile(HANDLE file, OpenFileFacts* facts);

}  // namespace halvex::platform
