// Whole-file operations: delete, move, copy, folders, temporary names and
// the directory search.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/durable.h"
#include "platform/posix/internal.h"
#include "platform/testing.h"

namespace halvex::platform::posix {

namespace {

// DeleteFileW and MoveFileW remove a name as Windows does: through a handle
// with delete access that shares everything, so they pass any open that
// shares deletion.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a descriptor when the scope ends.
struct FdGuard {
  int fd = -1;
  ~FdGuard() {
    if (fd >= 0) close(fd);
  }
};

int RenameOnce(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) {
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  }
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  unlink(from.c_str());
  return 0;
}

}  // namespace

int RenameNoReplace(const std::string& from, const std::string& to) {
  const int err = RenameOnce(from, to);
  if (err == 0) RecordPathCall(halvex::platform::FsCall::kRename, from, to);
  return err;
}

namespace {

int CopyData(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (uint64_t at = 0;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : ENOSPC;
      done += w;
    }
    RecordFileCall(halvex::platform::FsCall::kWrite, to, {}, at, buffer.data(), static_cast<size_t>(n));
    at += static_cast<uint64_t>(n);
  }
}

// Refuses a copy onto an existing target that Windows would refuse: a
// folder, a read-only file, a file another handle keeps from writers, the
// source itself (under its own or another name: its reading handle keeps the
// writer out). Windows writes the target through a handle that shares
// reading and writing.
BOOL CheckTarget(const std::string& to, bool failIfExists, DWORD existsError, const struct stat& source) {
  struct stat st;
  if (stat(to.c_str(), &st) != 0) return errno == ENOENT ? TRUE : FailErrno(errno, to);
  if (failIfExists) return Fail(existsError);
  if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) return Fail(ERROR_SHARING_VIOLATION);
  if (!S_ISREG(st.st_mode) || IsReadOnlyMode(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  return ProbeShare(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE) ? TRUE : FALSE;
}

// Fills the temporary copy: data, DOS attributes, times, mode; then makes
// it durable so the rename never publishes an empty file. Returns 0 or errno.
int FillCopy(int src, int dst, const struct stat& st, WStringView fromName, WStringView toName) {
  if (int err = CopyData(src, dst)) return err;
  // Attributes go on before the mode: a read-only mode would refuse them.
  int err = StoreDosBits(dst, toName, DosBitsOf(src, fromName));
  if (err != 0 && err != ENOTSUP) return err;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(dst, times) != 0) return errno;
  if (fchmod(dst, st.st_mode & 0777) != 0) return errno;
  if (fsync(dst) != 0) return errno;
  RecordFileCall(FsCall::kFlush, dst);
  return 0;
}

bool HasWildcard(WStringView text) { return text.find_first_of(WTEXT("*?")) != WStringView::npos; }

// "*" any run of characters, "?" exactly one; everything else literally.
bool WildcardMatch(WStringView pattern, WStringView name) {
  if (pattern == WTEXT("*.*")) pattern = WTEXT("*");  // every name, with or without a dot
  size_t p = 0, n = 0, starP = WStringView::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++, starN = n;
    } else if (starP != WStringView::npos) {
      p = starP + 1, n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

// The first name in folder matching pattern, in name order (as NTFS lists
// them), or nothing with the last error set. Below a drive's root, Windows
// lists "." and ".." before every other name, and "*" matches them.
std::optional<WString> FirstMatch(const std::string& folder, WStringView pattern, bool isRoot) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    // "file\*": a search inside something that is not a folder.
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno));
    return std::nullopt;
  }
  if (!isRoot) {
    for (const WCHAR* dots : {WTEXT("."), WTEXT("..")}) {
      if (WildcardMatch(pattern, dots)) {
        closedir(dir);
        return WString(dots);
      }
    }
  }
  std::optional<WString> best;
  while (dirent* entry = readdir(dir)) {
    std::string_view raw = entry->d_name;
    if (raw == "." || raw == "..") continue;
    WString name = LibraryName(raw);
    if (WildcardMatch(pattern, name) && (!best || name < *best)) best = std::move(name);
  }
  closedir(dir);
  if (!best) SetLastError(ERROR_FILE_NOT_FOUND);
  return best;
}

BOOL FillFindData(const std::string& native, WStringView name, WIN32_FIND_DATAW* data) {
  struct stat st;
  // A dangling symbolic link is still an entry of its folder.
  if (stat(native.c_str(), &st) != 0 && lstat(native.c_str(), &st) != 0) return FailErrno(errno, native);
  if (name.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = AttributesOf(native, name, st.st_mode);
  data->ftCreationTime = FileTimeOf(st.st_mtim);  // no birth time in stat
  data->ftLastAccessTime = FileTimeOf(st.st_atim);
  data->ftLastWriteTime = FileTimeOf(st.st_mtim);
  const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  std::copy(name.begin(), name.end(), data->cFileName);
  return TRUE;
}

// The numbers GetTempFileNameW tries: one counter for the process, started
// from the clock and never 0, so a number comes back only after all 65535
// others (a name deleted since is not handed out again at once).
UINT NextTempNumber() {
  static std::mutex mutex;
  static UINT last = 0;
  std::lock_guard<std::mutex> lock(mutex);
  if (last == 0) last = GetTickCount() & 0xFFFF;
  last = last % 0xFFFF + 1;
  return last;
}

WString UpperHex(UINT value) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  WString text;
  do {
    text.insert(text.begin(), static_cast<WCHAR>(kDigits[value & 0xF]));
    value >>= 4;
  } while (value);
  return text;
}

bool CopyName(const WString& text, LPWSTR out) {
  if (text.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  return true;
}

}  // namespace

BOOL CopyNative(const std::string& from, const std::string& to, WStringView fromName, WStringView toName,
                bool failIfExists, DWORD existsError) {
  ChangeNote note;
  struct stat st;
  // Look before opening: a FIFO or device is never opened.
  if (stat(from.c_str(), &st) != 0) return FailErrno(errno, from);
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  FdGuard src{open(from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  if (src.fd < 0) return FailErrno(errno, from);
  if (fstat(src.fd, &st) != 0) return FailErrno(errno, from);
  if (!S_ISREG(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  // Windows reads the source sharing reading and writing: a file a writer
  // holds with read sharing can be copied.
  if (int err = TakeShareLocks(src.fd, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true)) {
    return Fail(ErrorFromErrno(err));
  }
  if (!CheckTarget(to, failIfExists, existsError, st)) return FALSE;

  std::string temp = NativeParent(to) + "/.halvex-copy-XXXXXX";
  FdGuard dst{mkostemp(temp.data(), O_CLOEXEC)};
  if (dst.fd < 0) return FailErrno(errno, to);
  RecordFileCall(FsCall::kCreate, dst.fd, temp);
  int err = FillCopy(src.fd, dst.fd, st, fromName, toName);
  if (err == 0) {
    err = close(dst.fd) == 0 ? 0 : errno;
    dst.fd = -1;
  }
  if (err == 0) {
    err = failIfExists ? RenameNoReplace(temp, to) : (rename(temp.c_str(), to.c_str()) == 0 ? 0 : errno);
    if (err == 0 && !failIfExists) RecordPathCall(FsCall::kRename, temp, to);
    if (err == EEXIST) {
      if (unlink(temp.c_str()) == 0) RecordPathCall(FsCall::kUnlink, temp);
      return Fail(existsError);
    }
  }
  if (err != 0) {
    if (unlink(temp.c_str()) == 0) RecordPathCall(FsCall::kUnlink, temp);
    return FailErrno(err, to);
  }
  SetLastError(ERROR_SUCCESS);  // nothing stale from the steps on the way
  return TRUE;
}

}  // namespace halvex::platform::posix

using namespace halvex::platform::posix;
using halvex::platform::FaultPoint;
using halvex::platform::FsCall;

BOOL DeleteFileW(LPCWSTR path) {
  auto native = NativeOrFail(path);
  if (!native) return FALSE;
  ChangeNote note;
  if (int err = TakeFault(FaultPoint::kDelete)) return FailErrno(err, *native);
  mode_t mode = 0;
  if (int err = LookAtName(*native, mode)) return FailErrno(err, *native);
  if (S_ISDIR(mode)) return Fail(ERROR_ACCESS_DENIED);
  FdGuard probe;
  if (S_ISREG(mode)) {
    if (IsReadOnlyMode(mode)) return Fail(ERROR_ACCESS_DENIED);
    // Keep the probe's gate shut through the unlink, so no handle slips in between.
    if (!ProbeShare(*native, kDeleteAccess, kShareAll, &probe.fd)) return FALSE;
  }
  if (unlink(native->c_str()) != 0) return FailErrno(errno, *native);
  RecordPathCall(FsCall::kUnlink, *native);
  return TRUE;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  ChangeNote note;
  auto source = NativeOrFail(from);
  if (!source) return FALSE;
  auto target = NativeOrFail(to);
  if (!target) return FALSE;
  if (int err = TakeFault(FaultPoint::kMove)) return FailErrno(err, *target);
  struct stat st;
  if (lstat(source->c_str(), &st) != 0) return FailErrno(errno, *source);
  FdGuard probe;
  if (S_ISREG(st.st_mode) && !ProbeShare(*source, kDeleteAccess, kShareAll, &probe.fd)) return FALSE;
  // A move onto its own name changes nothing, and succeeds as on Windows.
  if (*source == *target) return TRUE;

  int err = RenameNoReplace(*source, *target);
  if (err == EXDEV && S_ISREG(st.st_mode)) {
    // Another file system: copy, then remove the source, as Windows does
    // between volumes. The copy takes its own lock on the source, so the
    // probe's goes first and is taken again before the source is removed.
    close(probe.fd);
    probe.fd = -1;
    if (!CopyNative(*source, *target, FinalComponent(from), FinalComponent(to), true, ERROR_ALREADY_EXISTS))
      return FALSE;
    if (!ProbeShare(*source, kDeleteAccess, kShareAll, &probe.fd)) {
      const DWORD held = GetLastError();
      if (unlink(target->c_str()) == 0) RecordPathCall(FsCall::kUnlink, *target);  // the copy made here
      return Fail(held);
    }
    err = unlink(source->c_str()) == 0 ? 0 : errno;
    if (err == 0) RecordPathCall(FsCall::kUnlink, *source);
  }
  if (err == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (err != 0) return FailErrno(err, *target);
  return TRUE;
}

namespace halvex::platform {

namespace {

// What both ways of naming a held file share with MoveFileW: the fault
// point, the note of a change, and 183 for a name that is taken. name gives
// the file's descriptor the native target; it returns 0 or an errno value.
template <class Name>
bool NameHeldFile(HANDLE file, WStringView to, Name name) {
  auto target = posix::NativeOrFail(WString(to).c_str());
  if (!target) return false;
  const posix::HandleObject* object = posix::LookupHandle(file, posix::HandleObject::Kind::File);
  if (!object) return false;
  if (int err = posix::TakeFault(FaultPoint::kName)) return posix::FailErrno(err, *target);
  posix::ChangeNote note;
  const int err = name(object->fd, *target);
  if (err == EEXIST) return posix::Fail(ERROR_ALREADY_EXISTS);
  return err == 0 || posix::FailErrno(err, *target);
}

}  // namespace

bool RenameHeldFile(HANDLE file, WStringView from, WStringView to) {
  auto source = NativeOrFail(WString(from).c_str());
  if (!source) return false;
  return NameHeldFile(file, to, [&](int, const std::string& target) { return RenameNoReplace(*source, target); });
}

HANDLE CreateUnnamedFile(WStringView folder) {
  // A name is given through /proc/self/fd, or by the descriptor itself where
  // the process may (CAP_DAC_READ_SEARCH); without /proc, only a named file
  // is sure to get its name.
  static const bool canName = access("/proc/self/fd", X_OK) == 0;
  auto native = NativeOrFail(WString(folder).c_str());
  if (!native) return INVALID_HANDLE_VALUE;
  if (!canName || posix::NamedTemporariesForced()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_HANDLE_VALUE;
  }
  if (int err = posix::TakeFault(FaultPoint::kCreateUnnamed)) {
    posix::SetErrorFromErrno(err, *native);
    return INVALID_HANDLE_VALUE;
  }
  const int fd = open(native->c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetErrorFromErrno(errno, *native);
    return INVALID_HANDLE_VALUE;
  }
  posix::RecordFileCall(FsCall::kCreate, fd);
  // No share mode is recorded: nobody can open a file without a name, and
  // once it has one it is complete and flushed, and closed at once.
  SetLastError(ERROR_SUCCESS);
  return RegisterHandle(new HandleObject{HandleObject::Kind::File, fd, GENERIC_WRITE});
}

bool NameUnnamedFile(HANDLE file, WStringView to) {
  return NameHeldFile(file, to, [](int fd, const std::string& target) {
    // linkat never replaces what stands at the name.
    int err = linkat(fd, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
    if (err == ENOENT || err == EPERM) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      err = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    if (err == 0) posix::RecordFileCall(FsCall::kLink, fd, target);
    return err;
  });
}

}  // namespace halvex::platform

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  auto source = NativeOrFail(from);
  if (!source) return FALSE;
  auto target = NativeOrFail(to);
  if (!target) return FALSE;
  if (int err = TakeFault(FaultPoint::kCopy)) return FailErrno(err, *target);
  return CopyNative(*source, *target, FinalComponent(from), FinalComponent(to), failIfExists, ERROR_FILE_EXISTS);
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
  ChangeNote note;
  auto native = NativeOrFail(path);
  if (!native) return FALSE;
  if (mkdir(native->c_str(), 0777) == 0) return RecordPathCall(FsCall::kMkdir, *native), TRUE;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  return FailErrno(errno, *native);
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  ChangeNote note;
  auto native = NativeOrFail(path);
  if (!native) return FALSE;
  struct stat st;
  if (lstat(native->c_str(), &st) != 0) return FailErrno(errno, *native);
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (rmdir(native->c_str()) != 0) return FailErrno(errno, *native);
  RecordPathCall(FsCall::kUnlink, *native);
  return TRUE;
}

UINT GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
  ChangeNote note;
  if (!folder || !*folder || !name) return Fail(ERROR_INVALID_PARAMETER);
  WString base(folder);
  if (base.back() != u'\\') base += u'\\';
  if (prefix) base += WStringView(prefix).substr(0, 3);
  // Only the low 16 bits count, as on Windows.
  const auto nameFor = [&](UINT n) { return base + UpperHex(n & 0xFFFF) + WTEXT(".TMP"); };

  if (unique != 0) {
    // Nothing is created, but the folder must be there, as on Windows.
    auto native = NativeOrFail(folder);
    if (!native) return 0;
    struct stat st;
    const int err = stat(native->c_str(), &st) == 0 ? 0 : errno;
    if (err != 0 && err != ENOENT && err != ENOTDIR) return FailErrno(err, *native);
    if (err != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
    return CopyName(nameFor(unique), name) ? unique : 0;
  }

  for (UINT tries = 0; tries < 0xFFFF; ++tries) {
    const UINT n = NextTempNumber();
    const WString candidate = nameFor(n);
    if (candidate.size() >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE);
    auto native = NativeOrFail(candidate.c_str());
    if (!native) return 0;
    int fd = open(native->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      RecordFileCall(FsCall::kCreate, fd, *native);
      close(fd);
      return CopyName(candidate, name) ? n : 0;
    }
    // Windows reports a missing folder as an invalid directory name.
    if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_DIRECTORY);
    if (errno != EEXIST) return FailErrno(errno, *native);
  }
  return Fail(ERROR_FILE_EXISTS);
}

HANDLE FindFirstFileW(LPCWSTR path, WIN32_FIND_DATAW* data) {
  if (!path || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const WStringView whole = path;
  const size_t slash = whole.rfind(u'\\');
  const WString name = FinalComponent(whole);
  // A folder part with wildcards, or no name at all ("C:\", "C:\Docs\").
  if (slash == WStringView::npos || HasWildcard(whole.substr(0, slash))) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  if (slash + 1 == whole.size()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  WString found = name;
  if (HasWildcard(name)) {
    auto folder = NativeOrFail(WString(whole.substr(0, slash + 1)).c_str());
    if (!folder) return INVALID_HANDLE_VALUE;
    const bool isRoot = slash == 2 && whole[1] == u':';
    auto match = FirstMatch(*folder, name, isRoot);
    if (!match) return INVALID_HANDLE_VALUE;
    found = *match;
  }
  auto native = NativeOrFail((WString(whole.substr(0, slash + 1)) + found).c_str());
  if (!native || !FillFindData(*native, found, data)) return INVALID_HANDLE_VALUE;
  return RegisterHandle(new HandleObject{HandleObject::Kind::Find});
}

BOOL FindClose(HANDLE find) {
  HandleObject* object = UnregisterHandle(find, HandleObject::Kind::Find);
  if (!object) return FALSE;
  delete object;
  return TRUE;
}
