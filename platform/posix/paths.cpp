// The drive map: library paths ("C:\Docs\plan.doc") <-> native POSIX paths.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "platform/durable.h"
#include "platform/posix/internal.h"
#include "platform/testing.h"

namespace halvex::platform {

namespace {

struct Drive {
  char letter;       // upper case
  std::string root;  // absolute, no trailing "/" unless it is "/"
};
using DriveMap = std::vector<Drive>;

char UpperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string TrimTrailingSlashes(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

const Drive* FindDrive(const DriveMap& map, char letter) {
  for (const Drive& d : map)
    if (d.letter == UpperLetter(letter)) return &d;
  return nullptr;
}

// "C=/srv/c;V=/media/vault". Entries that are not a letter, "=" and an
// absolute path are ignored; the first mapping of a letter wins, so a test
// can put its own drive in front of an inherited map.
DriveMap ParseDriveMap(const char* text) {
  DriveMap map;
  std::string_view rest = text ? text : "";
  while (!rest.empty()) {
    size_t end = rest.find(';');
    std::string_view entry = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (entry.size() < 3 || !IsLetter(entry[0]) || entry[1] != '=' || entry[2] != '/') continue;
    if (FindDrive(map, entry[0])) continue;
    map.push_back({UpperLetter(entry[0]), TrimTrailingSlashes(std::string(entry.substr(2)))});
  }
  // Z: is the whole file system unless mapped otherwise.
  if (!FindDrive(map, 'Z')) map.push_back({'Z', "/"});
  return map;
}

std::mutex mapMutex;
std::shared_ptr<const DriveMap> currentMap;
// Counts the maps made, so answers kept from an older one are not used.
std::atomic<uint64_t> mapGeneration{0};

std::shared_ptr<const DriveMap> Map() {
  std::lock_guard<std::mutex> lock(mapMutex);
  if (!currentMap) {
    currentMap = std::make_shared<const DriveMap>(ParseDriveMap(std::getenv("HALVEX_DRIVES")));
    mapGeneration.fetch_add(1, std::memory_order_release);
  }
  return currentMap;
}

// The native path, or nothing with the Win32 error that explains why.
std::pair<std::optional<std::string>, DWORD> ResolveNow(WStringView path) {
  if (path.size() < 2 || path[1] != u':' || path[0] > 0x7F || !IsLetter(static_cast<char>(path[0])))
    return {std::nullopt, ERROR_PATH_NOT_FOUND};
  auto map = Map();
  const Drive* drive = FindDrive(*map, static_cast<char>(path[0]));
  if (!drive) return {std::nullopt, ERROR_PATH_NOT_FOUND};
  WStringView rest = path.substr(2);
  if (rest.empty() || rest == WTEXT("\\")) return {drive->root, ERROR_SUCCESS};
  if (rest[0] != u'\\') return {std::nullopt, ERROR_INVALID_NAME};  // "C:Docs": no current folder here
  std::string native = drive->root == "/" ? std::string() : drive->root;
  // Only the backslashes separate; every name between them is unmapped alone.
  for (rest.remove_prefix(1);;) {
    const size_t end = rest.find(u'\\');
    std::optional<std::string> name = posix::NativeName(rest.substr(0, end));
    if (!name) return {std::nullopt, ERROR_INVALID_NAME};
    native += '/' + *name;
    if (end == WStringView::npos) break;
    rest.remove_prefix(end + 1);
  }
  return {native, ERROR_SUCCESS};
}

// The library asks about one file's paths many times in a row: the last few
// answers are kept per thread, with the drive map they were made under.
std::pair<std::optional<std::string>, DWORD> Resolve(WStringView path) {
  struct Answer {
    uint64_t generation = 0;
    WString path;
    std::pair<std::optional<std::string>, DWORD> result;
  };
  constexpr size_t kKept = 4;
  thread_local std::array<Answer, kKept> kept;
  thread_local size_t next = 0;
  if (mapGeneration.load(std::memory_order_acquire) == 0) Map();  // the first map, before the look
  const uint64_t generation = mapGeneration.load(std::memory_order_acquire);
  for (const Answer& a : kept)
    if (a.generation == generation && a.path == path) return a.result;
  Answer& slot = kept[next];
  next = (next + 1) % kKept;
  slot = {generation, WString(path), ResolveNow(path)};
  return slot.result;
}

bool Contains(const std::string& root, std::string_view native) {
  if (root == "/") return true;
  return native.substr(0, root.size()) == root && (native.size() == root.size() || native[root.size()] == '/');
}

}  // namespace

std::optional<std::string> ToNativePath(WStringView path) { return Resolve(path).first; }

std::optional<WString> FromNativePath(std::string_view native) {
  if (native.empty() || native[0] != '/') return std::nullopt;
  auto map = Map();
  const Drive* best = nullptr;
  for (const Drive& d : *map)
    if (Contains(d.root, native) && (!best || d.root.size() > best->root.size())) best = &d;
  if (!best) return std::nullopt;

  WString out{static_cast<WCHAR>(best->letter), u':'};
  std::string_view rest = best->root == "/" ? native : native.substr(best->root.size());
  while (!rest.empty()) {
    size_t end = rest.find('/');
    std::string_view component = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (component.empty()) continue;
    out += u'\\';
    out += posix::LibraryName(component);
  }
  if (out.size() == 2) out += u'\\';
  return out;
}

std::string DisplayPath(WStringView path) {
  if (auto native = ToNativePath(path)) return Printable(*native);
  // A tail such as "...docs\a.txt": the same names, the native separator.
  std::string out;
  for (;;) {
    const size_t end = path.find(u'\\');
    WStringView name = path.substr(0, end);
    out += posix::NativeName(name).value_or(ToUtf8(name));
    if (end == WStringView::npos) break;
    out += '/';
    path.remove_prefix(end + 1);
  }
  return Printable(out);
}

void ReloadDriveMap() {
  auto fresh = std::make_shared<const DriveMap>(ParseDriveMap(std::getenv("HALVEX_DRIVES")));
  std::lock_guard<std::mutex> lock(mapMutex);
  currentMap = std::move(fresh);
  mapGeneration.fetch_add(1, std::memory_order_release);
}

bool SyncDirectory(WStringView folder) {
  auto native = ToNativePath(folder);
  if (!native) return false;
  return posix::SyncNativeFolder(*native) == 0;
}

namespace posix {

int SyncNativeFolder(const std::string& native) {
  if (int fault = TakeFault(FaultPoint::kSyncFolder)) return fault;
  int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  // Some file systems cannot sync a folder and say so with EINVAL; their
  // renames are as durable as they will ever be.
  if (error == EINVAL) error = 0;
  if (error == 0) RecordPathCall(FsCall::kSyncFolder, native);
  return error;
}

std::optional<std::string> NativeOrFail(LPCWSTR path) {
  if (!path) {
    SetLastError(ERROR_PATH_NOT_FOUND);  // as Windows answers a null path
    return std::nullopt;
  }
  auto [native, error] = Resolve(path);
  if (!native) SetLastError(error);
  return native;
}

WString FinalComponent(WStringView path) {
  while (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
  size_t slash = path.rfind(u'\\');
  if (slash == WStringView::npos) return WString();  // "C:" itself
  return WString(path.substr(slash + 1));
}

std::string NativeParent(const std::string& native) {
  std::string_view p = native;
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  size_t slash = p.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(p.substr(0, slash));
}

}  // namespace posix

}  // namespace halvex::platform
