// The path bridge on Windows, where library paths are native paths: only
// the encoding changes (UTF-16 inside, WTF-8 at the host boundary).
#include <optional>
#include <string>
#include <string_view>

#include "platform/durable.h"
#include "platform/looks.h"
#include "platform/paths.h"
#include "platform/permissions.h"
#include "platform/wide.h"

namespace halvex::platform {

namespace {

bool IsSeparator(WCHAR c) { return c == WTEXT('\\') || c == WTEXT('/'); }

bool IsDriveLetter(WCHAR c) {
  return (c >= WTEXT('A') && c <= WTEXT('Z')) || (c >= WTEXT('a') && c <= WTEXT('z'));
}

// "X:\..." or a UNC name "\\server\...". A bare "X:" or "X:name" is relative
// to that drive's current folder, which a library path never is.
bool IsAbsolute(WStringView path) {
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == WTEXT(':') && IsSeparator(path[2]))
    return true;
  return path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

// A ":" after the drive would name an alternate data stream, not a file.
bool HasStreamColon(WStringView path) {
  std::size_t from = (path.size() >= 2 && path[1] == WTEXT(':')) ? 2 : 0;
  return path.find(WTEXT(':'), from) != WStringView::npos;
}

}  // namespace

std::optional<std::string> ToNativePath(WStringView path) {
  if (!IsAbsolute(path) || HasStreamColon(path)) return std::nullopt;
  return ToUtf8(path);
}

std::optional<WString> FromNativePath(std::string_view native) {
  std::optional<WString> wide = FromUtf8(native);
  if (!wide || !IsAbsolute(*wide) || HasStreamColon(*wide)) return std::nullopt;
  // Windows takes either separator; the library splits paths on "\" alone.
  for (WCHAR& c : *wide)
    if (c == WTEXT('/')) c = WTEXT('\\');
  return wide;
}

// Library paths are the user's own paths here.
std::string DisplayPath(WStringView path) { return Printable(ToUtf8(path)); }

// There is no drive map to read: Windows has drive letters of its own.
void ReloadDriveMap() {}

// NTFS journals renames and creations; there is no folder to sync.
bool SyncDirectory(WStringView) { return true; }

// The cache manager writes behind on its own, and keeps streamed data from
// crowding out other memory.
void StartWriteback(HANDLE) {}
void ReleaseReadPages(HANDLE) {}
bool ReleaseWrittenPages(HANDLE, uint64_t) { return true; }

// Files inherit the folder's access control; there are no mode bits.
HANDLE CreatePrivateFile(WStringView path) {
  return CreateFileW(WString(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
}
HANDLE OpenToLook(WStringView path, DWORD share) {
  return CreateFileW(WString(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}
// Windows answers looks from its own cache.
LookScope::LookScope() = default;
LookScope::~LookScope() = default;
void EndLookScopes() {}
HANDLE CreateUnnamedFile(WStringView) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}
bool NameUnnamedFile(HANDLE, WStringView) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}
bool GetPermissions(HANDLE, uint32_t*) { return false; }
bool SetPermissions(HANDLE, uint32_t) { return true; }
bool DescribeOpenFile(HANDLE file, OpenFileFacts* facts) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      !GetFileTime(file, nullptr, nullptr, &facts->written))
    return false;
  facts->size = static_cast<uint64_t>(size.QuadPart);
  facts->hasMode = false;
  return true;
}

}  // namespace halvex::platform
