// The desktop windows of Linux: a plugin that links the toolkit, opened on
// first need, so that the library and the command start where no toolkit is
// installed. Windowed() (windowed.h) decides whether they are used.
#pragma once

#include "suite/msgbox/desktop_abi.h"

namespace halvex::msgbox {

// The plugin's table once it is opened and a display answered; null where
// there is none (no plugin installed, no toolkit, no display). Opened once:
// the answer is kept for the life of the process.
const HalvexDesktopTable* Desktop();

}  // namespace halvex::msgbox
