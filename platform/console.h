// The terminal a program was started from: a line typed there without echo,
// for passwords. The command and the self-extractor share it, so that a
// Ctrl-C at their prompts gives the terminal back as it was on every system.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace halvex::platform {

enum class HiddenRead {
  kLine,         // a line was typed; line holds it without its ending
  kNoTerminal,   // the process has no terminal to ask on
  kEnded,        // the input ended before a line was complete
  kInterrupted,  // Ctrl-C: the read stopped and the echo is back
  kTooLong,      // the line (or a file's first line) is longer than kSecretLineMax
};

// The longest secret line read, in bytes. The string a line is read into
// holds this much from the start, so that it never grows: growing would leave
// copies of what was typed in memory given back unwiped.
constexpr size_t kSecretLineMax = 4096;

// Writes prompt to the terminal (never to a redirected standard output) and
// reads one line there with the echo off, as UTF-8. Ctrl-C during the read
// ends it instead of the process. Whatever was typed before an incomplete
// line is wiped, never returned.
HiddenRead ReadHiddenLine(const std::string& prompt, std::string& line);

// The first line of the file at path (native; UTF-8 on Windows), without its
// line ending, for a password: read through a fixed buffer that is wiped,
// never a stream's buffer, into line as above. kLine, kTooLong or kEnded (the
// file cannot be read; errno, or the last error on Windows, says why).
HiddenRead ReadSecretFileLine(const std::string& path, std::string& line);

// Whether standard error (standard input) is a terminal someone reads (types at).
bool StderrIsTerminal();
bool StdinIsTerminal();
// The width in columns of the terminal standard error shows on, read afresh
// at every call so that a resized window is followed; 0 when unknown.
int StderrColumns();
// Writes question where the user sees it and reads one line of answer, as
// typed (echoed), from the controlling terminal where there is one, else
// from standard input; nothing at the end of the input. abandon, asked while
// the terminal is waited on (at once after a signal, else every tenth of a
// second) and once the line is read, ends the question with nothing too.
std::optional<std::string> AskLine(const std::string& question, const std::function<bool()>& abandon = {});

// Overwrites memory that held a secret so the compiler cannot drop the store.
void WipeMemory(void* data, size_t size);

// The end of ReadSecretFileLine on every system: err 0 or why reading failed.
inline HiddenRead FinishSecretLine(std::string& line, int err) {
  if (err == 0 && line.size() <= kSecretLineMax) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return HiddenRead::kLine;
  }
  WipeMemory(line.data(), line.size());
  line.clear();
  return err == 0 ? HiddenRead::kTooLong : HiddenRead::kEnded;
}

}  // namespace halvex::platform
