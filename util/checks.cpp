// CFESUtil file checks: existence, size, attributes, self-extraction, and
// whether the engine may process a file.
#include <string>

#include "platform/looks.h"
#include "platform/wide.h"
#include "platform/win32.h"
#include "suite/zqca.h"
#include "util/fesutil.h"

namespace {

constexpr DWORD kLargeFileBytes = 0xA00000;  // 10 MiB; exactly this is not large
constexpr DWORD kReparsePoint = 0x400;        // a link or another reparse point (Windows)

const WCHAR* OrEmpty(const WCHAR* path) { return path ? path : WTEXT(""); }

bool HasWildcard(const WCHAR* path) {
  WStringView text(path);
  return text.find_first_of(WStringView(WTEXT("*?"))) != WStringView::npos;
}

// The attribute bit, or false when the attributes cannot be read.
bool HasAttribute(const WCHAR* path, DWORD bit) {
  DWORD attributes = GetFileAttributesW(OrEmpty(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & bit) != 0;
}

// Opens and closes at once, so the open need not be recorded against others;
// the error of a failed open is left in GetLastError.
bool CanOpenForReading(const WCHAR* path, DWORD shareMode) {
  HANDLE handle = halvex::platform::OpenToLook(path, shareMode);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// ChkFileExist's answer, with the attributes read on the way. Attributes that
// were read and name no folder are those of a file that is there: an open
// would only fail with "file not found" if it vanished in between, so the
// exclusive open is made only where the attributes leave the answer open (a
// link, whose target may be missing).
bool ExistsAsFile(const WCHAR* path, DWORD& attributes) {
  // On the raw value: unreadable attributes (all bits set) count as a folder,
  // which is how a missing path comes out as "no file".
  attributes = GetFileAttributesW(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  if (!(attributes & kReparsePoint)) return true;
  if (CanOpenForReading(path, 0)) return true;
  // Held by another program, access denied and the like: it is there.
  return GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

int32_t CFESUtil::ChkDirectoryExist(const WCHAR* path) {
  // On the raw value: unreadable attributes (all bits set) count as a folder,
  // which is how ChkFileExist turns a missing path into "no file".
  DWORD attributes = GetFileAttributesW(OrEmpty(path));
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int32_t CFESUtil::ChkFileExist(const WCHAR* path) {
  DWORD attributes = 0;
  return ExistsAsFile(OrEmpty(path), attributes) ? 1 : 0;
}

void CFESUtil::ChkFileSize(const WCHAR* path, int32_t* large, int32_t* veryLarge) {
  if (large) *large = 0;
  if (veryLarge) *veryLarge = 0;
  path = OrEmpty(path);
  // The directory search would take these as a pattern and report the size
  // of whatever file matched first.
  if (HasWildcard(path)) return;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path, &data);
  if (find == INVALID_HANDLE_VALUE) return;
  if (data.nFileSizeHigh != 0) {
    if (large) *large = 1;
    if (veryLarge) *veryLarge = 1;
  } else if (data.nFileSizeLow > kLargeFileBytes) {
    if (large) *large = 1;
  }
  FindClose(find);
}

int32_t CFESUtil::ChkIsSelfExtractorFile(const WCHAR* path) {
  return ZQCA_CheckSelfExtractEncryptedFile(OrEmpty(path)) ? 1 : 0;
}

int32_t CFESUtil::CheckIsSystemFile(const WCHAR* path) {
  return HasAttribute(path, FILE_ATTRIBUTE_SYSTEM) ? 1 : 0;
}

int32_t CFESUtil::CheckIsHiddenFile(const WCHAR* path) {
  return HasAttribute(path, FILE_ATTRIBUTE_HIDDEN) ? 1 : 0;
}

CFESUtil::SystemHidden CFESUtil::CheckIsSystemOrHiddenFile(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(OrEmpty(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  return {(attributes & FILE_ATTRIBUTE_SYSTEM) != 0, (attributes & FILE_ATTRIBUTE_HIDDEN) != 0};
}

tagFES_STATUS CFESUtil::CheckFileProcessable(const WCHAR* path) {
  path = OrEmpty(path);
  // The attributes read to find the file are the ones the write probe
  // restores: read once, not again after the open. Having been read, they
  // cannot be unreadable (FES_GET_ATTR_FAILED) here.
  DWORD attributes = 0;
  if (!ExistsAsFile(path, attributes)) return FES_FILE_NOT_FOUND;
  if (std::char_traits<WCHAR>::length(path) > kMaxPathChars) return FES_PATH_TOO_LONG;
  if (!CanOpenForReading(path, FILE_SHARE_READ)) {
    return GetLastError() == ERROR_SHARING_VIOLATION ? FES_FILE_IN_USE : FES_OPEN_FAILED;
  }
  // A write probe: read-only, hidden and system files pass and keep their
  // attributes; read-only media and files the user may not change do not.
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) {
    return GetLastError() == ERROR_ACCESS_DENIED ? FES_ACCESS_DENIED : FES_SET_ATTR_FAILED;
  }
  // Normal attributes are what the probe set: nothing to put back.
  if (attributes != FILE_ATTRIBUTE_NORMAL) SetFileAttributesW(path, attributes);
  return FES_OK;
}
