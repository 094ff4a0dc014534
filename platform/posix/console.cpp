// The terminal on POSIX: /dev/tty with the echo turned off through termios.
#include "platform/console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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
  line.reserve(kSecretLineMax + 1);
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
  bool complete = false, tooLong = false;
  for (char c; !g_interrupted;) {
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      complete = true;
      break;
    }
    if (line.size() < kSecretLineMax) line.push_back(c);
    else tooLong = true;
    c = 0;
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
  if (!tooLong) return HiddenRead::kLine;
  WipeMemory(line.data(), line.size());
  line.clear();
  return HiddenRead::kTooLong;
}

HiddenRead ReadSecretFileLine(const std::string& path, std::string& line) {
  line.clear();
  line.reserve(kSecretLineMax);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return HiddenRead::kEnded;
  char chunk[512];
  ssize_t n = 0;
  bool done = false;
  while (!done && ((n = read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))) {
    const size_t got = n > 0 ? static_cast<size_t>(n) : 0;
    const char* end = static_cast<const char*>(memchr(chunk, '\n', got));
    const size_t take = end ? static_cast<size_t>(end - chunk) : got;
    done = end != nullptr || line.size() + take > kSecretLineMax;
    line.append(chunk, std::min(take, kSecretLineMax + 1 - line.size()));
  }
  const int err = errno;
  WipeMemory(chunk, sizeof chunk);
  close(fd);
  errno = err;
  return FinishSecretLine(line, n < 0 ? err : 0);
}

void WipeMemory(void* data, size_t size) { explicit_bzero(data, size); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int StderrColumns() {
  struct winsize size {};
  return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

namespace {

// Reads a line from the terminal at fd. The wait is a poll, which a signal
// ends even under SA_RESTART, so that Ctrl-C at a question is seen at once.
std::optional<std::string> ReadTerminalLine(int fd, const std::function<bool()>& abandon) {
  std::string line;
  for (;;) {
    if (abandon && abandon()) return std::nullopt;
    struct pollfd ready {fd, POLLIN, 0};
    const int polled = poll(&ready, 1, 100);
    if (polled < 0 && errno != EINTR) return std::nullopt;
    if (polled <= 0) continue;
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
    if (c == '\n') return line;
    line += c;
  }
}

}  // namespace

std::optional<std::string> AskLine(const std::string& question, const std::function<bool()>& abandon) {
  // The controlling terminal, so that questions work while stdin carries data.
  const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty >= 0) {
    (void)!write(tty, question.data(), question.size());
    std::optional<std::string> line = ReadTerminalLine(tty, abandon);
    close(tty);
    return line;
  }
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  std::string line;
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if ((c == EOF && line.empty()) || (abandon && abandon())) return std::nullopt;
  return line;
}

}  // namespace halvex::platform
