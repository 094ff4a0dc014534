// The terminal on POSIX: /dev/tty with the echo turned off through termios.
#include "platform/console.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace halvex::platform {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) { g_interrupted = 1; }

// Ctrl-C during the read must give the terminal its echo back, so it
// interrupts the read (no SA_RESTART) instead of ending the process.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted = 0;
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &old_, nullptr); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction old_ {};
};

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

HiddenRead ReadHiddenLine(const std::string& prompt, std::string& line) {
  line.clear();
  const int fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return HiddenRead::kNoTerminal;
  InterruptGuard guard;
  struct termios saved {};
  const bool haveTermios = tcgetattr(fd, &saved) == 0;
  if (haveTermios) {
    struct termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;  // the Enter still moves to the next line
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  WriteAll(fd, prompt);
  bool complete = false;
  for (char c; !g_interrupted;) {
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      complete = true;
      break;
    }
    line.push_back(c);
  }
  if (haveTermios) tcsetattr(fd, TCSAFLUSH, &saved);
  const bool interrupted = g_interrupted != 0;
  if (interrupted) WriteAll(fd, "\n");
  close(fd);
  if (!complete) {
    WipeMemory(line.data(), line.size());
    line.clear();
    return interrupted ? HiddenRead::kInterrupted : HiddenRead::kEnded;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return HiddenRead::kLine;
}

void WipeMemory(void* data, size_t size) { explicit_bzero(data, size); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::optional<std::string> AskLine(const std::string& question) {
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

}  // namespace halvex::platform
