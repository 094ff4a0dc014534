// The console on Windows: CONIN$ with ENABLE_ECHO_INPUT cleared, typed
// characters read as UTF-16 and handed on as UTF-8.
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/wide.h"

namespace halvex::platform {
namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread of its own; ReadConsoleW then returns without a line.
BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  return TRUE;
}

class Console {
 public:
  Console()
      : in_(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr)),
        out_(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr)) {}
  ~Console() {
    if (in_ != INVALID_HANDLE_VALUE) CloseHandle(in_);
    if (out_ != INVALID_HANDLE_VALUE) CloseHandle(out_);
  }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  bool Usable() const {
    DWORD mode = 0;
    return in_ != INVALID_HANDLE_VALUE && out_ != INVALID_HANDLE_VALUE && GetConsoleMode(in_, &mode);
  }
  HANDLE In() const { return in_; }

  void Write(const std::string& text) const {
    const WString wide = Widen(text);
    DWORD written = 0;
    WriteConsoleW(out_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }

 private:
  HANDLE in_;
  HANDLE out_;
};

}  // namespace

HiddenRead ReadHiddenLine(const std::string& prompt, std::string& line) {
  line.clear();
  Console console;
  if (!console.Usable()) return HiddenRead::kNoTerminal;
  g_interrupted = false;
  SetConsoleCtrlHandler(OnControl, TRUE);
  DWORD saved = 0;
  GetConsoleMode(console.In(), &saved);
  SetConsoleMode(console.In(), (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                   ENABLE_PROCESSED_INPUT);
  console.Write(prompt);
  WString typed;
  typed.reserve(kSecretLineMax);  // never grows: no copy of it is left behind
  bool complete = false, tooLong = false;
  while (!g_interrupted) {
    WCHAR c = 0;
    DWORD read = 0;
    if (!ReadConsoleW(console.In(), &c, 1, &read, nullptr) || read == 0) break;
    if (c == L'\n') {
      complete = true;
      break;
    }
    if (c == L'\r') continue;
    if (typed.size() < kSecretLineMax) typed.push_back(c);
    else tooLong = true;
  }
  SetConsoleMode(console.In(), saved);
  SetConsoleCtrlHandler(OnControl, FALSE);
  // The echo was off, so the Enter did not move to the next line either.
  console.Write("\n");
  const bool interrupted = g_interrupted;
  if (complete) line = ToUtf8(typed);
  WipeMemory(typed.data(), typed.size() * sizeof(WCHAR));
  if (complete && !interrupted && !tooLong) return HiddenRead::kLine;
  WipeMemory(line.data(), line.size());
  line.clear();
  return interrupted ? HiddenRead::kInterrupted : tooLong ? HiddenRead::kTooLong : HiddenRead::kEnded;
}

HiddenRead ReadSecretFileLine(const std::string& path, std::string& line) {
  line.clear();
  line.reserve(kSecretLineMax + 1);
  const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
            : error == ERROR_ACCESS_DENIED                                  ? EACCES
                                                                            : EIO;
    return HiddenRead::kEnded;
  }
  char chunk[512];
  DWORD got = 0;
  bool ok = true, done = false;
  while (!done && (ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0) {
    const char* end = static_cast<const char*>(memchr(chunk, '\n', got));
    const size_t take = end ? static_cast<size_t>(end - chunk) : got;
    done = end != nullptr || line.size() + take > kSecretLineMax;
    line.append(chunk, std::min(take, kSecretLineMax + 1 - line.size()));
  }
  const DWORD err = ok ? 0 : GetLastError();
  WipeMemory(chunk, sizeof chunk);
  CloseHandle(file);
  SetLastError(err);
  errno = ok ? errno : EIO;
  return FinishSecretLine(line, ok ? 0 : EIO);
}

void WipeMemory(void* data, size_t size) { SecureZeroMemory(data, size); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::optional<std::string> AskLine(const std::string& question, const std::function<bool()>& abandon) {
  std::fputs(question.c_str(), stderr);
  std::fflush(stderr);
  std::string line;
  int c;
  while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if ((c == EOF && line.empty()) || (abandon && abandon())) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace halvex::platform
