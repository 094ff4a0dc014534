// Ctrl-C during a batch presses the cancel button of the library's window.
#pragma once

namespace halvex::cli {

// cancellable: the batch watches its cancel button (in-place batches). The
// others cannot be stopped half-way by design; Ctrl-C then only says so.
// A second Ctrl-C ends the process the ordinary way.
void InstallInterruptHandler(bool cancellable);
void RemoveInterruptHandler();
// Whether Ctrl-C was pressed since the handler was installed.
bool Interrupted();
// A -j batch's process hears its parent's Ctrl-C through this: it stays
// pressed for the rest of the process, whenever the handler is installed.
// Safe on any thread.
void InterruptFromParent();

}  // namespace halvex::cli
