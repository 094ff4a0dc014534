// Immutable files (chattr +i): the one way to make a change of a file
// refused for a test that runs as root, where permission bits do not apply.
#pragma once

#ifndef _WIN32

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace halvex::test {

// Sets or clears the immutable flag. False where the file system or the
// caller's rights do not allow it (tmpfs, no CAP_LINUX_IMMUTABLE).
inline bool SetImmutable(const std::string& native, bool on) {
  int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

// Keeps a file immutable for a scope, so clean-up always finds it mutable.
class ImmutableFile {
 public:
  explicit ImmutableFile(std::string native) : native_(std::move(native)), on_(SetImmutable(native_, true)) {}
  ~ImmutableFile() {
    if (on_) SetImmutable(native_, false);
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;
  bool Active() const { return on_; }

 private:
  std::string native_;
  bool on_;
};

}  // namespace halvex::test

#endif  // _WIN32
