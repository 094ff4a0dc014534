// Obtaining the password: --password-file, HALVEX_PASSWORD, or the terminal
// without echo.
#include "cli/password.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace halvex::cli {
namespace {

volatile sig_atomic_t g_promptInterrupted = 0;

void OnPromptInterrupt(int) { g_promptInterrupted = 1; }

// Ctrl-C during the prompt must give the terminal its echo back, so it
// interrupts the read instead of ending the process.
class PromptInterruptGuard {
 public:
  PromptInterruptGuard() {
    g_promptInterrupted = 0;
    struct sigaction sa {};
    sa.sa_handler = OnPromptInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the read returns EINTR
    sigaction(SIGINT, &sa, &old_);
  }
  ~PromptInterruptGuard() { sigaction(SIGINT, &old_, nullptr); }
  PromptInterruptGuard(const PromptInterruptGuard&) = delete;
  PromptInterruptGuard& operator=(const PromptInterruptGuard&) = delete;

 private:
  struct sigaction old_ {};
};

class Terminal {
 public:
  Terminal() : fd_(open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
  ~Terminal() {
    if (fd_ >= 0) close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool Usable() const { return fd_ >= 0; }

  void Write(const std::string& text) const {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

  // One line typed without echo; nothing on Ctrl-C or end of input.
  std::optional<std::string> ReadSecretLine(const std::string& prompt) const {
    struct termios saved {};
    const bool haveTermios = tcgetattr(fd_, &saved) == 0;
    if (haveTermios) {
      struct termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      tcsetattr(fd_, TCSAFLUSH, &quiet);
    }
    Write(prompt);
    std::string line;
    bool complete = false;
    for (char c; !g_promptInterrupted;) {
      ssize_t n = read(fd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (c == '\n') {
        complete = true;
        break;
      }
      line.push_back(c);
    }
    if (haveTermios) tcsetattr(fd_, TCSAFLUSH, &saved);
    if (g_promptInterrupted) Write("\n");
    if (!complete) {
      Wipe(line);
      return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

 private:
  int fd_;
};

PasswordResult Fail(std::string message) {
  PasswordResult r;
  r.error = std::move(message);
  return r;
}

// The library takes UTF-16; a password that is not UTF-8 cannot be typed the
// same way twice, so it is refused rather than guessed at.
PasswordResult FromText(std::string& text, const std::string& where) {
  if (text.empty()) {
    Wipe(text);
    return Fail("the password from " + where + " is empty");
  }
  std::optional<WString> wide = platform::FromUtf8(text);
  Wipe(text);
  if (!wide) return Fail("the password from " + where + " is not valid UTF-8");
  PasswordResult r;
  r.password = std::move(wide);
  return r;
}

PasswordResult FromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail("cannot read the password file '" + path + "': " + strerror(errno));
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    Wipe(content);
    return Fail("cannot read the password file '" + path + "'");
  }
  std::string line = FirstLine(content);
  Wipe(content);
  return FromText(line, "'" + path + "'");
}

PasswordResult FromPrompt(bool confirm) {
  Terminal tty;
  if (!tty.Usable())
    return Fail("no password: give --password-file FILE or HALVEX_PASSWORD (there is no terminal to ask)");
  PromptInterruptGuard guard;
  std::optional<std::string> first = tty.ReadSecretLine("Password: ");
  if (first && confirm) {
    std::optional<std::string> second = tty.ReadSecretLine("Password again: ");
    const bool same = second && *second == *first;
    if (second) Wipe(*second);
    if (!same && !g_promptInterrupted && second) {
      Wipe(*first);
      return Fail("the two passwords differ");
    }
    if (!second) {
      Wipe(*first);
      first.reset();
    }
  }
  if (!first) {
    PasswordResult r;
    r.interrupted = g_promptInterrupted != 0;
    if (!r.interrupted) r.error = "no password was typed";
    return r;
  }
  return FromText(*first, "the terminal");
}

}  // namespace

std::string FirstLine(const std::string& content) {
  std::string line = content.substr(0, content.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void Wipe(std::string& secret) {
  explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

void Wipe(WString& secret) {
  explicit_bzero(secret.data(), secret.size() * sizeof(WCHAR));
  secret.clear();
}

PasswordResult ObtainPassword(const PasswordSource& source) {
  if (source.file) return FromFile(*source.file);
  if (const char* env = std::getenv("HALVEX_PASSWORD")) {
    std::string text = env;
    return FromText(text, "HALVEX_PASSWORD");
  }
  if (!source.ask && !source.required) return {};
  if (source.noInput)
    return Fail("no password: give --password-file FILE or HALVEX_PASSWORD (--no-input forbids asking)");
  return FromPrompt(source.confirm);
}

}  // namespace halvex::cli
