// Small helpers the platform tests share.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/win32.h"

namespace halvex::test {

// Sets or clears the immutable flag (chattr +i / -i). False where the file
// system or the caller's rights do not allow it.
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
  bool Active() const { return on_; }

 private:
  std::string native_;
  bool on_;
};

inline std::optional<std::string> ReadDosAttrib(const std::string& native) {
  char buffer[64];
  ssize_t n = getxattr(native.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

inline void WriteDosAttrib(const std::string& native, const std::string& value) {
  setxattr(native.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0);
}

inline mode_t ModeOf(const std::string& native) {
  struct stat st {};
  stat(native.c_str(), &st);
  return st.st_mode & 07777;
}

// Sets the umask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

}  // namespace halvex::test
