// GetTickCount, lstrlenW and the COM calls, which have nothing to do here;
// the writeback and page-cache hints.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/durable.h"
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

namespace {

// The descriptor and current position of an open file, or false.
bool FdAndPosition(HANDLE file, int* fd, off_t* position) {
  auto* object = posix::LookupHandle(file, posix::HandleObject::Kind::File);
  if (!object) return false;
  *fd = object->fd;
  *position = lseek(*fd, 0, SEEK_CUR);
  return *position >= 0;
}

// sync_file_range's errors that mean "not here" rather than "the write failed".
bool CannotWaitHere(int err) { return err == EINVAL || err == ESPIPE || err == ENOSYS || err == EOPNOTSUPP; }

}  // namespace

void ReleaseReadPages(HANDLE file) {
  DWORD saved = GetLastError();
  int fd = -1;
  off_t position = 0;
  if (FdAndPosition(file, &fd, &position) && position > 0) posix_fadvise(fd, 0, position, POSIX_FADV_DONTNEED);
  SetLastError(saved);
}

bool ReleaseWrittenPages(HANDLE file, uint64_t keepTail) {
  DWORD saved = GetLastError();
  int fd = -1;
  off_t position = 0;
  bool found = FdAndPosition(file, &fd, &position);
  SetLastError(saved);
  if (!found || static_cast<uint64_t>(position) <= keepTail) return true;
  const off_t end = position - static_cast<off_t>(keepTail);
#ifdef SYNC_FILE_RANGE_WRITE
  // Dirty or under-writeback pages cannot be dropped: wait for them first.
  // A write error met here is taken off the file's record, so it must be
  // reported now.
  const unsigned flags = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  if (sync_file_range(fd, 0, end, flags) != 0) {
    if (CannotWaitHere(errno)) return true;
    posix::SetErrorFromErrno(errno);
    return false;
  }
#endif
  posix_fadvise(fd, 0, end, POSIX_FADV_DONTNEED);
  return true;
}

}  // namespace halvex::platform
