// The progress library's inter-process lock (the terminal itself is
// platform/console.h's).
#pragma once

namespace halvex::progress::terminal {

// The inter-process lock of the message batches.
enum class Lock { kTaken, kBusy, kUnavailable };
Lock TakeUiLock();
void ReleaseUiLock();

}  // namespace halvex::progress::terminal
