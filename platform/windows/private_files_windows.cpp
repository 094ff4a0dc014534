// Private files and folders on Windows: the user's profile folders are
// private already; files are created exclusively and moved into place
// written through.
#include "platform/private_files.h"

#include "platform/win32.h"

#include <cstdlib>

namespace halvex::platform {

namespace fs = std::filesystem;

fs::path UserConfigFile(std::string_view name) {
  if (const wchar_t* appdata = _wgetenv(L"APPDATA"); appdata && *appdata)
    return fs::path(appdata) / L"Halvex" / name;
  return {};
}

fs::path DefaultPrivateTempFolder() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return {};
  return fs::path(temp) / L"Halvex";
}

ReadResult ReadPrivateFile(const fs::path& path, uint8_t* out, size_t size, size_t* got) {
  *got = 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                          : ReadResult::kFailed;
  }
  bool ok = true;
  while (ok && *got <= size) {
    DWORD n = 0;
    ok = ReadFile(h, out + *got, static_cast<DWORD>(size + 1 - *got), &n, nullptr) != 0;
    if (!ok || n == 0) break;
    *got += n;
  }
  CloseHandle(h);
  return ok ? ReadResult::kOk : ReadResult::kFailed;
}

bool MakePrivateFolders(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return fs::is_directory(dir, ec);
}

bool EnsurePrivateFolder(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (fs::is_symlink(fs::symlink_status(dir, ec))) return false;
  return fs::is_directory(dir, ec);
}

bool WriteNewPrivateFile(const fs::path& path, const uint8_t* data, size_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  ok = FlushFileBuffers(h) && ok;
  ok = CloseHandle(h) && ok;
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

Publish PublishNoReplace(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Publish::kDone;
  DWORD error = GetLastError();
  return (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? Publish::kExists : Publish::kFailed;
}

bool PublishReplace(const fs::path& from, const fs::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// The moves above are written through, and NTFS journals them.
bool SyncFolder(const fs::path&) { return true; }

std::optional<FileStamp> StampOf(const fs::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  const auto join = [](DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; };
  return FileStamp{join(data.nFileSizeHigh, data.nFileSizeLow),
                   join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime),
                   join(data.ftCreationTime.dwHighDateTime, data.ftCreationTime.dwLowDateTime),
                   data.dwFileAttributes, 0};
}

bool RecentlyChanged(const FileStamp& stamp) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t nowTicks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return stamp[1] + 30'000'000u > nowTicks;  // the last write, within 3 s (FAT keeps 2 s)
}

}  // namespace halvex::platform
