// The terminal a program was started from: a line typed there without echo,
// for passwords. The command and the self-extractor share it, so that a
// Ctrl-C at their prompts gives the terminal back as it was on every system.
#pragma once

#include <optional>
#include <string>

namespace halvex::platform {

enum class HiddenRead {
  kLine,         // a line was typed; line holds it without its ending
  kNoTerminal,   // the process has no terminal to ask on
  kEnded,        // the input ended before a line was complete
  kInterrupted,  // Ctrl-C: the read stopped and the echo is back
};

// Writes prompt to the terminal (never to a redirected standard output) and
// reads one line there with the echo off, as UTF-8. Ctrl-C during the read
// ends it instead of the process. Whatever was typed before an incomplete
// line is wiped, never returned.
HiddenRead ReadHiddenLine(const std::string& prompt, std::string& line);

// Whether standard error (standard input) is a terminal someone reads (types at).
bool StderrIsTerminal();
bool StdinIsTerminal();
// Writes question where the user sees it and reads one line of answer, as
// typed (echoed), from the controlling terminal where there is one, else
// from standard input; nothing at the end of the input.
std::optional<std::string> AskLine(const std::string& question);

// Overwrites memory that held a secret so the compiler cannot drop the store.
void WipeMemory(void* data, size_t size);

}  // namespace halvex::platform
