// What a LookScope remembers of the paths looked at in it, and the count of
// changes that makes it forget.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/looks.h"
#include "platform/posix/internal.h"

namespace halvex::platform::posix {

namespace {

// Bumped by every change this process makes through the layer; a scope's
// memory is good only while the count stands where it was when it was made.
std::atomic<uint64_t> changes{0};

// Two paths cover a file's checks: the file and its output.
constexpr size_t kRemembered = 2;

// A look's handle, closed in the scope: the next open of the same path for
// reading takes its descriptor over rather than opening the path again.
struct ParkedLook {
  std::unique_ptr<HandleObject> look;
  uint64_t madeAt = 0;

  void Drop() {
    if (look) close(look->fd);
    look.reset();
  }
};

struct ScopeMemory {
  int depth = 0;
  bool ended = false;  // EndLookScopes: nothing remembered until depth is 0
  uint64_t madeAt = 0;
  std::array<Look, kRemembered> looks;
  size_t next = 0;
  ParkedLook parked;

  ~ScopeMemory() { parked.Drop(); }

  bool Open() const { return depth > 0 && !ended; }

  void Forget() {
    for (Look& look : looks) look = Look{};
    next = 0;
    parked.Drop();
  }
};

thread_local ScopeMemory memory;

int StatxOf(const std::string& native, struct statx& sx, int flags = 0) {
  return statx(AT_FDCWD, native.c_str(), AT_STATX_SYNC_AS_STAT | flags, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0
             ? 0
             : errno;
}

// A record's look: the name itself first, and only a link followed after,
// so that one call answers both questions for anything but a link.
void LookAtBoth(Look& look) {
  look.nameErr = StatxOf(look.native, look.sx, AT_SYMLINK_NOFOLLOW);
  look.nameMode = look.sx.stx_mode;
  look.err = look.nameErr;
  if (look.nameErr == 0 && S_ISLNK(look.nameMode)) look.err = StatxOf(look.native, look.sx);
}

}  // namespace

void NoteChange() { changes.fetch_add(1, std::memory_order_relaxed); }

Look* Remembered(const std::string& native) {
  if (!memory.Open()) return nullptr;
  const uint64_t now = changes.load(std::memory_order_relaxed);
  if (now != memory.madeAt) {
    memory.Forget();
    memory.madeAt = now;
  }
  for (Look& look : memory.looks)
    if (look.known && look.native == native) return &look;
  Look& look = memory.looks[memory.next];
  memory.next = (memory.next + 1) % kRemembered;
  look = Look{};
  look.native = native;
  LookAtBoth(look);
  look.known = true;
  return &look;
}

int LookAtName(const std::string& native, mode_t& mode) {
  if (const Look* look = Remembered(native)) {
    mode = look->nameMode;
    return look->nameErr;
  }
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return errno;
  mode = st.st_mode;
  return 0;
}

int LookAt(const std::string& native, struct statx& sx) {
  if (const Look* look = Remembered(native)) {
    sx = look->sx;
    return look->err;
  }
  return StatxOf(native, sx);
}

bool ParkLookHandle(std::unique_ptr<HandleObject>& closing) {
  if (!memory.Open() || closing->lookedAt.empty()) return false;
  memory.parked.Drop();
  memory.parked.look = std::move(closing);
  memory.parked.madeAt = changes.load(std::memory_order_relaxed);
  return true;
}

int TakeParkedDescriptor(const std::string& native, HandleObject* handle) {
  const HandleObject* parked = memory.parked.look.get();
  if (!parked || !memory.Open() || parked->lookedAt != native) return -1;
  // Whatever this process changed since may have put another file at the
  // name: only a fresh open sees which.
  if (memory.parked.madeAt != changes.load(std::memory_order_relaxed) ||
      (handle && !parked->atStart && lseek(parked->fd, 0, SEEK_SET) != 0)) {
    memory.parked.Drop();
    return -1;
  }
  if (handle) {
    handle->opened = parked->opened;
    handle->openedFresh = parked->openedFresh.load();
    handle->atStart = true;
  }
  const int fd = parked->fd;
  memory.parked.look.reset();
  return fd;
}

bool OnReadOnlyMount(const std::string& native, const struct statx& sx) {
  // Mounts change rarely, and one found writable here that has just become
  // read-only still refuses the write itself: the answer is kept for a second
  // per device rather than asked again for every file.
  struct Answer {
    bool readOnly;
    int64_t until;
  };
  static std::mutex mutex;
  static std::unordered_map<uint64_t, Answer> answers;
  struct timespec clock;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &clock);
  const int64_t now = clock.tv_sec * 1000 + clock.tv_nsec / 1'000'000;
  const uint64_t device = (static_cast<uint64_t>(sx.stx_dev_major) << 32) | sx.stx_dev_minor;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = answers.find(device);
    if (it != answers.end() && it->second.until > now) return it->second.readOnly;
  }
  struct statvfs vfs;
  if (statvfs(native.c_str(), &vfs) != 0) return false;  // as before: only a clear answer refuses
  const bool readOnly = (vfs.f_flag & ST_RDONLY) != 0;
  std::lock_guard<std::mutex> lock(mutex);
  if (answers.size() > 64) answers.clear();
  answers[device] = {readOnly, now + 1000};
  return readOnly;
}

}  // namespace halvex::platform::posix

namespace halvex::platform {

LookScope::LookScope() {
  if (posix::memory.depth++ == 0) {
    posix::memory.Forget();
    posix::memory.ended = false;
    posix::memory.madeAt = posix::changes.load(std::memory_order_relaxed);
  }
}

LookScope::~LookScope() {
  if (--posix::memory.depth == 0) posix::memory.Forget();
}

void EndLookScopes() {
  posix::memory.Forget();
  if (posix::memory.depth > 0) posix::memory.ended = true;
}

}  // namespace halvex::platform
