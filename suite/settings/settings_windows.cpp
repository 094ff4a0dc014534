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

}  // namespace halvex::settings::os
