// Settings library: the suite's settings and its temporary folder.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "platform/win32.h"

// Settings value ids.
enum : uint32_t {
  ZQ_SETTING_VAULT_DRIVE = 25,  // the vault drive, e.g. "V:"
};

extern "C" {
// Writes setting id as a terminated string into buffer (*size characters of
// room). 0 on success; an unset value gives the empty string.
SUITE_API uint32_t ZQ_ReadINIFileW(uint32_t id, WCHAR* buffer, uint32_t* size);
// The private temporary folder in Windows form, ending in a backslash.
SUITE_API uint32_t ZQ_GetTempFolderPathW(WCHAR* buffer, uint32_t* size);
// Records when the password (rather than the stored key) last opened a file.
SUITE_API uint32_t ZQ_WriteLastSPWUseChgTime(uint32_t value);
}
