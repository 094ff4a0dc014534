// GetTickCount, lstrlenW and the COM calls, which have nothing to do here.
#include <time.h>

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
