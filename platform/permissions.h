// An open file's permission bits and the facts a copy of it keeps.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace halvex::platform {

// The permission bits (at most 0777) of an open file. False on Windows, whose
// files have none: the library handles their attributes on their own.
bool GetPermissions(HANDLE file, uint32_t* mode);
// Sets them (FALSE with the last error set on failure); nothing to do on Windows.
bool SetPermissions(HANDLE file, uint32_t mode);

// An open file's size, last write time and, where files have them, its
// permission bits (*hasMode false on Windows), from one look where the system
// allows. False with the last error set when the file cannot be looked at.
struct OpenFileFacts {
  uint64_t size = 0;
  FILETIME written{};
  uint32_t mode = 0;
  bool hasMode = false;
};
bool DescribeOpenFile(HANDLE file, OpenFileFacts* facts);

}  // namespace halvex::platform
