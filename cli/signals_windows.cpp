// Ctrl-C on Windows: a console control handler. It runs on a thread of its
// own while the batch goes on; it only stores flags and writes one note.
#include <atomic>
#include <cstring>

#include "cli/signals.h"
#include "platform/win32.h"
#include "suite/progress/host.h"

namespace halvex::cli {
namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_cancellable{false};

void Note(const char* text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

// The first Ctrl-C is ours; a second one (FALSE) ends the process the
// ordinary way, as the POSIX handler's SA_RESETHAND does.
BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupted.exchange(true)) return FALSE;
  if (g_cancellable) {
    halvex::progress::SetCancel(true);
    Note("\nhalvex: cancelling after the current file is abandoned...\n");
  } else {
    Note("\nhalvex: this batch is all or nothing and finishes on its own; press Ctrl-C again to kill it\n");
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandler(bool cancellable) {
  g_interrupted = false;
  g_cancellable = cancellable;
  halvex::progress::SetCancel(false);
  SetConsoleCtrlHandler(OnControl, TRUE);
}

void RemoveInterruptHandler() { SetConsoleCtrlHandler(OnControl, FALSE); }

bool Interrupted() { return g_interrupted; }

// Windows runs one batch per command (no -j), so no parent ever calls this.
void InterruptFromParent() {
  g_interrupted = true;
  halvex::progress::SetCancel(true);
}

}  // namespace halvex::cli
