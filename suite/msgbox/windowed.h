// Whether the suite's dialogs are real windows or lines on a console. Shared
// by the message box and the progress library, which must agree.
#pragma once

#include "platform/win32.h"

namespace halvex::msgbox {

// True on Windows unless the host asked for the console (UseConsole), the
// environment says HALVEX_UI=console, or the settings file says
// "ui = console". HALVEX_UI=windows overrides the settings file. On Linux
// true only with a display and the desktop plugin (desktop.h), and then
// when HALVEX_UI or "ui" says window(s), or, unasked, when neither stdin nor
// stderr is a terminal; never after UseConsole or with "console".
bool Windowed();
// A console host (a command-line program) asks for lines instead of windows.
void UseConsole(bool console);
// A host that reports on its own silences the suite: no lines on stderr, no
// progress window, no message box. Questions are the interactive setting's.
void SetQuiet(bool quiet);
bool Quiet();

#ifdef _WIN32
// The window a dialog of ours belongs to, so that it stays in front of it:
// the caller's active window (or, for one of our own, its owner), else the
// foreground window when it is this process's; none otherwise.
HWND HostWindow();
#endif

}  // namespace halvex::msgbox
