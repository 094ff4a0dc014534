// What a copy of a file keeps besides its bytes and name: the modification
// time to the nanosecond, the permission bits, the owner and group (numbers
// and names) and the extended attributes. Read from the source when it is
// encrypted, applied to the restored file before it takes its name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace halvex::platform {

struct FileMetadata {
  bool hasTime = false;
  int64_t seconds = 0;       // since 1970-01-01 UTC
  uint32_t nanoseconds = 0;  // below 1e9
  bool hasMode = false;
  uint32_t mode = 0;         // permission bits with set-id and sticky (07777 at most)
  bool hasOwner = false;
  uint32_t uid = 0, gid = 0;
  std::string user, group;   // empty when the numbers have no name here
  std::vector<std::pair<std::string, std::string>> xattrs;  // name, value
};

// Everything the system tells about an open file. False with the last error
// set when the file cannot be looked at; an attribute that cannot be read is
// left out. On Windows only the time.
bool ReadFileMetadata(HANDLE file, FileMetadata* metadata);

// One part of the metadata that could not be applied, and why.
struct MetadataMiss {
  std::string what;  // "owner", "mode", "time" or the attribute's name
  DWORD error;       // a Win32 error code
};

// Applies metadata to an open file, as far as the caller may: the owner and
// group only for the superuser (by name where the name is known here, else
// by number), the set-id bits only when the owner was applied too. What the
// file system refuses is returned, not fatal; the time is applied last, so
// nothing done here moves it again.
std::vector<MetadataMiss> ApplyFileMetadata(HANDLE file, const FileMetadata& metadata);

}  // namespace halvex::platform
