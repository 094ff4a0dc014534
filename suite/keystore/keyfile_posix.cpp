// The key store's files on POSIX: mode 0600, link() to publish without replacing.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "suite/keystore/keyfile_os.h"

namespace halvex::keystore::os {

namespace fs = std::filesystem;

fs::path DefaultKeyFilePath() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    return fs::path(config) / "halvex" / "keystore";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".config" / "halvex" / "keystore";
  return {};
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
  // File systems without hard links: an atomic rename that refuses to replace.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return Publish::kDone;
  return errno == EEXIST ? Publish::kExists : Publish::kFailed;
}

bool PublishReplace(const fs::path& from, const fs::path& to) { return rename(from.c_str(), to.c_str()) == 0; }

void SyncFolder(const fs::path& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace halvex::keystore::os
