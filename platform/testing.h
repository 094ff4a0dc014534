// What the platform layer shows tests about itself, beyond the Win32 calls,
// and the faults a test can make it report.
#pragma once

#ifndef _WIN32
#include <cstdint>
#include <functional>

namespace halvex::platform {

// CoInitialize calls less CoUninitialize calls on the calling thread. Zero
// once every batch has paired them; negative after an extra CoUninitialize.
int ComInitCount();

// ---- Fault injection ------------------------------------------------------
// A full disk, a failing device or a refused rename, on any machine and
// without privileges: a test names a point and the call that is to fail, and
// that call fails before touching anything, with the error the real failure
// would leave (an errno value, mapped to the last error as usual: ENOSPC 112,
// EIO 1117, EACCES 5 ...). Faults are process-wide (the cipher writes on a
// thread of its own) and stay until ClearFaults.
enum class FaultPoint {
  kWrite,          // WriteFile
  kFlush,          // FlushFileBuffers
  kSyncFolder,     // a folder flush: SyncDirectory, and SyncFolder of platform/private_files.h
  kMove,           // MoveFileW: a rename
  kCopy,           // CopyFileW
  kDelete,         // DeleteFileW
  kSetAttributes,  // SetFileAttributesW
};
constexpr int kFaultPointCount = 7;

// From the nth call of point on (1: the next call, counted from this
// injection), `times` calls fail with error; 0 times: every call from the
// nth on, as a disk that stays full. Replaces an earlier fault at point.
void InjectFault(FaultPoint point, uint32_t nth, int error, uint32_t times = 1);
// Removes every fault and sets every count back to 0.
void ClearFaults();
// Calls made at point since the last ClearFaults (or its injection), failed
// ones included: a first run without faults tells a sweep how many there are.
uint32_t FaultPointCalls(FaultPoint point);

// ---- Another program inside a checked delete --------------------------------
// A test acts as another program would at the worst moments of
// DeleteFileIfSame (platform/identity.h): after its last look at the file,
// before the file leaves its name (kChecked); and while the file lies aside
// to be compared, before it may go back (kMovedAside).
enum class DeleteStep { kChecked, kMovedAside };
// An empty hook removes it.
void SetDeleteHook(std::function<void(DeleteStep)> hook);

namespace posix {
// Counts a call at point; returns the errno value it must fail with, or 0.
int TakeFault(FaultPoint point);
void RunDeleteHook(DeleteStep step);
}  // namespace posix

}  // namespace halvex::platform
#endif
