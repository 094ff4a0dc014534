// A file's metadata on Windows: the modification time only. The attributes
// Windows files have are the library's own business (the batch keeps them).
#include "platform/metadata.h"

namespace halvex::platform {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpoch = 116444736000000000LL;

}  // namespace

bool ReadFileMetadata(HANDLE file, FileMetadata* m) {
  FILETIME written;
  if (!GetFileTime(file, nullptr, nullptr, &written)) return false;
  *m = FileMetadata{};
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime) -
      kUnixEpoch;
  int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  m->hasTime = true;
  m->seconds = seconds;
  m->nanoseconds = static_cast<uint32_t>(rest * 100);
  return true;
}

std::vector<MetadataMiss> ApplyFileMetadata(HANDLE file, const FileMetadata& m) {
  std::vector<MetadataMiss> misses;
  if (!m.hasTime) return misses;
  const uint64_t ticks = static_cast<uint64_t>(m.seconds * 10000000 + m.nanoseconds / 100 + kUnixEpoch);
  FILETIME written{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  if (!SetFileTime(file, nullptr, nullptr, &written)) misses.push_back({"time", GetLastError()});
  return misses;
}

}  // namespace halvex::platform
