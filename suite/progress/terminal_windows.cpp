// The progress library's lock on Windows: a named mutex.
#include "platform/win32.h"

#include "suite/progress/terminal.h"

namespace halvex::progress::terminal {
namespace {

HANDLE g_mutex = nullptr;

}  // namespace

Lock TakeUiLock() {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\HalvexMessageBatch");
  if (!mutex) return Lock::kUnavailable;
  DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return wait == WAIT_TIMEOUT ? Lock::kBusy : Lock::kUnavailable;
  }
  // A mutex is recursive for its owner thread: a second batch of ours must still be refused.
  if (g_mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return Lock::kBusy;
  }
  g_mutex = mutex;
  return Lock::kTaken;
}

void ReleaseUiLock() {
  if (!g_mutex) return;
  ReleaseMutex(g_mutex);
  CloseHandle(g_mutex);
  g_mutex = nullptr;
}

}  // namespace halvex::progress::terminal
