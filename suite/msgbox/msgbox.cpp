// The message box: a real one on Windows, one line on stderr for a terminal.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/wide.h"
#include "suite/msgbox.h"
#include "suite/msgbox/lines.h"
#include "suite/msgbox/messages.h"
#include "suite/msgbox/windowed.h"
#include "suite/settings/settings.h"

namespace halvex::msgbox {
namespace {

std::atomic<bool> g_console{false};
std::atomic<bool> g_quiet{false};

#ifdef _WIN32
// False when no box could be shown (no desktop): the caller writes the line.
bool ShowBox(uint32_t fes, uint32_t api) {
  std::string text = std::string(Describe(fes, api)) + ".\n\n(" + std::to_string(fes) + ", " +
                     std::to_string(api) + ")";
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  std::wstring wide = halvex::platform::Widen(text);
  return MessageBoxW(HostWindow(), wide.c_str(), L"Halvex", MB_OK | MB_ICONERROR | MB_SETFOREGROUND) != 0;
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
  return false;
#endif
}

void UseConsole(bool console) { g_console.store(console); }
void SetQuiet(bool quiet) { g_quiet.store(quiet); }
bool Quiet() { return g_quiet.load(); }

}  // namespace halvex::msgbox

extern "C" void ShowErrorMessage(uint32_t /*reserved*/, uint32_t fesCode, uint32_t apiCode, uint32_t /*flags*/) {
  if (halvex::msgbox::Quiet()) return;
#ifdef _WIN32
  if (halvex::msgbox::Windowed() && halvex::msgbox::ShowBox(fesCode, apiCode)) return;
#endif
  halvex::msgbox::WriteLines(halvex::msgbox::Line(fesCode, apiCode) + "\n");
}
