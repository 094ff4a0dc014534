// Progress windows: real ones on Windows and on a Linux desktop (window.h),
// else one line on stderr while a window is shown; the cancel button is also a flag the host sets.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/msgbox/lines.h"
#include "suite/msgbox/windowed.h"
#include "suite/progress.h"
#include "suite/progress/dialogs.h"
#include "suite/progress/host.h"
#include "suite/progress/terminal.h"
#include "suite/progress/window.h"

namespace halvex::progress {
namespace {

using Clock = std::chrono::steady_clock;

enum class Family { kEncryption, kDecryption };

struct Window {
  Family family = Family::kEncryption;
  bool shown = false;
  bool buttonDisabled = false;
  bool alternativeTitle = false;
  std::string name;  // UTF-8
  int32_t percent = 0;
  // Whether stderr is a terminal, asked at the first draw only: a batch
  // redraws for every file and percent, and stderr does not change under it.
  std::optional<bool> toTerminal;
  window::Progress* native = nullptr;  // the real window; none for a console
  // The time the window was shown, which leaves out the questions asked
  // while it was hidden: the rate is the batch's own.
  Clock::duration shownFor{};
  std::optional<Clock::time_point> shownSince;
};

// What the host told of the batch: the bytes of all its files, and the file
// running now (its full path and size; the library names it by its tail).
struct Running {
  uint64_t batchBytes = 0;
  uint64_t doneBytes = 0;  // the files before the running one
  WString path;
  std::string shown;       // its full name, for the line
  uint64_t bytes = 0;
};

Running& Host() {
  static Running running;
  return running;
}

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

// Columns a UTF-8 text takes: one per character, two from U+1100 on, where
// the wide East Asian characters begin (a few narrow ones are counted wide,
// which only cuts a name early).
size_t Columns(std::string_view text, size_t* cut = nullptr, size_t room = 0) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const size_t width = lead < 0xE1 ? 1 : 2;
    if (cut && columns + width > room) {
      *cut = i;
      return columns;
    }
    columns += width;
    i += length;
  }
  if (cut) *cut = text.size();
  return columns;
}

// The name in at most room columns: "..." and as much of its end as fits.
std::string Fit(const std::string& name, size_t room) {
  if (Columns(name) <= room) return name;
  if (room <= 3) return std::string(room, '.');
  std::vector<std::string> characters;
  for (size_t i = 0; i < name.size();) {
    size_t j = i + 1;
    while (j < name.size() && (static_cast<unsigned char>(name[j]) & 0xC0) == 0x80) ++j;
    characters.push_back(name.substr(i, j - i));
    i = j;
  }
  std::string tail;
  size_t used = 3;
  for (auto c = characters.rbegin(); c != characters.rend(); ++c) {
    const size_t width = Columns(*c);
    if (used + width > room) break;
    tail.insert(0, *c);
    used += width;
  }
  return "..." + tail;
}

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1024.0 * 1024.0) std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
  else std::snprintf(text, sizeof text, "%.0f KiB/s", bytesPerSecond / 1024.0);
  return text;
}

std::string TimeLeft(double seconds) {
  // A stalled start would promise years: no more than 99 hours are told.
  const uint64_t s = static_cast<uint64_t>(std::min(seconds, 99.0 * 3600) + 0.5);
  char text[48];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02u:%02u left", s / 3600, static_cast<unsigned>(s / 60 % 60),
                  static_cast<unsigned>(s % 60));
  else
    std::snprintf(text, sizeof text, "%u:%02u left", static_cast<unsigned>(s / 60), static_cast<unsigned>(s % 60));
  return text;
}

Clock::duration ShownFor(const Window& w) {
  return w.shownFor + (w.shownSince ? Clock::now() - *w.shownSince : Clock::duration{});
}

// Rate and time left, once the batch has run long enough to tell them: the
// host's byte counts when it gave them.
std::string Pace(const Window& w, int32_t percent) {
  constexpr auto kSettled = std::chrono::milliseconds(1500);
  const Clock::duration shown = ShownFor(w);
  const Running& host = Host();
  if (shown < kSettled || host.batchBytes == 0) return "";
  const double seconds = std::chrono::duration<double>(shown).count();
  const double done = static_cast<double>(host.doneBytes) + static_cast<double>(host.bytes) * percent / 100.0;
  if (done <= 0) return "";
  const double rate = done / seconds;
  const double left = std::max(0.0, static_cast<double>(host.batchBytes) - done) / rate;
  return Rate(rate) + "  " + TimeLeft(left);
}

// The line, in at most columns - 1 columns (the last one would wrap on some
// terminals): the name gives way first, then the bar, then the pace.
std::string Line(const Window& w, int columns) {
  const int32_t percent = std::clamp(w.percent, 0, 100);
  const size_t room = static_cast<size_t>(columns > 1 ? columns - 1 : 79);
  const std::string head = std::string(Title(w)) + " ";
  const std::string bar = " " + Bar(percent), share = " " + std::to_string(percent) + "%";
  std::string pace = Pace(w, percent);
  if (!pace.empty()) pace = "  " + pace;
  constexpr size_t kLeastName = 12;
  const std::string tails[] = {bar + share + pace, share + pace, share};
  for (const std::string& tail : tails) {
    const size_t fixed = Columns(head) + Columns(tail);
    if (fixed + kLeastName > room && &tail != &tails[2]) continue;
    std::string line = head + Fit(w.name, room > fixed ? room - fixed : 0) + tail;
    size_t cut = line.size();
    Columns(line, &cut, room);
    return line.substr(0, cut);
  }
  return head;
}

void Draw(Window& w) {
  if (w.native || !w.shown || halvex::msgbox::Quiet()) return;
  if (!w.toTerminal) w.toTerminal = platform::StderrIsTerminal();
  if (!*w.toTerminal) return;
  // The width is read at every draw, so that the line follows a resize.
  halvex::msgbox::SetStatusLine(Line(w, platform::StderrColumns()));
}

void Erase(Window& w) {
  if (!w.toTerminal.value_or(false)) return;
  halvex::msgbox::SetStatusLine("");
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
  Host() = Running{};  // the batch is over: the next one tells its own
  if (w->native) window::Destroy(w->native);
  LiveWindows().erase(w);
  delete w;
  *progress = nullptr;
}

void Show(void** progress, bool shown) {
  Window* w = Of(progress);
  if (!w) return;
  if (shown && !w->shown) w->shownSince = Clock::now();
  if (!shown && w->shownSince) w->shownFor += Clock::now() - *w->shownSince, w->shownSince.reset();
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
  // The library names the file by its last characters; the host may have
  // told its whole name.
  const WStringView given(name), cut = WTEXT("...");
  const Running& host = Host();
  const bool tail = given.starts_with(cut) && WStringView(host.path).ends_with(given.substr(cut.size()));
  w->name = !host.path.empty() && (tail || given == host.path) ? host.shown : ShownName(name);
  w->percent = 0;
  if (w->native) window::SetName(w->native, name, w->name);
  Draw(*w);
}

void SetPercent(int32_t percent, void** progress) {
  Window* w = Of(progress);
  if (!w || w->percent == percent) return;  // a redraw per change, not per callback
  w->percent = percent;
  if (w->native) {
    window::SetPercent(w->native, percent);
    window::SetPace(w->native, Pace(*w, percent));
  }
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

void SetBatchBytes(uint64_t bytes) {
  Host() = Running{};
  Host().batchBytes = bytes;
}

void SetRunningFile(const WCHAR* path) {
  Running& host = Host();
  if (!path || host.path == path) return;  // the same file again, after a retry
  host.doneBytes += host.bytes;
  host.path = path;
  host.shown = halvex::platform::DisplayPath(path);
  host.bytes = 0;
  WIN32_FIND_DATAW data{};
  if (HANDLE find = FindFirstFileW(path, &data); find != INVALID_HANDLE_VALUE) {
    host.bytes = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    FindClose(find);
  }
}
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
