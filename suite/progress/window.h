// Real windows of the progress library: the progress window, the prompt and
// the error dialog; Win32's on Windows (window_windows.cpp), the desktop
// plugin's on Linux (window_desktop.cpp). Each gives nothing back when no
// window can be made (no desktop); the caller then keeps to the console.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32.h"

namespace halvex::progress::window {

struct Progress;

Progress* Create();
void Destroy(Progress* p);
void SetTitle(Progress* p, const WCHAR* title);
// name as the library gives it; shown, the name as the user's system spells
// it (the full path when the host told it), for a window that shows that.
void SetName(Progress* p, const WCHAR* name, const std::string& shown);
void SetPercent(Progress* p, int32_t percent);
// Rate and time left ("" until they can be told).
void SetPace(Progress* p, const std::string& pace);
void DisableButton(Progress* p);
void Show(Progress* p, bool shown);
// The Cancel button was clicked (or Escape pressed, or the window closed).
bool CancelPressed(Progress* p);

// The modal prompt; the answer as a UI_ code.
std::optional<int32_t> Prompt(int32_t direction, const WCHAR* name, int32_t question, bool more);
// The modal error dialog for message about name; UI_RETRY, UI_SKIP_ERROR or UI_STOP.
std::optional<int32_t> ErrorDialog(const WCHAR* name, const std::string& message);

}  // namespace halvex::progress::window
