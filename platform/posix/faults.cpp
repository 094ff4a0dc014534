// Fault injection for tests: counted calls at a few points of the layer.
#include <sys/stat.h>

#include <atomic>
#include <mutex>

#include "platform/testing.h"

namespace halvex::platform {

namespace {

struct Fault {
  uint32_t calls = 0;  // calls seen since injection or clearing
  uint32_t nth = 0;    // 0: no fault
  uint32_t times = 0;  // 0: without end
  int error = 0;
};

std::mutex faultsMutex;
Fault faults[kFaultPointCount];
std::function<void(DeleteStep)> deleteHook;
std::atomic<bool> namedForced{false};

std::atomic<bool> recording{false};
std::mutex recordMutex;
std::string recordRoot;
std::vector<FsCall>* recorded = nullptr;

bool Below(const std::string& path) {
  return path.size() >= recordRoot.size() && path.compare(0, recordRoot.size(), recordRoot) == 0 &&
         (path.size() == recordRoot.size() || path[recordRoot.size()] == '/');
}

Fault& At(FaultPoint point) { return faults[static_cast<int>(point)]; }

}  // namespace

void InjectFault(FaultPoint point, uint32_t nth, int error, uint32_t times) {
  std::lock_guard lock(faultsMutex);
  At(point) = Fault{0, nth, times, error};
}

void ClearFaults() {
  std::lock_guard lock(faultsMutex);
  for (Fault& f : faults) f = Fault{};
}

uint32_t FaultPointCalls(FaultPoint point) {
  std::lock_guard lock(faultsMutex);
  return At(point).calls;
}

void ForceNamedTemporaries(bool force) { namedForced = force; }

void RecordFsCalls(const std::string& root, std::vector<FsCall>* calls) {
  std::lock_guard lock(recordMutex);
  recordRoot = root;
  recorded = calls;
  recording = calls != nullptr;
}

void SetDeleteHook(std::function<void(DeleteStep)> hook) {
  std::lock_guard lock(faultsMutex);
  deleteHook = std::move(hook);
}

namespace posix {

bool NamedTemporariesForced() { return namedForced; }

bool Recording() { return recording.load(std::memory_order_relaxed); }

void RecordPathCall(FsCall::Kind kind, const std::string& path, const std::string& path2) {
  if (!Recording()) return;
  std::lock_guard lock(recordMutex);
  if (recorded && (Below(path) || (!path2.empty() && Below(path2))))
    recorded->push_back(FsCall{kind, 0, path, path2, 0, {}});
}

// Calls on a descriptor are kept whatever file it holds: the recording's
// reader knows the files below the root by their inodes.
void RecordFileCall(FsCall::Kind kind, int fd, const std::string& path, uint64_t offset, const void* bytes,
                    size_t size) {
  if (!Recording()) return;
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  std::lock_guard lock(recordMutex);
  if (!recorded || (!path.empty() && !Below(path))) return;
  recorded->push_back(FsCall{kind, static_cast<uint64_t>(st.st_ino), path, {}, offset,
                             bytes ? std::string(static_cast<const char*>(bytes), size) : std::string()});
}

void RunDeleteHook(DeleteStep step) {
  std::function<void(DeleteStep)> hook;
  {
    std::lock_guard lock(faultsMutex);
    hook = deleteHook;
  }
  if (hook) hook(step);
}

int TakeFault(FaultPoint point) {
  std::lock_guard lock(faultsMutex);
  Fault& f = At(point);
  const uint32_t n = ++f.calls;
  if (f.nth == 0 || n < f.nth) return 0;
  if (f.times != 0 && n - f.nth >= f.times) return 0;
  return f.error;
}

}  // namespace posix

}  // namespace halvex::platform
