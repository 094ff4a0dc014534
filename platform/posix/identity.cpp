// GetFileIdentity and FileClockNow over statx and the kernel's coarse clock.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#include "platform/identity.h"
#include "platform/posix/internal.h"

namespace halvex::platform {

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

int64_t Ticks(int64_t seconds, int64_t nanoseconds) {
  return seconds * 10'000'000 + nanoseconds / 100 + kUnixEpochAsFileTime;
}

int64_t Ticks(const struct statx_timestamp& t) { return Ticks(t.tv_sec, t.tv_nsec); }

}  // namespace

std::optional<FileIdentity> GetFileIdentity(LPCWSTR path) {
  auto native = posix::NativeOrFail(path);
  if (!native) return std::nullopt;
  struct statx sx;
  if (int err = posix::LookAt(*native, sx)) {
    posix::SetErrorFromErrno(err, *native);
    return std::nullopt;
  }
  FileIdentity id;
  id.volume = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  id.index = sx.stx_ino;
  id.size = sx.stx_size;
  id.lastWrite = Ticks(sx.stx_mtime);
  id.change = Ticks(sx.stx_ctime);
  id.creation = (sx.stx_mask & STATX_BTIME) ? Ticks(sx.stx_btime) : id.change;
  return id;
}

int64_t FileClockNow() {
  // File times come from the coarse clock (or a finer one on newer
  // kernels, which never runs behind it), so a file stamped later is never
  // earlier than this reading.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Ticks(now.tv_sec, now.tv_nsec);
}

}  // namespace halvex::platform
