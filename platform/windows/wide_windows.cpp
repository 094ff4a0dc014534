// The path bridge on Windows, where library paths are native paths.
#include "platform/wide.h"

namespace halvex::platform {

std::optional<std::string> ToNativePath(WStringView path) { return ToUtf8(path); }

std::optional<WString> FromNativePath(std::string_view native) { return FromUtf8(native); }

// There is no drive map to read: Windows has drive letters of its own.
void ReloadDriveMap() {}

// NTFS journals renames and creations; there is no folder to sync.
bool SyncDirectory(WStringView) { return true; }

}  // namespace halvex::platform
