// The progress library's terminal and lock on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "suite/progress/terminal.h"
#include "suite/settings/settings.h"

namespace halvex::progress::terminal {
namespace {

int g_lockFd = -1;

std::filesystem::path LockFilePath() {
  if (auto folder = halvex::settings::PrivateTempFolder()) return *folder / "ui.lock";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return std::filesystem::path(runtime) / "halvex-ui.lock";
  return {};
}

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<std::string> Ask(const std::string& question) {
  // The controlling terminal, so that questions work while stdin carries data.
  FILE* tty = std::fopen("/dev/tty", "r+e");
  FILE* out = tty ? tty : stderr;
  FILE* in = tty ? tty : stdin;
  std::fputs(question.c_str(), out);
  std::fflush(out);
  std::string line;
  int c;
  while ((c = std::fgetc(in)) != EOF && c != '\n') line += static_cast<char>(c);
  bool ended = c == EOF && line.empty();
  if (tty) std::fclose(tty);
  if (ended) return std::nullopt;
  return line;
}

Lock TakeUiLock() {
  std::filesystem::path path = LockFilePath();
  if (path.empty()) return Lock::kUnavailable;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Lock::kUnavailable;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? Lock::kBusy : Lock::kUnavailable;
  }
  if (g_lockFd >= 0) close(g_lockFd);  // cannot happen: our own lock would have refused us
  g_lockFd = fd;
  return Lock::kTaken;
}

void ReleaseUiLock() {
  if (g_lockFd < 0) return;
  close(g_lockFd);  // closing the last descriptor drops the flock
  g_lockFd = -1;
}

}  // namespace halvex::progress::terminal
