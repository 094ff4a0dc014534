// Shared between the windows and the dialogs of the progress library.
#pragma once

namespace halvex::progress {

// A new batch (a new window) may retry each file once again.
void ForgetRetries();

}  // namespace halvex::progress
