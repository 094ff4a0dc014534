// The settings library's suite calls (suite/zq.h) on its helpers.
#include <algorithm>
#include <ctime>
#include <string>

#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/settings/settings.h"
#include "suite/zq.h"

namespace {

namespace fs = std::filesystem;

// Result codes of the ZQ_ calls, as Win32 names them.
constexpr uint32_t kOk = 0;
constexpr uint32_t kAccessDenied = 5;          // the temporary folder is not private to us
constexpr uint32_t kWriteFault = 29;           // the state file could not be written
constexpr uint32_t kInvalidParameter = 87;     // no buffer, or no room at all
constexpr uint32_t kInsufficientBuffer = 122;  // the temporary folder's path does not fit
constexpr uint32_t kInvalidName = 123;         // a path the library's form cannot express

// Copies text into buffer, cut to its capacity and terminated.
void Put(const WString& text, WCHAR* buffer, uint32_t capacity) {
  size_t n = std::min<size_t>(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
}

// The path as UTF-8, the form the platform layer takes.
std::string Utf8(const fs::path& path) {
  std::u8string u = path.u8string();
  return std::string(u.begin(), u.end());
}

}  // namespace

using namespace halvex::settings;

extern "C" {

uint32_t ZQ_ReadINIFileW(uint32_t id, WCHAR* buffer, uint32_t* size) {
  if (!buffer || !size || *size == 0) return kInvalidParameter;
  std::optional<std::string> value;
  if (id == ZQ_SETTING_VAULT_DRIVE) value = ReadValue(SettingsFilePath(), kVaultDriveKey);
  Put(value ? halvex::platform::Widen(*value) : WString(), buffer, *size);
  return kOk;
}

uint32_t ZQ_GetTempFolderPathW(WCHAR* buffer, uint32_t* size) {
  if (!buffer || !size || *size == 0) return kInvalidParameter;
  buffer[0] = 0;
  std::optional<fs::path> folder = PrivateTempFolder();
  if (!folder) return kAccessDenied;
  std::optional<WString> path = halvex::platform::FromNativePath(Utf8(*folder));
  if (!path) return kInvalidName;
  if (path->empty() || path->back() != WTEXT('\\')) path->push_back(WTEXT('\\'));
  // A cut path would name another folder: better none at all.
  if (path->size() >= *size) return kInsufficientBuffer;
  Put(*path, buffer, *size);
  return kOk;
}

uint32_t ZQ_WriteLastSPWUseChgTime(uint32_t /*value*/) {
  fs::path state = StateFilePath();
  if (state.empty()) return kWriteFault;
  std::string now = std::to_string(static_cast<long long>(std::time(nullptr)));
  return WriteValue(state, kLastPasswordUseKey, now) ? kOk : kWriteFault;
}

}  // extern "C"
