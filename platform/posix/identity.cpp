// GetFileIdentity and FileClockNow over statx and the kernel's coarse clock.
// DeleteFileIfSame moves the file aside before it compares and deletes it.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/gcrypt.h"
#include "platform/identity.h"
#include "platform/posix/internal.h"
#include "platform/testing.h"

namespace halvex::platform {

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

int64_t Ticks(int64_t seconds, int64_t nanoseconds) {
  return seconds * 10'000'000 + nanoseconds / 100 + kUnixEpochAsFileTime;
}

int64_t Ticks(const struct statx_timestamp& t) { return Ticks(t.tv_sec, t.tv_nsec); }

FileIdentity IdentityOf(const struct statx& sx) {
  FileIdentity id;
  id.volume = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  id.index = sx.stx_ino;
  id.size = sx.stx_size;
  id.lastWrite = Ticks(sx.stx_mtime);
  id.change = Ticks(sx.stx_ctime);
  id.creation = (sx.stx_mask & STATX_BTIME) ? Ticks(sx.stx_btime) : id.change;
  id.links = sx.stx_nlink;
  return id;
}

// ---- DeleteFileIfSame -------------------------------------------------------
// A name, however briefly, is all a program saving a new version needs to
// put that version at it. So the file leaves its name first: what lies
// under the aside name is one file, which nobody else saves over, and the
// comparison and the delete are about that file alone.

// The aside name of a file named name: ".hvxdel-XXXXXXXX-" and the name, cut
// to a name's limit. Never the cipher's temporary names (".hvx-*.tmp"), which
// are safe to delete; this one may be the only copy of a newer version.
std::string AsideName(const std::string& name) {
  unsigned char tag[4];
  RandomBytes(tag, sizeof tag);
  char prefix[32];
  snprintf(prefix, sizeof prefix, ".hvxdel-%02x%02x%02x%02x-", tag[0], tag[1], tag[2], tag[3]);
  std::string aside = prefix + name;
  if (aside.size() > NAME_MAX) aside.resize(NAME_MAX);
  return aside;
}

// Renames native to a fresh aside name in its folder. Returns 0 or an errno
// value. Where the file system cannot refuse to replace, the random name
// alone keeps it from meeting another file.
int MoveAside(const std::string& native, std::string& aside) {
  const size_t slash = native.rfind('/');
  const std::string folder = native.substr(0, slash + 1);
  int err = EEXIST;
  for (int attempt = 0; attempt < 8 && err == EEXIST; ++attempt) {
    aside = folder + AsideName(native.substr(slash + 1));
    err = renameat2(AT_FDCWD, native.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (err == EINVAL || err == ENOSYS) err = rename(native.c_str(), aside.c_str()) == 0 ? 0 : errno;
  }
  if (err == 0) posix::RecordPathCall(FsCall::kRename, native, aside);
  return err;
}

// The file lying at aside, looked at now: no scope's memory of it counts.
std::optional<FileIdentity> FreshIdentity(const std::string& native) {
  struct statx sx;
  if (statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return std::nullopt;
  return IdentityOf(sx);
}

// Brings a file that is not to be deleted back to its name, unless the name
// was taken meanwhile: then it stays aside, and keptAt (in the library's
// form) says where.
DeleteIfSame PutBack(const std::string& aside, const std::string& native, LPCWSTR path, WString* keptAt) {
  const int err = posix::RenameNoReplace(aside, native);
  // ENOENT: somebody removed it from the aside name; there is nothing to name.
  if (err == 0 || err == ENOENT) return DeleteIfSame::kChanged;
  if (keptAt) {
    const WString library(path);
    const size_t separator = library.find_last_of(WTEXT("\\/"));
    *keptAt = library.substr(0, separator + 1) + posix::LibraryName(aside.substr(aside.rfind('/') + 1));
  }
  return DeleteIfSame::kChanged;
}

// The checks of DeleteFileW: a folder or a read-only file is refused. On
// success the share probe's descriptor keeps other opens out until closed.
bool MayDelete(const std::string& native, int& probe) {
  mode_t mode = 0;
  if (int err = posix::LookAtName(native, mode)) return posix::FailErrno(err, native);
  if (S_ISDIR(mode) || (S_ISREG(mode) && posix::IsReadOnlyMode(mode))) return posix::Fail(ERROR_ACCESS_DENIED);
  return !S_ISREG(mode) || posix::ProbeShare(native, posix::kDeleteAccess,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &probe);
}

DeleteIfSame CheckAndDelete(const std::string& native, LPCWSTR path, const FileIdentity& expected, WString* keptAt) {
  posix::RunDeleteHook(DeleteStep::kChecked);
  std::string aside;
  if (int err = MoveAside(native, aside)) {
    // Gone since the caller's look: nothing of it is ours to delete.
    if (err == ENOENT) return DeleteIfSame::kChanged;
    posix::SetErrorFromErrno(err, native);
    return DeleteIfSame::kFailed;
  }
  posix::RunDeleteHook(DeleteStep::kMovedAside);
  const auto found = FreshIdentity(aside);
  if (!found || !found->SameFileSameData(expected)) return PutBack(aside, native, path, keptAt);
  if (unlink(aside.c_str()) == 0) {
    posix::RecordPathCall(FsCall::kUnlink, aside);
    return DeleteIfSame::kDeleted;
  }
  const int err = errno;
  if (PutBack(aside, native, path, keptAt) == DeleteIfSame::kChanged && keptAt && !keptAt->empty())
    return DeleteIfSame::kChanged;  // both files kept: the caller must not undo anything
  posix::SetErrorFromErrno(err, native);
  return DeleteIfSame::kFailed;
}

}  // namespace

std::optional<FileIdentity> GetFileIdentity(LPCWSTR path) {
  auto native = posix::NativeOrFail(path);
  if (!native) return std::nullopt;
  struct statx sx;
  if (int err = posix::LookAt(*native, sx)) {
    posix::SetErrorFromErrno(err, *native);
    return std::nullopt;
  }
  return IdentityOf(sx);
}

DeleteIfSame DeleteFileIfSame(LPCWSTR path, const FileIdentity& expected, WString* keptAt) {
  if (keptAt) keptAt->clear();
  auto native = posix::NativeOrFail(path);
  if (!native) return DeleteIfSame::kFailed;
  posix::ChangeNote note;
  if (int err = posix::TakeFault(FaultPoint::kDelete)) return posix::FailErrno(err, *native), DeleteIfSame::kFailed;
  int probe = -1;
  if (!MayDelete(*native, probe))
    return GetLastError() == ERROR_FILE_NOT_FOUND ? DeleteIfSame::kChanged : DeleteIfSame::kFailed;
  // The probe's gate stays shut through the delete, so no handle slips in.
  const DeleteIfSame result = CheckAndDelete(*native, path, expected, keptAt);
  if (probe >= 0) close(probe);
  return result;
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
