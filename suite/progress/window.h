// Real windows of the progress library (Windows): the progress window, the
// prompt and the error dialog. Each gives nothing back when no window can be
// made (no desktop); the caller then keeps to the console.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/win32.h"

namespace halvex::progress::window {

struct Progress;

#ifdef _WIN32
Progress* Create();
void Destroy(Progress* p);
void SetTitle(Progress* p, const WCHAR* title);
void SetName(Progress* p, const WCHAR* name);
void SetPercent(Progress* p, int32_t percent);
void DisableButton(Progress* p);
void Show(Progress* p, bool shown);
// The Cancel button was clicked (or Escape pressed, or the window closed).
bool CancelPressed(Progress* p);

// The modal prompt; the answer as a UI_ code.
std::optional<int32_t> Prompt(int32_t direction, const WCHAR* name, int32_t question, bool more);
// The modal error dialog for message about name; UI_RETRY, UI_SKIP_ERROR or UI_STOP.
std::optional<int32_t> ErrorDialog(const WCHAR* name, const std::string& message);
#else
// Elsewhere the progress library is a terminal's.
inline Progress* Create() { return nullptr; }
inline void Destroy(Progress*) {}
inline void SetTitle(Progress*, const WCHAR*) {}
inline void SetName(Progress*, const WCHAR*) {}
inline void SetPercent(Progress*, int32_t) {}
inline void DisableButton(Progress*) {}
inline void Show(Progress*, bool) {}
inline bool CancelPressed(Progress*) { return false; }
inline std::optional<int32_t> Prompt(int32_t, const WCHAR*, int32_t, bool) { return std::nullopt; }
inline std::optional<int32_t> ErrorDialog(const WCHAR*, const std::string&) { return std::nullopt; }
#endif

}  // namespace halvex::progress::window
