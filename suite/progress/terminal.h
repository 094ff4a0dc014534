// What the progress library needs of the terminal and the system.
#pragma once

#include <optional>
#include <string>

namespace halvex::progress::terminal {

bool StderrIsTerminal();
bool StdinIsTerminal();
// Writes question where the user sees it and reads one line of answer from
// the controlling terminal (else stdin); nothing at end of input.
std::optional<std::string> Ask(const std::string& question);

// The inter-process lock of the message batches.
enum class Lock { kTaken, kBusy, kUnavailable };
Lock TakeUiLock();
void ReleaseUiLock();

}  // namespace halvex::progress::terminal
