// The drive-admin library: the vault drive counts as shown while its drive
// letter is mapped and the folder behind it is there.
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/krvdevice.h"
#include "suite/zq.h"

namespace {

// Settings value 25 as "X:", or nothing when no usable vault drive is set.
std::optional<WString> VaultRoot() {
  WCHAR value[64] = {};
  uint32_t size = 64;
  if (ZQ_ReadINIFileW(ZQ_SETTING_VAULT_DRIVE, value, &size) != 0) return std::nullopt;
  WString drive(value);
  if (drive.empty()) return std::nullopt;
  WCHAR letter = drive[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<WCHAR>(letter - 'a' + 'A');  // drive letters ignore case
  if (letter < 'A' || letter > 'Z') return std::nullopt;
  return WString{letter, WTEXT(':'), WTEXT('\\')};
}

}  // namespace

CKRVDevice::CKRVDevice(uint32_t /*reserved*/, unsigned long /*flags*/) {}

CKRVDevice::~CKRVDevice() = default;

int32_t CKRVDevice::IsShow() {
  std::optional<WString> root = VaultRoot();
  if (!root) return 0;
  std::optional<std::string> native = halvex::platform::ToNativePath(*root);
  if (!native) return 0;
  std::error_code ec;
  return std::filesystem::is_directory(std::filesystem::path(std::u8string(native->begin(), native->end())), ec) ? 1 : 0;
}
