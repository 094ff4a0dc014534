// File handles: CreateFileW (share modes in sharing.cpp), and the calls that
// work on an open handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "platform/durable.h"
#include "platform/looks.h"
#include "platform/permissions.h"
#include "platform/posix/internal.h"
#include "platform/testing.h"

namespace halvex::platform::posix {

namespace {

std::mutex registryMutex;
std::unordered_set<HandleObject*> registry;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;
constexpr int64_t kTicksPerSecond = 10'000'000;

FILETIME ToFileTime(int64_t seconds, int64_t nanoseconds) {
  uint64_t t = static_cast<uint64_t>(seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochAsFileTime);
  return {static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// A FILETIME that says "leave this time alone": null, zero, or all bits set.
bool LeavesTimeAlone(const FILETIME* ft) {
  if (!ft) return true;
  if (ft->dwLowDateTime == 0 && ft->dwHighDateTime == 0) return true;
  return ft->dwLowDateTime == 0xFFFFFFFFu && ft->dwHighDateTime == 0xFFFFFFFFu;
}

struct timespec ToTimespec(const FILETIME* ft) {
  if (LeavesTimeAlone(ft)) return {0, UTIME_OMIT};
  int64_t t = static_cast<int64_t>((static_cast<uint64_t>(ft->dwHighDateTime) << 32) | ft->dwLowDateTime) -
              kUnixEpochAsFileTime;
  int64_t seconds = t / kTicksPerSecond;
  int64_t rest = t % kTicksPerSecond;
  if (rest < 0) rest += kTicksPerSecond, --seconds;  // times before 1970
  return {static_cast<time_t>(seconds), static_cast<long>(rest * 100)};
}

// Whether the open writes: write access, or a disposition that truncates
// (Windows truncates with CREATE_ALWAYS whatever the access).
bool OpenWrites(DWORD access, DWORD creation) {
  return (access & GENERIC_WRITE) || creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING;
}

// Writers open for reading too where they may, as recording their share
// mode needs (see TakeShareLocks); the handle's own access is enforced here,
// by ReadFile and WriteFile. writeOnly: the fallback for a file that cannot
// be read.
int OpenFlagsFor(DWORD access, DWORD creation, bool writeOnly = false) {
  int flags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  flags |= !OpenWrites(access, creation) ? O_RDONLY : writeOnly ? O_WRONLY : O_RDWR;
  if (creation == CREATE_NEW) flags |= O_CREAT | O_EXCL;
  if (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) flags |= O_CREAT;
  // No O_TRUNC: truncating before the share check would destroy the data of
  // a file another handle holds. SetUpOpenFile truncates once the lock is ours.
  return flags;
}

// Checks made before opening, on what is there now. Returns FALSE with the
// last error set when the open must not go ahead.
BOOL CheckBeforeOpen(const std::string& native, DWORD access, DWORD creation, bool& existed) {
  struct statx sx;
  const int err = LookAt(native, sx);
  existed = err == 0;
  if (!existed) {
    if (err != ENOENT) return FailErrno(err, native);
    if (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING) return FailErrno(ENOENT, native);
    return TRUE;
  }
  // Never open a FIFO, device or socket: opening some of them has effects.
  if (!S_ISREG(sx.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (creation == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
  // The read-only attribute refuses writing even to an administrator.
  if (OpenWrites(access, creation) && IsReadOnlyMode(sx.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

// Opens native for CreateFileW; a writer that may not read the file opens
// write-only, and readable tells which. Returns the descriptor or -1 with
// errno set.
int OpenFor(const std::string& native, DWORD access, DWORD creation, bool& readable, bool blocking = false,
            mode_t mode = 0666) {
  const int drop = blocking ? O_NONBLOCK : 0;
  const int flags = OpenFlagsFor(access, creation) & ~drop;
  readable = (flags & O_ACCMODE) != O_WRONLY;
  int fd = open(native.c_str(), flags, mode);
  if (fd < 0 && errno == EACCES && OpenWrites(access, creation) && !(access & GENERIC_READ)) {
    readable = false;
    fd = open(native.c_str(), OpenFlagsFor(access, creation, true) & ~drop, mode);
  }
  return fd;
}

// The access an open is checked and recorded with: one that truncates counts
// as a writer whatever it asked for, as on Windows, so it never empties a
// file another handle keeps from writers.
DWORD ShareAccess(DWORD access, DWORD creation) {
  return OpenWrites(access, creation) ? access | GENERIC_WRITE : access;
}

// The descriptor for an open of native, with what it saw in handle: a look's
// descriptor parked in this LookScope when the open only reads an existing
// file, else a new one. Returns -1 with errno set.
int OpenDescriptor(const std::string& native, DWORD access, DWORD creation, bool& readable, HandleObject& handle) {
  if (creation == OPEN_EXISTING && !OpenWrites(access, creation)) {
    const int fd = TakeParkedDescriptor(native, &handle);
    readable = true;  // a look's descriptor was opened for reading
    if (fd >= 0) return fd;
  }
  const int fd = OpenFor(native, access, creation, readable);
  if (fd < 0) return -1;
  if (fstat(fd, &handle.opened) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  handle.openedFresh = true;
  return fd;
}

// Everything between open and handing out the handle: the file type check,
// the share lock (with record false only the look for a conflict) and
// truncation. Closes fd on failure; on success handle holds it. The
// descriptor stays non-blocking: that matters only for FIFOs and devices,
// which are refused here, while reads and writes of a regular file ignore it.
BOOL SetUpOpenFile(int fd, DWORD access, DWORD share, DWORD creation, bool readable, HandleObject& handle,
                   bool record = true) {
  const struct stat& st = handle.opened;
  int err = 0;
  DWORD code = ERROR_SUCCESS;
  if (!S_ISREG(st.st_mode)) {
    code = ERROR_ACCESS_DENIED;  // swapped in between the check and the open
  } else if ((err = record ? TakeShareLocks(fd, ShareAccess(access, creation), share, readable)
                           : LookForShareConflict(fd, ShareAccess(access, creation), share)) != 0) {
  } else if ((creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING) && st.st_size > 0) {
    handle.openedFresh = false;
    if (ftruncate(fd, 0) != 0) err = errno;
    else RecordFileCall(FsCall::kTruncate, fd);
  }
  if (err == 0 && code == ERROR_SUCCESS) return handle.fd = fd, TRUE;
  close(fd);
  return Fail(code != ERROR_SUCCESS ? code : ErrorFromErrno(err));
}

// CREATE_NEW: O_CREAT | O_EXCL refuses whatever stands at the name, links
// included, so there is nothing to look at first, and what it creates is a
// regular, empty file, opened blocking: it only needs its lock. Only when
// something stands there is it looked at, for the error the other
// dispositions give. Returns the descriptor, or -1 with the last error set.
int CreateNewFile(const std::string& native, DWORD access, DWORD share, mode_t mode = 0666) {
  ChangeNote note;
  bool readable = true;
  int fd = OpenFor(native, access, CREATE_NEW, readable, true, mode);
  if (fd < 0) {
    const int err = errno;
    bool existed = false;
    if (err != EEXIST || CheckBeforeOpen(native, access, CREATE_NEW, existed)) SetErrorFromErrno(err, native);
    return -1;
  }
  if (int err = RecordShareLocks(fd, access, share, readable); err != 0) {
    close(fd);
    SetErrorFromErrno(err);
    return -1;
  }
  RecordFileCall(FsCall::kCreate, fd, native);
  return fd;
}

// The descriptor of a file handle for a call that reads, writes, moves or
// asks the system about it, or -1 with the last error set: 6 for no such
// handle, 5 for one opened without the access needed (the descriptor may
// allow more; see OpenFlagsFor).
int FdOf(HANDLE handle, DWORD needs = 0) {
  HandleObject* object = LookupHandle(handle, HandleObject::Kind::File);
  if (!object) return -1;
  if ((object->access & needs) != needs) {
    SetLastError(ERROR_ACCESS_DENIED);
    return -1;
  }
  object->openedFresh = false;
  object->atStart = false;
  return object->fd;
}

// The stat of an open file: the open's own for the first question asked
// before anything else was done with the handle, else asked now. 0 or an
// errno value; EBADF with the last error set for no such handle.
int StatOfOpenFile(HANDLE handle, struct stat& st) {
  HandleObject* object = LookupHandle(handle, HandleObject::Kind::File);
  if (!object) return EBADF;
  if (object->openedFresh.exchange(false)) {
    st = object->opened;
    return 0;
  }
  return fstat(object->fd, &st) == 0 ? 0 : errno;
}

}  // namespace

HANDLE RegisterHandle(HandleObject* object) {
  std::lock_guard<std::mutex> lock(registryMutex);
  registry.insert(object);
  return object;
}

HandleObject* LookupHandle(HANDLE handle, HandleObject::Kind kind) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto it = registry.find(static_cast<HandleObject*>(handle));
  if (it == registry.end() || (*it)->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *it;
}

HandleObject* UnregisterHandle(HANDLE handle, HandleObject::Kind kind) {
  std::lock_guard<std::mutex> lock(registryMutex);
  auto it = registry.find(static_cast<HandleObject*>(handle));
  if (it == registry.end() || (*it)->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  HandleObject* object = *it;
  registry.erase(it);
  return object;
}

}  // namespace halvex::platform::posix

using namespace halvex::platform::posix;
using halvex::platform::FaultPoint;
using halvex::platform::FsCall;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
  auto native = NativeOrFail(path);
  if (!native) return INVALID_HANDLE_VALUE;
  if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING ||
      (creation == TRUNCATE_EXISTING && !(access & GENERIC_WRITE))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (creation == CREATE_NEW) {
    int fd = CreateNewFile(*native, access, shareMode);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(new HandleObject{HandleObject::Kind::File, fd, access & (GENERIC_READ | GENERIC_WRITE)});
  }
  bool existed = false;
  if (!CheckBeforeOpen(*native, access, creation, existed)) return INVALID_HANDLE_VALUE;
  // An open that may create or truncate changes what a LookScope saw.
  std::optional<ChangeNote> note;
  if (creation != OPEN_EXISTING || OpenWrites(access, creation)) note.emplace();
  bool readable = true;
  std::unique_ptr<HandleObject> object(
      new HandleObject{HandleObject::Kind::File, -1, access & (GENERIC_READ | GENERIC_WRITE)});
  int fd = OpenDescriptor(*native, access, creation, readable, *object);
  if (fd < 0) {
    SetErrorFromErrno(errno, *native);
    return INVALID_HANDLE_VALUE;
  }
  if (!SetUpOpenFile(fd, access, shareMode, creation, readable, *object)) return INVALID_HANDLE_VALUE;
  if (!existed && creation != OPEN_EXISTING) RecordFileCall(FsCall::kCreate, fd, *native);
  // As on Windows, success still tells whether the file was there already.
  const bool reportsExisting = creation == CREATE_ALWAYS || creation == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return RegisterHandle(object.release());
}

BOOL CloseHandle(HANDLE handle) {
  std::unique_ptr<HandleObject> object(UnregisterHandle(handle, HandleObject::Kind::File));
  if (!object) return FALSE;
  // Closing ends the open file description, and with it the lock; a look's
  // descriptor has none, and may serve the next open in its scope.
  if (ParkLookHandle(object)) return TRUE;
  const int fault = TakeFault(FaultPoint::kClose);
  // A write the system deferred (a network file system, a quota) may fail
  // only here. The descriptor is gone either way, EINTR included.
  if (close(object->fd) != 0 && errno != EINTR) return Fail(ErrorFromErrno(errno));
  return fault ? Fail(ErrorFromErrno(fault)) : TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
  if (read) *read = 0;
  int fd = FdOf(handle, GENERIC_READ);
  if (fd < 0) return FALSE;
  // Windows fills the buffer unless the end of the file comes first.
  DWORD done = 0;
  while (done < toRead) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read) *read = done;
      SetErrorFromErrno(errno);
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read) *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, LPDWORD written, void*) {
  if (written) *written = 0;
  int fd = FdOf(handle, GENERIC_WRITE);
  if (fd < 0) return FALSE;
  // Windows refuses a null source outright, before the kernel would read it.
  if (!buffer && toWrite > 0) return Fail(ERROR_INVALID_USER_BUFFER);
  if (int err = TakeFault(FaultPoint::kWrite)) {
    SetErrorFromErrno(err);
    return FALSE;
  }
  ChangeNote note;
  const off_t at = Recording() ? lseek(fd, 0, SEEK_CUR) : 0;
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = done;
      SetErrorFromErrno(n < 0 ? errno : ENOSPC);
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  RecordFileCall(FsCall::kWrite, fd, {}, static_cast<uint64_t>(at), buffer, done);
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (int err = StatOfOpenFile(handle, st)) return err == EBADF ? FALSE : Fail(ErrorFromErrno(err));
  size->QuadPart = st.st_size;
  return TRUE;
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD method) {
  int fd = FdOf(handle);
  if (fd < 0) return FALSE;
  int whence;
  switch (method) {
    case FILE_BEGIN: whence = SEEK_SET; break;
    case FILE_CURRENT: whence = SEEK_CUR; break;
    case FILE_END: whence = SEEK_END; break;
    default: return Fail(ERROR_INVALID_PARAMETER);
  }
  off_t position = lseek(fd, static_cast<off_t>(distance.QuadPart), whence);
  if (position < 0) return Fail(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
  if (newPosition) newPosition->QuadPart = position;
  return TRUE;
}

BOOL SetEndOfFile(HANDLE handle) {
  int fd = FdOf(handle, GENERIC_WRITE);
  if (fd < 0) return FALSE;
  ChangeNote note;
  off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(fd, position) != 0) return Fail(ErrorFromErrno(errno));
  RecordFileCall(FsCall::kTruncate, fd, {}, static_cast<uint64_t>(position));
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle) {
  int fd = FdOf(handle);
  if (fd < 0) return FALSE;
  if (int err = TakeFault(FaultPoint::kFlush)) return Fail(ErrorFromErrno(err));
  if (fsync(fd) != 0) return Fail(ErrorFromErrno(errno));
  RecordFileCall(FsCall::kFlush, fd);
  return TRUE;
}

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* access, FILETIME* write) {
  int fd = FdOf(handle);
  if (fd < 0) return FALSE;
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return Fail(ErrorFromErrno(errno));
  // Without a birth time the last change of the data is the best stand-in.
  const struct statx_timestamp& born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  if (creation) *creation = ToFileTime(born.tv_sec, born.tv_nsec);
  if (access) *access = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  if (write) *write = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  return TRUE;
}

BOOL SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* access, const FILETIME* write) {
  int fd = FdOf(handle);
  if (fd < 0) return FALSE;
  // POSIX has no settable creation time; that one is left as it is.
  ChangeNote note;
  const struct timespec times[2] = {ToTimespec(access), ToTimespec(write)};
  if (futimens(fd, times) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

namespace halvex::platform::posix {
FILETIME FileTimeOf(const struct timespec& ts) { return ToFileTime(ts.tv_sec, ts.tv_nsec); }
int DescriptorOf(HANDLE handle) { return FdOf(handle); }
}  // namespace halvex::platform::posix

namespace halvex::platform {

HANDLE CreatePrivateFile(WStringView path) {
  auto native = posix::NativeOrFail(WString(path).c_str());
  if (!native) return INVALID_HANDLE_VALUE;
  // Owner only from the first moment: a mode set after the open would leave
  // a window in which another user could open the file and read what follows.
  int fd = posix::CreateNewFile(*native, GENERIC_WRITE, 0, 0600);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  SetLastError(ERROR_SUCCESS);
  return posix::RegisterHandle(new posix::HandleObject{posix::HandleObject::Kind::File, fd, GENERIC_WRITE});
}

HANDLE OpenToLook(WStringView path, DWORD share) {
  auto native = posix::NativeOrFail(WString(path).c_str());
  if (!native) return INVALID_HANDLE_VALUE;
  bool existed = false;
  if (!posix::CheckBeforeOpen(*native, GENERIC_READ, OPEN_EXISTING, existed)) return INVALID_HANDLE_VALUE;
  bool readable = true;
  std::unique_ptr<posix::HandleObject> object(new posix::HandleObject{posix::HandleObject::Kind::File, -1, GENERIC_READ});
  int fd = posix::OpenDescriptor(*native, GENERIC_READ, OPEN_EXISTING, readable, *object);
  if (fd < 0) {
    posix::SetErrorFromErrno(errno, *native);
    return INVALID_HANDLE_VALUE;
  }
  if (!posix::SetUpOpenFile(fd, GENERIC_READ, share, OPEN_EXISTING, readable, *object, false))
    return INVALID_HANDLE_VALUE;
  object->lookedAt = *native;
  SetLastError(ERROR_SUCCESS);
  return posix::RegisterHandle(object.release());
}

bool GetPermissions(HANDLE file, uint32_t* mode) {
  struct stat st{};
  if (posix::StatOfOpenFile(file, st) != 0) return false;
  *mode = st.st_mode & 0777;
  return true;
}

bool DescribeOpenFile(HANDLE file, OpenFileFacts* facts) {
  struct stat st;
  if (int err = posix::StatOfOpenFile(file, st)) return err == EBADF ? false : posix::Fail(posix::ErrorFromErrno(err));
  facts->size = static_cast<uint64_t>(st.st_size);
  facts->written = posix::FileTimeOf(st.st_mtim);
  facts->mode = st.st_mode & 0777;
  facts->hasMode = true;
  return true;
}

bool SetPermissions(HANDLE file, uint32_t mode) {
  int fd = posix::FdOf(file);
  if (fd < 0) return false;
  posix::ChangeNote note;
  if (fchmod(fd, static_cast<mode_t>(mode & 0777)) != 0) return posix::Fail(posix::ErrorFromErrno(errno));
  return true;
}

}  // namespace halvex::platform
