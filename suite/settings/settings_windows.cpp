// The settings library's folders on Windows: the user's profile is private already.
#include "platform/win32.h"

#include <cstdlib>

#include "suite/settings/settings_os.h"

namespace halvex::settings::os {

namespace fs = std::filesystem;

fs::path DefaultSettingsFile() {
  if (const wchar_t* appdata = _wgetenv(L"APPDATA"); appdata && *appdata)
    return fs::path(appdata) / L"Halvex" / L"settings.ini";
  return {};
}

fs::path DefaultTempFolder() {
  wchar_t temp[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) return {};
  return fs::path(temp) / L"Halvex";
}

bool EnsurePrivateFolder(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (fs::is_symlink(fs::symlink_status(dir, ec))) return false;
  return fs::is_directory(dir, ec);
}

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

}  // namespace halvex::settings::os
