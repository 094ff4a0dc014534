// DOS file attributes over POSIX: read-only from the mode's write bits,
// hidden and system from the "user.DOSATTRIB" extended attribute, stored the
// way other Windows-compatibility layers on Linux store it ("0x" and
// lower-case hex, no NUL), so files keep their attributes between them.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "platform/posix/internal.h"
#include "platform/testing.h"

namespace halvex::platform::posix {

namespace {

constexpr const char* kDosAttrib = "user.DOSATTRIB";
constexpr DWORD kStoredBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Where an extended attribute is read or written: an open file or a path.
struct XattrTarget {
  int fd = -1;
  const char* path = nullptr;
};

ssize_t GetX(XattrTarget t, char* buffer, size_t size) {
  return t.fd >= 0 ? fgetxattr(t.fd, kDosAttrib, buffer, size) : getxattr(t.path, kDosAttrib, buffer, size);
}
int SetX(XattrTarget t, const char* value, size_t size) {
  return t.fd >= 0 ? fsetxattr(t.fd, kDosAttrib, value, size, 0) : setxattr(t.path, kDosAttrib, value, size, 0);
}
int RemoveX(XattrTarget t) { return t.fd >= 0 ? fremovexattr(t.fd, kDosAttrib) : removexattr(t.path, kDosAttrib); }

// The stored hidden and system bits, or nothing when no readable value is
// stored (then the name decides).
std::optional<DWORD> ReadStoredBits(XattrTarget t) {
  char buffer[64];
  ssize_t n = GetX(t, buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  std::string_view text(buffer, static_cast<size_t>(n));
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);  // some writers add one
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
  DWORD value = 0;
  auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value & kStoredBits;
}

bool IsDotName(WStringView name) { return !name.empty() && name[0] == u'.' && name != WTEXT(".") && name != WTEXT(".."); }

// What a file of this name shows when nothing is stored.
DWORD DefaultBits(WStringView name) { return IsDotName(name) ? FILE_ATTRIBUTE_HIDDEN : 0; }

// The stored bits of t; a path's are read once in a LookScope.
std::optional<DWORD> StoredBits(XattrTarget t) {
  if (t.fd >= 0) return ReadStoredBits(t);
  Look* look = Remembered(t.path);
  if (!look) return ReadStoredBits(t);
  if (!look->bitsKnown) {
    look->storedBits = ReadStoredBits(t);
    look->bitsKnown = true;
  }
  return look->storedBits;
}

DWORD EffectiveBits(XattrTarget t, WStringView name) { return StoredBits(t).value_or(DefaultBits(name)); }

// Makes the stored attribute give bits: removed where the name gives the same
// answer, otherwise written. Returns 0 or an errno value.
int StoreBits(XattrTarget t, WStringView name, DWORD bits) {
  bits &= kStoredBits;
  if (bits == DefaultBits(name)) {
    if (RemoveX(t) == 0 || errno == ENODATA || errno == ENOTSUP) return 0;
    return errno;
  }
  char value[16];
  int length = std::snprintf(value, sizeof value, "0x%x", static_cast<unsigned>(bits));
  return SetX(t, value, static_cast<size_t>(length)) == 0 ? 0 : errno;
}

// Whether the caller may change the file's attributes at all, as Windows
// decides it for read-only media and for files that are not the user's.
// Checked up front because a request that changes nothing writes nothing,
// and the library uses such a request as a write probe.
BOOL CheckMayChange(const std::string& native, const struct statx& sx) {
  if (OnReadOnlyMount(native, sx)) return Fail(ERROR_WRITE_PROTECT);
  const uint64_t frozen = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if (sx.stx_attributes & sx.stx_attributes_mask & frozen) return Fail(ERROR_ACCESS_DENIED);
  const uid_t self = geteuid();
  if (self != 0 && self != sx.stx_uid) return Fail(ERROR_ACCESS_DENIED);
  return TRUE;
}

// The mode SetFileAttributesW gives a file: read-only clears every write bit;
// leaving read-only gives back the owner's write bit and the group's and
// others' where they may read, as far as the umask allows. The owner's bit is
// kept even under a umask that masks it, or the file would stay read-only.
mode_t ModeFor(mode_t mode, bool readOnly) {
  mode &= 07777;
  if (readOnly) return mode & ~static_cast<mode_t>(0222);
  if (!IsReadOnlyMode(mode)) return mode;
  mode_t added = 0;
  if (mode & S_IRGRP) added |= S_IWGRP;
  if (mode & S_IROTH) added |= S_IWOTH;
  return mode | S_IWUSR | (added & ~CurrentUmask());
}

}  // namespace

bool IsReadOnlyMode(mode_t mode) { return (mode & 0222) == 0; }

mode_t CurrentUmask() {
  // /proc gives the umask without the set-and-restore race of umask().
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  mode_t mask = umask(022);
  umask(mask);
  return mask;
}

DWORD AttributesOf(const std::string& native, WStringView name, mode_t mode) {
  DWORD bits = 0;
  if (S_ISDIR(mode)) bits |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnlyMode(mode)) bits |= FILE_ATTRIBUTE_READONLY;
  bits |= EffectiveBits({.path = native.c_str()}, name);
  return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

DWORD DosBitsOf(int fd, WStringView name) { return EffectiveBits({.fd = fd}, name); }

int StoreDosBits(int fd, WStringView name, DWORD bits) {
  if (EffectiveBits({.fd = fd}, name) == (bits & kStoredBits)) return 0;
  ChangeNote note;
  return StoreBits({.fd = fd}, name, bits);
}

}  // namespace halvex::platform::posix

using namespace halvex::platform::posix;
using halvex::platform::FaultPoint;

DWORD GetFileAttributesW(LPCWSTR path) {
  auto native = NativeOrFail(path);
  if (!native) return INVALID_FILE_ATTRIBUTES;
  struct statx sx;
  if (int err = LookAt(*native, sx)) {
    SetErrorFromErrno(err, *native);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(*native, FinalComponent(path), sx.stx_mode);
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  auto native = NativeOrFail(path);
  if (!native) return FALSE;
  if (int err = TakeFault(FaultPoint::kSetAttributes)) return FailErrno(err, *native);
  // One look gives the mode, the owner and the immutable flags.
  struct statx sx;
  if (int err = LookAt(*native, sx)) return FailErrno(err, *native);
  if (!CheckMayChange(*native, sx)) return FALSE;

  const WString name = FinalComponent(path);
  const XattrTarget target{.path = native->c_str()};
  const DWORD wanted = attributes & kStoredBits;  // FILE_ATTRIBUTE_NORMAL: none of them
  const bool xattrChanges = EffectiveBits(target, name) != wanted;
  const mode_t mode = sx.stx_mode & 07777;
  // Read-only has no meaning for a Windows folder's contents; a POSIX folder
  // without write bits would refuse new files, so folders keep their mode.
  const mode_t newMode = S_ISDIR(sx.stx_mode) ? mode : ModeFor(mode, attributes & FILE_ATTRIBUTE_READONLY);

  // A request that changes nothing (the library's write probe) changes
  // nothing a LookScope remembers either.
  std::optional<ChangeNote> note;
  if (xattrChanges || newMode != mode) note.emplace();
  if (xattrChanges) {
    // Writing a user attribute needs write access to the file: lend the owner
    // write bit for the moment when the file is read-only before and after.
    mode_t during = (mode & S_IWUSR) || (newMode & S_IWUSR) ? newMode : (newMode | S_IWUSR);
    if ((mode & S_IWUSR) == 0 && during != mode && chmod(native->c_str(), during) != 0)
      return FailErrno(errno, *native);
    int err = StoreBits(target, name, wanted);
    // Where nothing can be stored, a dot-name stays hidden: that is the
    // name's doing, not an attribute this call failed to clear.
    if (err == ENOTSUP && wanted == 0) err = 0;
    if (err != 0) {
      chmod(native->c_str(), mode);
      return Fail(err == ENOTSUP ? ERROR_NOT_SUPPORTED : ErrorFromErrno(err));
    }
  }
  // Storing the attribute may have lent the write bit: look again then.
  mode_t current = mode;
  if (xattrChanges) {
    struct stat now;
    if (stat(native->c_str(), &now) != 0) return FailErrno(errno, *native);
    current = now.st_mode & 07777;
  }
  if (current != newMode && chmod(native->c_str(), newMode) != 0) return FailErrno(errno, *native);
  return TRUE;
}
