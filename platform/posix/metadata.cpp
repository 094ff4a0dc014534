// A file's metadata over POSIX: fstat for the time, mode and owner, the
// user and group databases for the owner's names, and the *xattr calls for
// the extended attributes (POSIX ACLs among them).
#include "platform/metadata.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "platform/posix/internal.h"

namespace halvex::platform {
namespace {

// The user and group databases may load modules of their own; a static
// program (the self-extractor) keeps to numbers.
#ifdef HALVEX_NO_NAME_SERVICE
std::string UserName(uid_t) { return {}; }
std::string GroupName(gid_t) { return {}; }
std::optional<uid_t> UserId(const std::string&) { return std::nullopt; }
std::optional<gid_t> GroupId(const std::string&) { return std::nullopt; }
#else
std::string LookUpUserName(uid_t uid) {
  char buffer[4096];
  struct passwd entry, *found = nullptr;
  return getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found ? found->pw_name : "";
}
std::string LookUpGroupName(gid_t gid) {
  char buffer[4096];
  struct group entry, *found = nullptr;
  return getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found ? found->gr_name : "";
}
// Every source of a batch asks, and most have one owner: the databases are
// files read again on each lookup, so the answers are kept for the process.
template <typename Id>
std::string Remembered(Id id, std::string (*lookUp)(Id)) {
  static std::mutex mutex;
  static std::map<std::pair<std::string (*)(Id), Id>, std::string> known;
  std::lock_guard lock(mutex);
  auto [it, added] = known.try_emplace({lookUp, id});
  if (added) it->second = lookUp(id);
  return it->second;
}
std::string UserName(uid_t uid) { return Remembered(uid, &LookUpUserName); }
std::string GroupName(gid_t gid) { return Remembered(gid, &LookUpGroupName); }

std::optional<uid_t> UserId(const std::string& name) {
  char buffer[4096];
  struct passwd entry, *found = nullptr;
  if (name.empty() || getpwnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
    return std::nullopt;
  return found->pw_uid;
}
std::optional<gid_t> GroupId(const std::string& name) {
  char buffer[4096];
  struct group entry, *found = nullptr;
  if (name.empty() || getgrnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found)
    return std::nullopt;
  return found->gr_gid;
}
#endif

// The names of fd's extended attributes, NUL-separated; the list may change
// between asking its size and reading it, so a short buffer is asked again.
std::vector<char> AttributeNames(int fd) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = flistxattr(fd, nullptr, 0);
    if (size <= 0) return {};
    std::vector<char> names(static_cast<size_t>(size));
    ssize_t got = flistxattr(fd, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<size_t>(got));
      return names;
    }
    if (errno != ERANGE) return {};
  }
  return {};
}

std::optional<std::string> AttributeValue(int fd, const char* name) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = fgetxattr(fd, name, nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<size_t>(size), '\0');
    ssize_t got = fgetxattr(fd, name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<size_t>(got));
      return value;
    }
    if (errno != ERANGE) return std::nullopt;
  }
  return std::nullopt;
}

void ReadAttributes(int fd, FileMetadata* m) {
  std::vector<char> names = AttributeNames(fd);
  for (size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    size_t length = strnlen(name, names.size() - at);
    at += length + 1;
    if (length == 0) continue;
    if (auto value = AttributeValue(fd, name)) m->xattrs.emplace_back(std::string(name, length), *value);
  }
}

void Miss(std::vector<MetadataMiss>& misses, std::string what, int err) {
  misses.push_back({std::move(what), posix::ErrorFromErrno(err)});
}

}  // namespace

bool ReadFileMetadata(HANDLE file, FileMetadata* m) {
  const int fd = posix::DescriptorOf(file);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) return posix::Fail(posix::ErrorFromErrno(errno));
  *m = FileMetadata{};
  m->hasTime = true;
  m->seconds = st.st_mtim.tv_sec;
  m->nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  m->hasMode = true;
  m->mode = st.st_mode & 07777;
  m->hasOwner = true;
  m->uid = st.st_uid;
  m->gid = st.st_gid;
  m->user = UserName(st.st_uid);
  m->group = GroupName(st.st_gid);
  ReadAttributes(fd, m);
  return true;
}

std::vector<MetadataMiss> ApplyFileMetadata(HANDLE file, const FileMetadata& m) {
  std::vector<MetadataMiss> misses;
  const int fd = posix::DescriptorOf(file);
  if (fd < 0) {
    misses.push_back({"file", GetLastError()});
    return misses;
  }
  posix::ChangeNote note;
  // Attributes first: an access ACL sets the group bits, which the mode
  // below then states exactly as they were.
  for (const auto& [name, value] : m.xattrs)
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) Miss(misses, name, errno);
  bool ownerApplied = false;
  if (m.hasOwner && geteuid() == 0) {
    const uid_t uid = UserId(m.user).value_or(m.uid);
    const gid_t gid = GroupId(m.group).value_or(m.gid);
    if (fchown(fd, uid, gid) == 0) ownerApplied = true;
    else Miss(misses, "owner", errno);
  }
  if (m.hasMode) {
    // A set-id bit on a file whose owner stayed the restorer's would hand
    // that user's rights to whoever runs it.
    const mode_t mode = static_cast<mode_t>(m.mode & (ownerApplied ? 07777 : 01777));
    if (fchmod(fd, mode) != 0) Miss(misses, "mode", errno);
  }
  if (m.hasTime) {
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {static_cast<time_t>(m.seconds), static_cast<long>(m.nanoseconds)}};
    if (futimens(fd, times) != 0) Miss(misses, "time", errno);
  }
  return misses;
}

}  // namespace halvex::platform
