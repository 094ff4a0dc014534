// Fault injection for tests: counted calls at a few points of the layer.
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

void SetDeleteHook(std::function<void(DeleteStep)> hook) {
  std::lock_guard lock(faultsMutex);
  deleteHook = std::move(hook);
}

namespace posix {

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
