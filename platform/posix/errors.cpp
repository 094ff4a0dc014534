// GetLastError and the errno -> Win32 error mapping.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/posix/internal.h"

namespace {
// Per thread, as on Windows: a batch on one thread never sees another's error.
thread_local DWORD lastError = ERROR_SUCCESS;
// A "not found" whose folder is still to be looked at (see SetErrorFromErrno):
// the look is made only when the error is read. Most such errors answer an
// existence test, whose caller never reads them.
thread_local bool folderUnchecked = false;
thread_local std::string uncheckedFolder;
}  // namespace

DWORD GetLastError() {
  if (folderUnchecked) {
    folderUnchecked = false;
    struct stat st;
    if (stat(uncheckedFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) lastError = ERROR_PATH_NOT_FOUND;
  }
  return lastError;
}
void SetLastError(DWORD error) {
  folderUnchecked = false;
  lastError = error;
}

namespace halvex::platform::posix {

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EACCES:
    case EPERM:
    case EISDIR:  // Windows refuses to open a folder as a file with 5
    case ENXIO:   // a FIFO without a reader, a device that is not there
    case ENODEV: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EWOULDBLOCK:  // flock refused: a lock held elsewhere
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EBUSY: return ERROR_BUSY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case EIO: return ERROR_IO_DEVICE;
    case EFAULT: return ERROR_NOACCESS;  // a null or unmapped buffer, as Windows tells it
    default: return ERROR_GEN_FAILURE;
  }
}

void SetErrorFromErrno(int err) { SetLastError(ErrorFromErrno(err)); }

void SetErrorFromErrno(int err, const std::string& native) {
  SetLastError(ErrorFromErrno(err));
  if (err == ENOENT) {
    // Windows tells a missing file (2) from a missing folder on the way (3);
    // GetLastError looks at the folder.
    folderUnchecked = true;
    uncheckedFolder = NativeParent(native);
  }
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

BOOL FailErrno(int err, const std::string& native) {
  SetErrorFromErrno(err, native);
  return FALSE;
}

}  // namespace halvex::platform::posix
