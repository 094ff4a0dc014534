// The progress library's real windows on a Linux desktop: those of the
// desktop plugin (suite/msgbox/desktop.h), which runs them on a thread of its
// own, so the window repaints and Cancel answers during a long file.
#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/msgbox/desktop.h"
#include "suite/progress/window.h"
#include "suite/uiexchange.h"

namespace halvex::progress::window {

struct Progress {
  const HalvexDesktopTable* desktop = nullptr;
  void* handle = nullptr;
  int32_t percent = -1;
};

namespace {

std::string Quoted(const WCHAR* name) {
  return "\u201C" + (name ? halvex::platform::DisplayPath(name) : std::string()) + "\u201D";
}

}  // namespace

// ---- Progress windows -----------------------------------------------------

Progress* Create() {
  const HalvexDesktopTable* desktop = halvex::msgbox::Desktop();
  if (!desktop) return nullptr;
  void* handle = desktop->progress_create();
  if (!handle) return nullptr;
  return new Progress{desktop, handle};
}

void Destroy(Progress* p) {
  p->desktop->progress_destroy(p->handle);
  delete p;
}

void SetTitle(Progress* p, const WCHAR* title) {
  p->desktop->progress_set_title(p->handle, halvex::platform::ToUtf8(title ? title : WTEXT("")).c_str());
}

void SetName(Progress* p, const WCHAR* /*name*/, const std::string& shown) {
  p->percent = 0;
  p->desktop->progress_set_name(p->handle, shown.c_str());
}

void SetPercent(Progress* p, int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == p->percent) return;
  p->percent = percent;
  p->desktop->progress_set_percent(p->handle, percent);
}

void SetPace(Progress* p, const std::string& pace) { p->desktop->progress_set_pace(p->handle, pace.c_str()); }

void DisableButton(Progress* p) { p->desktop->progress_disable_button(p->handle); }

void Show(Progress* p, bool shown) { p->desktop->progress_show(p->handle, shown ? 1 : 0); }

bool CancelPressed(Progress* p) { return p->desktop->progress_cancelled(p->handle) != 0; }

// ---- Dialogs --------------------------------------------------------------

std::optional<int32_t> Prompt(int32_t direction, const WCHAR* name, int32_t question, bool more) {
  const HalvexDesktopTable* desktop = halvex::msgbox::Desktop();
  if (!desktop) return std::nullopt;
  const std::string text = question == 2
      ? Quoted(name) + " is a hidden file.\n\n" + (direction == 2 ? "Decrypt" : "Encrypt") + " it?"
      : Quoted(name) + " exists already.\n\nReplace it?";
  std::vector<HalvexDesktopButton> buttons{{UI_REPLACE, "_Yes"}, {UI_SKIP, "_No"}};
  if (more) buttons.insert(buttons.end(), {{UI_YES_TO_ALL, "Yes to _all"}, {UI_SKIP_ALL, "_Skip all"}});
  buttons.push_back({UI_CANCEL, "_Cancel"});
  // Enter keeps an existing file; a hidden one is the user's own choice to encrypt.
  const int32_t defaultId = question == 2 ? UI_REPLACE : UI_SKIP;
  return desktop->ask(question == 2 ? "Hidden file" : "File exists", text.c_str(), HALVEX_DESKTOP_ICON_QUESTION,
                      buttons.data(), static_cast<int32_t>(buttons.size()), defaultId, UI_CANCEL);
}

std::optional<int32_t> ErrorDialog(const WCHAR* name, const std::string& message) {
  const HalvexDesktopTable* desktop = halvex::msgbox::Desktop();
  if (!desktop) return std::nullopt;
  std::string text = message;
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  text += ".\n\n" + (name ? halvex::platform::DisplayPath(name) : std::string());
  const HalvexDesktopButton buttons[] = {{UI_RETRY, "_Retry"}, {UI_SKIP_ERROR, "_Skip"}, {UI_STOP, "_Cancel"}};
  return desktop->ask("File error", text.c_str(), HALVEX_DESKTOP_ICON_ERROR, buttons, 3, UI_RETRY, UI_STOP);
}

}  // namespace halvex::progress::window
