// Share modes as Windows keeps them, seen by every process that uses this
// layer: each open records what it may do (read, write, delete) and what it
// refuses others, as open-file-description locks on bytes far past any data.
// The kernel drops them when the handle closes or its process dies.
//
// Where this differs from Windows (docs/design.md, "Share modes and the
// gate", has the whole picture; the reasons stand here): the locks are
// advisory, so a program that does not use this layer is never seen as
// holding a file, nor kept out; a file deleted while a handle that shares
// deletion holds it goes at once (POSIX has no pending delete), so its name
// is free again before that handle closes; a writer that may not read the
// file (mode without read permission) records with exclusive locks, which
// refuse a second such writer even where both share writing.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/posix/internal.h"

namespace halvex::platform::posix {

namespace {

// One byte per access kind, then one per refusal of it. Files never grow
// this far, so the bytes never touch data.
constexpr off_t kShareBytes = off_t{0x7FFF'FFFF'0000'0000};
constexpr int kKinds = 3;  // read, write, delete
// The gate's byte, just past the records. A lock of its own kind, so that a
// program's whole-file flock, reader or writer, never meets it.
constexpr off_t kGateByte = kShareBytes + 2 * kKinds;

struct Sharing {
  unsigned access = 0;  // bit i: this open may do kind i
  unsigned denied = 0;  // bit i: this open refuses others kind i
};

Sharing SharingOf(DWORD access, DWORD share) {
  Sharing s;
  if (access & GENERIC_READ) s.access |= 1;
  if (access & GENERIC_WRITE) s.access |= 2;
  if (access & kDeleteAccess) s.access |= 4;
  if (!(share & FILE_SHARE_READ)) s.denied |= 1;
  if (!(share & FILE_SHARE_WRITE)) s.denied |= 2;
  if (!(share & FILE_SHARE_DELETE)) s.denied |= 4;
  return s;
}

struct flock ByteLock(short type, off_t at) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = at;
  lock.l_len = 1;
  return lock;
}

// Whether another open file description holds a lock on the byte at.
// Returns 0 (free), EWOULDBLOCK (held) or an errno value.
int Held(int fd, off_t at) {
  struct flock lock = ByteLock(F_WRLCK, at);
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return errno;
  return lock.l_type == F_UNLCK ? 0 : EWOULDBLOCK;
}

// The share bytes an open asking for s must find free: the access bytes of
// what it refuses, and the refusal bytes of what it may do. Bit i: byte i.
unsigned BytesToLookAt(Sharing s) { return (s.denied & 7u) | ((s.access & 7u) << kKinds); }

// Whether an open asking for s meets one already recorded: it refuses what
// another may do, or may do what another refuses. One look over the span of
// the bytes concerned answers for all of them when the span is free, which is
// the common case; only a lock found inside the span on a byte not concerned
// sends it back to looking at the bytes one by one.
int Conflict(int fd, Sharing s) {
  const unsigned look = BytesToLookAt(s);
  if (look == 0) return 0;
  const int first = __builtin_ctz(look);
  const int last = 31 - __builtin_clz(look);
  struct flock lock = ByteLock(F_WRLCK, kShareBytes + first);
  lock.l_len = last - first + 1;
  if (fcntl(fd, F_OFD_GETLK, &lock) != 0) return errno;
  if (lock.l_type == F_UNLCK) return 0;
  const off_t from = lock.l_start - kShareBytes;
  const off_t to = lock.l_len == 0 ? off_t{2 * kKinds} : from + lock.l_len;  // 0: to the end
  for (off_t i = std::max<off_t>(from, 0); i < to && i < 2 * kKinds; ++i)
    if ((look >> i) & 1) return EWOULDBLOCK;
  for (int i = first; i <= last; ++i)
    if ((look >> i) & 1)
      if (int err = Held(fd, kShareBytes + i)) return err;
  return 0;
}

// Records s on fd: a lock on each byte of what it may do and of what it
// refuses, adjacent bytes under one lock.
int Record(int fd, Sharing s, short type) {
  const unsigned bytes = (s.access & 7u) | ((s.denied & 7u) << kKinds);
  for (int i = 0; i < 2 * kKinds;) {
    if (!((bytes >> i) & 1)) {
      ++i;
      continue;
    }
    int end = i;
    while (end + 1 < 2 * kKinds && ((bytes >> (end + 1)) & 1)) ++end;
    struct flock lock = ByteLock(type, kShareBytes + i);
    lock.l_len = end - i + 1;
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) return errno == EAGAIN ? EWOULDBLOCK : errno;
    i = end + 1;
  }
  return 0;
}

// The gate: taken for the short time between looking for a conflict and
// recording an open, so two opens cannot both pass the look. A descriptor
// open for reading can only hold a shared lock, so the gate is a shared lock
// on its byte held by nobody else: each opener locks the byte, then looks
// whether another holds it too, and lets go to try again when one does. Of
// two openers at once, the later look sees the earlier lock, so at most one
// passes. A write-only descriptor takes the byte exclusively. Waits a little
// for another opener, never for long. Returns 0 or EWOULDBLOCK.
int TakeGate(int fd, bool readable) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  // Microseconds, drawn apart for two threads or processes that meet.
  unsigned pause = 50 + static_cast<unsigned>((std::hash<std::thread::id>{}(std::this_thread::get_id()) + getpid()) % 64);
  for (;;) {
    struct flock lock = ByteLock(readable ? F_RDLCK : F_WRLCK, kGateByte);
    int err = fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
    if (err == 0) {
      err = Held(fd, kGateByte);
      if (err == 0) return 0;
      struct flock release = ByteLock(F_UNLCK, kGateByte);
      fcntl(fd, F_OFD_SETLK, &release);
    }
    if (err != EWOULDBLOCK && err != EAGAIN && err != EACCES && err != EINTR) return err;
    if (std::chrono::steady_clock::now() > give_up) return EWOULDBLOCK;
    std::this_thread::sleep_for(std::chrono::microseconds(pause));
    pause = std::min(pause * 2, 2000u);
  }
}

void OpenGate(int fd) {
  struct flock release = ByteLock(F_UNLCK, kGateByte);
  fcntl(fd, F_OFD_SETLK, &release);
}

}  // namespace

int TakeShareLocks(int fd, DWORD access, DWORD share, bool readable) {
  const Sharing s = SharingOf(access, share);
  // An open that may neither read, write nor delete is never checked and
  // never stands in another's way.
  if (s.access == 0) return 0;
  if (int err = TakeGate(fd, readable)) return err;
  int err = Conflict(fd, s);
  // A shared lock needs a descriptor open for reading; a write-only one
  // (a file its owner may not read) records with exclusive locks instead.
  if (err == 0) err = Record(fd, s, readable ? F_RDLCK : F_WRLCK);
  OpenGate(fd);
  // On failure the caller closes fd, which drops whatever was taken.
  return err;
}

int RecordShareLocks(int fd, DWORD access, DWORD share, bool readable) {
  const Sharing s = SharingOf(access, share);
  return s.access == 0 ? 0 : Record(fd, s, readable ? F_RDLCK : F_WRLCK);
}

int LookForShareConflict(int fd, DWORD access, DWORD share) {
  const Sharing s = SharingOf(access, share);
  return s.access == 0 ? 0 : Conflict(fd, s);  // as TakeShareLocks: no access, no check
}

bool ProbeShare(const std::string& native, DWORD access, DWORD share, int* keepFd) {
  if (keepFd) *keepFd = -1;
  int fd = TakeParkedDescriptor(native, nullptr);
  if (fd < 0) fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    // A file the caller may not read can still be moved or deleted; its
    // holders cannot be seen from here.
    if (errno == EACCES) return true;
    SetErrorFromErrno(errno, native);
    return false;
  }
  int err = TakeGate(fd, true);
  if (err == 0) err = Conflict(fd, SharingOf(access, share));
  if (err != 0) {
    close(fd);
    SetErrorFromErrno(err);
    return false;
  }
  if (keepFd) *keepFd = fd;  // the gate stays shut until the caller closes it
  else close(fd);
  return true;
}

}  // namespace halvex::platform::posix
