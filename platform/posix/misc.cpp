// GetTickCount, lstrlenW and the COM calls, which have nothing to do here;
// the writeback hint.
#include <fcntl.h>
#include <time.h>

#include "platform/posix/internal.h"
#include "platform/testing.h"
#include "platform/win32.h"

namespace {
// COM initialisation is per thread on Windows; so is this count.
thread_local int comInitCount = 0;
}  // namespace

DWORD GetTickCount() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // wraps after 49.7 days, as on Windows
}

int lstrlenW(LPCWSTR text) {
  if (!text) return 0;
  int length = 0;
  while (text[length]) ++length;
  return length;
}

HRESULT CoInitialize(LPVOID) { return comInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() { --comInitCount; }

namespace halvex::platform {
int ComInitCount() { return comInitCount; }
}  // namespace halvex::platform

namespace halvex::platform {

void StartWriteback(HANDLE file) {
#ifdef SYNC_FILE_RANGE_WRITE
  // A hint must not disturb the caller's last error.
  DWORD saved = GetLastError();
  if (auto* object = posix::LookupHandle(file, posix::HandleObject::Kind::File))
    sync_file_range(object->fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // 0, 0: the whole file
  SetLastError(saved);
#else
  (void)file;
#endif
}

}  // namespace halvex::platform
