// Progress windows: real ones on Windows (window.h), else one line on stderr
// while a window is shown; the cancel button is also a flag the host sets.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/msgbox/windowed.h"
#include "suite/progress.h"
#include "suite/progress/dialogs.h"
#include "suite/progress/host.h"
#include "suite/progress/terminal.h"
#include "suite/progress/window.h"

namespace halvex::progress {
namespace {

enum class Family { kEncryption, kDecryption };

struct Window {
  Family family = Family::kEncryption;
  bool shown = false;
  bool buttonDisabled = false;
  bool alternativeTitle = false;
  std::string name;  // UTF-8
  int32_t percent = 0;
  bool drawn = false;  // a line of ours stands on the terminal
  // Whether stderr is a terminal, asked at the first draw only: a batch
  // redraws for every file and percent, and stderr does not change under it.
  std::optional<bool> toTerminal;
  window::Progress* native = nullptr;  // the real window; none for a console
};

// A signal handler may set it while the batch reads it.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the cancel flag must be safe in a signal handler");

// Handles are checked against this set before use: a stale or foreign
// handle must not be dereferenced.
std::set<Window*>& LiveWindows() {
  static std::set<Window*> live;
  return live;
}

Window* Live(void* handle) {
  auto* w = static_cast<Window*>(handle);
  return LiveWindows().count(w) ? w : nullptr;
}

Window* Of(void** progress) { return progress ? Live(*progress) : nullptr; }

const char* Title(const Window& w) {
  if (w.family == Family::kDecryption) return "Decrypting";
  return w.alternativeTitle ? "Protecting" : "Encrypting";
}

std::string Bar(int32_t percent) {
  constexpr int kWidth = 20;
  int filled = std::clamp(percent, 0, 100) * kWidth / 100;
  return "[" + std::string(filled, '#') + std::string(kWidth - filled, ' ') + "]";
}

void Draw(Window& w) {
  if (w.native || !w.shown || halvex::msgbox::Quiet()) return;
  if (!w.toTerminal) w.toTerminal = platform::StderrIsTerminal();
  if (!*w.toTerminal) return;
  std::string line = "\r" + std::string(Title(w)) + " " + w.name + " " + Bar(w.percent) + " " +
                     std::to_string(std::clamp(w.percent, 0, 100)) + "%\x1b[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  w.drawn = true;
}

void Erase(Window& w) {
  if (!w.drawn) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  w.drawn = false;
}

void Create(Family family, void** progress) {
  if (!progress) return;
  auto* w = new Window;
  w->family = family;
  if (halvex::msgbox::Windowed() && !halvex::msgbox::Quiet()) w->native = window::Create();
  if (w->native) window::SetTitle(w->native, halvex::platform::Widen(Title(*w)).c_str());
  LiveWindows().insert(w);
  *progress = w;
  ForgetRetries();
}

void Release(void** progress) {
  Window* w = Of(progress);
  if (!w) return;
  Erase(*w);
  if (w->native) window::Destroy(w->native);
  LiveWindows().erase(w);
  delete w;
  *progress = nullptr;
}

void Show(void** progress, bool shown) {
  Window* w = Of(progress);
  if (!w) return;
  w->shown = shown;
  if (w->native) window::Show(w->native, shown);
  if (shown) Draw(*w);
  else Erase(*w);
}

// The name as the user's system spells it, cut to "..." and the last 28
// characters as the library cuts its own form, so the line keeps its width.
std::string ShownName(const WCHAR* name) {
  constexpr size_t kTail = 28;
  std::string shown = halvex::platform::DisplayPath(name);
  std::vector<size_t> starts;  // where each character begins
  for (size_t i = 0; i < shown.size(); ++i)
    if ((static_cast<unsigned char>(shown[i]) & 0xC0) != 0x80) starts.push_back(i);
  if (starts.size() <= kTail + 1) return shown;
  return "..." + shown.substr(starts[starts.size() - kTail]);
}

void SetName(const WCHAR* name, void** progress) {
  Window* w = Of(progress);
  if (!w || !name) return;
  w->name = ShownName(name);
  w->percent = 0;
  if (w->native) window::SetName(w->native, name);
  Draw(*w);
}

void SetPercent(int32_t percent, void** progress) {
  Window* w = Of(progress);
  if (!w || w->percent == percent) return;  // a redraw per change, not per callback
  w->percent = percent;
  if (w->native) window::SetPercent(w->native, percent);
  Draw(*w);
}

void CheckButton(tagUIEXCHANGE* ui) {
  if (!ui) return;
  Window* w = Live(ui->hWnd);
  bool enabled = !w || !w->buttonDisabled;
  bool pressed = CancelRequested() || (w && w->native && window::CancelPressed(w->native));
  ui->nResult = (enabled && pressed) ? UI_STOP : 0;
}

}  // namespace

void UseConsole(bool console) { halvex::msgbox::UseConsole(console); }
void SetCancel(bool pressed) { g_cancel.store(pressed, std::memory_order_relaxed); }
bool CancelRequested() { return g_cancel.load(std::memory_order_relaxed); }

}  // namespace halvex::progress

using namespace halvex::progress;

extern "C" {

void Encryption_Progress_Create(void** progress) { Create(Family::kEncryption, progress); }
void Encryption_Progress_SetButtonDisable(void** progress) {
  Window* w = Of(progress);
  if (!w) return;
  w->buttonDisabled = true;
  if (w->native) window::DisableButton(w->native);
}
void Encryption_Progress_SetTitle(void** progress) {
  Window* w = Of(progress);
  if (!w) return;
  w->alternativeTitle = true;
  if (w->native) window::SetTitle(w->native, halvex::platform::Widen(Title(*w)).c_str());
}
void Encryption_Progress_Show(void** progress) { Show(progress, true); }
void Encryption_Progress_Hide(void** progress) { Show(progress, false); }
void Encryption_Progress_ReleaseForm(void** progress) { Release(progress); }
void Encryption_Progress_SetFileName(const WCHAR* name, void** progress) { SetName(name, progress); }
void Encryption_Progress_SetPercent(int32_t percent, void** progress) { SetPercent(percent, progress); }
void Encryption_Progress_CheckButton(tagUIEXCHANGE* ui) { CheckButton(ui); }

void Decryption_Progress_Create(void** progress) { Create(Family::kDecryption, progress); }
void Decryption_Progress_Show(void** progress) { Show(progress, true); }
void Decryption_Progress_Hide(void** progress) { Show(progress, false); }
void Decryption_Progress_ReleaseForm(void** progress) { Release(progress); }
void Decryption_Progress_SetFileName(const WCHAR* name, void** progress) { SetName(name, progress); }
void Decryption_Progress_SetPercent(int32_t percent, void** progress) { SetPercent(percent, progress); }
void Decryption_Progress_CheckButton(tagUIEXCHANGE* ui) { CheckButton(ui); }

int32_t FF_UI_InitMutex(int32_t /*value*/, tagUIEXCHANGE* ui) {
  terminal::Lock lock = terminal::TakeUiLock();
  if (ui) ui->nResult = lock == terminal::Lock::kBusy ? UI_MUTEX_HELD : 0;
  // Without a lock file the batch still runs; it merely is not kept apart
  // from other processes' windows.
  return lock == terminal::Lock::kBusy ? 0 : 1;
}

void FF_UI_ReleaseMutex(tagUIEXCHANGE* /*ui*/) { terminal::ReleaseUiLock(); }

}  // extern "C"
