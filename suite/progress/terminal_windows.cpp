// The progress library's console and lock on Windows: a named mutex.
#include "platform/win32.h"

#include <io.h>

#include <cstdio>

#include "suite/progress/terminal.h"

namespace halvex::progress::terminal {
namespace {

HANDLE g_mutex = nullptr;

}  // namespace

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

std::optional<std::string> Ask(const std::string& question) {
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  std::string line;
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

Lock TakeUiLock() {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\HalvexMessageBatch");
  if (!mutex) return Lock::kUnavailable;
  DWORD wait = WaitForSingleObject(mutex, 0);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return wait == WAIT_TIMEOUT ? Lock::kBusy : Lock::kUnavailable;
  }
  // A mutex is recursive for its owner thread: a second batch of ours must still be refused.
  if (g_mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return Lock::kBusy;
  }
  g_mutex = mutex;
  return Lock::kTaken;
}

void ReleaseUiLock() {
  if (!g_mutex) return;
  ReleaseMutex(g_mutex);
  CloseHandle(g_mutex);
  g_mutex = nullptr;
}

}  // namespace halvex::progress::terminal
