// Private files and folders on POSIX: mode 0600 and 0700 whatever the umask,
// link() or renameat2(RENAME_NOREPLACE) to publish without replacing.
#include "platform/private_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/internal.h"

namespace halvex::platform {

namespace fs = std::filesystem;

namespace {
// Longer than the coarsest file times kept (2 s on FAT), so a later change
// always gives a later stamp.
constexpr uint64_t kSettleNs = 3'000'000'000;

uint64_t Nanoseconds(const struct timespec& t) {
  return static_cast<uint64_t>(t.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(t.tv_nsec);
}

int g_lockFd = -1;
}  // namespace

fs::path UserConfigFile(std::string_view name) {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    return fs::path(config) / "halvex" / name;
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config" / "halvex" / name;
  return {};
}

fs::path DefaultPrivateTempFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return fs::path(runtime) / "halvex";
  return fs::path("/tmp") / ("halvex-" + std::to_string(geteuid()));
}

ReadResult ReadPrivateFile(const fs::path& path, uint8_t* out, size_t size, size_t* got) {
  *got = 0;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && *got <= size) {
    ssize_t n = read(fd, out + *got, size + 1 - *got);
    if (n < 0 && errno == EINTR) continue;
    ok = n >= 0;
    if (n <= 0) break;
    *got += static_cast<size_t>(n);
  }
  close(fd);
  return ok ? ReadResult::kOk : ReadResult::kFailed;
}

bool MakePrivateFolders(const fs::path& dir) {
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  fs::path parent = dir.parent_path();
  if (!parent.empty() && parent != dir && !MakePrivateFolders(parent)) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

bool EnsurePrivateFolder(const fs::path& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  // A folder named in the settings is narrowed to its owner, unless it is a
  // shared one (sticky, as /tmp): closing that would break every other user
  // of it, and it is not private whatever its mode.
  if ((st.st_mode & 077) == 0) return true;
  if (st.st_mode & S_ISVTX) return false;
  return chmod(dir.c_str(), 0700) == 0;
}

bool WriteNewPrivateFile(const fs::path& path, const uint8_t* data, size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;  // whatever the umask says
  while (ok && size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) data += n, size -= static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok) unlink(path.c_str());
  return ok;
}

Publish PublishNoReplace(const fs::path& from, const fs::path& to) {
  if (link(from.c_str(), to.c_str()) == 0) return Publish::kDone;
  if (errno == EEXIST) return Publish::kExists;
  // File systems without hard links: the layer's rename that never replaces.
  const int error = posix::RenameNoReplace(from, to);
  if (error == 0) return Publish::kDone;
  return error == EEXIST ? Publish::kExists : Publish::kFailed;
}

bool PublishReplace(const fs::path& from, const fs::path& to) { return rename(from.c_str(), to.c_str()) == 0; }

bool SyncFolder(const fs::path& dir) { return posix::SyncNativeFolder(dir) == 0; }

std::optional<FileStamp> StampOf(const fs::path& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                   static_cast<uint64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

bool RecentlyChanged(const FileStamp& stamp) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return stamp[4] + kSettleNs > Nanoseconds(now);  // the change time; one in the future counts as recent
}

LockResult TakeLockFile(const fs::path& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return LockResult::kUnavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? LockResult::kBusy : LockResult::kUnavailable;
  }
  if (g_lockFd >= 0) close(g_lockFd);  // cannot happen: our own lock would have refused us
  g_lockFd = fd;
  return LockResult::kTaken;
}

void ReleaseLockFile() {
  if (g_lockFd < 0) return;
  close(g_lockFd);  // closing the last descriptor drops the flock
  g_lockFd = -1;
}

}  // namespace halvex::platform
