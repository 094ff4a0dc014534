// GetFileIdentity and FileClockNow on Windows: GetFileInformationByHandle (and
// the change time of GetFileInformationByHandleEx), and the system time that
// file times are stamped with. DeleteFileIfSame compares and deletes through
// one handle.
#include "platform/identity.h"

namespace halvex::platform {

namespace {

int64_t Ticks(const FILETIME& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id.lastWrite = Ticks(info.ftLastWriteTime);
  id.creation = Ticks(info.ftCreationTime);
  id.links = info.nNumberOfLinks;
  return id;
}

// Marks the file of h for deletion when h closes.
bool DeleteThrough(HANDLE h) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

}  // namespace

std::optional<FileIdentity> GetFileIdentity(LPCWSTR path) {
  // Reading attributes only: no share mode is denied to anyone, and a
  // folder opens too (with backup semantics), as a name may stand for one.
  HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  const DWORD error = GetLastError();
  // NTFS also keeps a change time, which a writer cannot set back as it can
  // the last-write time; where the file system has none it stays 0.
  FILE_BASIC_INFO basic{};
  const bool hasChangeTime = ok && GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic);
  CloseHandle(h);
  if (!ok) {
    SetLastError(error);
    return std::nullopt;
  }
  FileIdentity id = IdentityOf(info);
  if (hasChangeTime) id.change = basic.ChangeTime.QuadPart;
  return id;
}

DeleteIfSame DeleteFileIfSame(LPCWSTR path, const FileIdentity& expected, WString* keptAt) {
  if (keptAt) keptAt->clear();
  // The handle DeleteFileW itself would use: delete access, everything
  // shared, a link itself rather than its target. The file it opens is the
  // one compared and the one deleted, whatever is saved over the name
  // meanwhile.
  HANDLE h = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? DeleteIfSame::kChanged : DeleteIfSame::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  DeleteIfSame result = DeleteIfSame::kChanged;
  if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) SetLastError(ERROR_ACCESS_DENIED);
    result = DeleteIfSame::kFailed;
  } else if (IdentityOf(info).SameFileSameData(expected)) {
    result = DeleteThrough(h) ? DeleteIfSame::kDeleted : DeleteIfSame::kFailed;
  }
  const DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(error);
  return result;
}

int64_t FileClockNow() {
  // On Windows the system time and new files' stamps come from one clock.
  // Under Wine the system time is finer than the stamps, which the host's
  // kernel takes from its coarse clock: a file made a moment after this
  // reading can be stamped up to a tick before it. Reading a little back
  // keeps such a file from looking older than the call that made it.
  constexpr int64_t kStampTickAllowance = 20 * 10'000;  // 20 ms in 100-ns units
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return Ticks(now) - kStampTickAllowance;
}

}  // namespace halvex::platform
