// Looks at a file that keep nobody out, and the scopes that let a short run
// of checks share one look.
#pragma once

#include "platform/win32.h"
#include "platform/wide.h"

namespace halvex::platform {

// Opens path for reading as CreateFileW(GENERIC_READ, share, OPEN_EXISTING)
// does, refused by the same opens, but without recording the open, so it
// keeps nobody out: for a look at a file whose handle is closed again at once.
// CreateFileW itself on Windows.
HANDLE OpenToLook(WStringView path, DWORD share);

// A short run of checks on one file (is it there, may it be opened, may it
// change, what is in its first bytes, which file is it) looks at the same
// path again and again. While a LookScope lives on a thread, its looks at a
// path's type, mode, times and stored attributes are answered from the first
// one, until this process changes any file through this layer, which makes
// them look afresh. What another program changes in that moment is seen as
// checks made a moment earlier would have seen it, so a scope never spans a
// question or the cipher's work past its first progress report. Within it, a
// look's handle (OpenToLook) that is closed leaves its descriptor for the
// next open of the same path for reading. Nothing on Windows.
class LookScope {
 public:
  LookScope();
  ~LookScope();
  LookScope(const LookScope&) = delete;
  LookScope& operator=(const LookScope&) = delete;
};
// Ends the scopes open on this thread: until the last of them closes, every
// look goes to the disk again. Called before anything that may change files
// behind the layer's back or take long (a question, the cipher's work).
void EndLookScopes();

}  // namespace halvex::platform
