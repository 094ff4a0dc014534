// Ctrl-C on POSIX: the SIGINT handler. Only async-signal-safe work happens in
// it: a store to the progress library's atomic cancel flag, a flag of our
// own, a write(2).
#include "cli/signals.h"

#include <atomic>

#include <signal.h>
#include <unistd.h>

#include "suite/progress/host.h"

namespace halvex::cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;
std::atomic<bool> g_fromParent{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read by the handler's installer only, but kept lock-free");

void OnCancel(int) {
  g_interrupted = 1;
  halvex::progress::SetCancel(true);
  static const char kNote[] = "\nhalvex: cancelling after the current file is abandoned...\n";
  (void)!write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

void OnUncancellable(int) {
  g_interrupted = 1;
  static const char kNote[] =
      "\nhalvex: this batch is all or nothing and finishes on its own; press Ctrl-C again to kill it\n";
  (void)!write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

}  // namespace

void InstallInterruptHandler(bool cancellable) {
  g_interrupted = 0;
  halvex::progress::SetCancel(g_fromParent.load());
  struct sigaction sa {};
  sa.sa_handler = cancellable ? OnCancel : OnUncancellable;
  sigemptyset(&sa.sa_mask);
  // SA_RESTART: a file read or write of the library must not fail with EINTR.
  sa.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

void RemoveInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

bool Interrupted() { return g_interrupted != 0 || g_fromParent.load(); }

void InterruptFromParent() {
  g_fromParent = true;
  halvex::progress::SetCancel(true);
}

}  // namespace halvex::cli
