// The message box: a real one on Windows or on a Linux desktop (the plugin),
// one line on stderr for a terminal.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/console.h"
#include "platform/wide.h"
#include "suite/msgbox.h"
#include "suite/msgbox/desktop.h"
#include "suite/msgbox/lines.h"
#include "suite/msgbox/messages.h"
#include "suite/msgbox/windowed.h"
#include "suite/settings/settings.h"

namespace halvex::msgbox {
namespace {

std::atomic<bool> g_console{false};
std::atomic<bool> g_quiet{false};

std::string BoxText(uint32_t fes, uint32_t api) {
  std::string text = std::string(Describe(fes, api)) + ".\n\n(" + std::to_string(fes) + ", " +
                     std::to_string(api) + ")";
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

// False when no box could be shown (no desktop): the caller writes the line.
#ifdef _WIN32
bool ShowBox(uint32_t fes, uint32_t api) {
  std::wstring wide = halvex::platform::Widen(BoxText(fes, api));
  return MessageBoxW(HostWindow(), wide.c_str(), L"Halvex", MB_OK | MB_ICONERROR | MB_SETFOREGROUND) != 0;
}
#else
bool ShowBox(uint32_t fes, uint32_t api) {
  const HalvexDesktopTable* desktop = Desktop();
  if (!desktop) return false;
  desktop->message("Halvex", BoxText(fes, api).c_str(), HALVEX_DESKTOP_ICON_ERROR);
  return true;
}

// What the user or the settings file asked for: "console", "window", or
// nothing (the environment decides).
std::string AskedUi() {
  if (const char* ui = std::getenv("HALVEX_UI"); ui && *ui) return ui;
  return halvex::settings::ReadValue(halvex::settings::SettingsFilePath(), halvex::settings::kUiKey)
      .value_or(std::string());
}
#endif

}  // namespace

#ifdef _WIN32
// A progress window of ours, hidden while a dialog asks, stands for its owner.
static HWND NotOurs(HWND window) {
  wchar_t name[32] = L"";
  if (window && GetClassNameW(window, name, 32) && std::wstring(name) == L"HalvexProgress")
    return GetWindow(window, GW_OWNER);
  return window;
}

HWND HostWindow() {
  if (HWND active = NotOurs(GetActiveWindow())) return active;
  HWND front = GetForegroundWindow();
  DWORD process = 0;
  if (front) GetWindowThreadProcessId(front, &process);
  return process == GetCurrentProcessId() ? NotOurs(front) : nullptr;
}
#endif

bool Windowed() {
#ifdef _WIN32
  if (g_console.load()) return false;
  if (const char* ui = std::getenv("HALVEX_UI")) {
    if (std::string(ui) == "console") return false;
    if (std::string(ui) == "windows") return true;
  }
  return halvex::settings::ReadValue(halvex::settings::SettingsFilePath(), halvex::settings::kUiKey) != "console";
#else
  if (g_console.load()) return false;
  // No display, no window (and, on a server, nothing more is read).
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x || !*x) && (!wayland || !*wayland)) return false;
  const std::string ui = AskedUi();
  if (ui == "console") return false;
  // Unasked, windows only with nobody at a terminal: a program started from
  // a terminal keeps its lines even though the terminal's display is set.
  if (ui != "window" && ui != "windows" &&
      (halvex::platform::StdinIsTerminal() || halvex::platform::StderrIsTerminal()))
    return false;
  return Desktop() != nullptr;
#endif
}

void UseConsole(bool console) { g_console.store(console); }
void SetQuiet(bool quiet) { g_quiet.store(quiet); }
bool Quiet() { return g_quiet.load(); }

}  // namespace halvex::msgbox

extern "C" void ShowErrorMessage(uint32_t /*reserved*/, uint32_t fesCode, uint32_t apiCode, uint32_t /*flags*/) {
  if (halvex::msgbox::Quiet()) return;
  if (halvex::msgbox::Windowed() && halvex::msgbox::ShowBox(fesCode, apiCode)) return;
  halvex::msgbox::WriteLines(halvex::msgbox::Line(fesCode, apiCode) + "\n");
}
