// The Windows self-extractor's window: password (no echo), the folder to
// restore into (beside the file by default), OK / Cancel and a progress bar.
// The restore runs on a second thread so the window stays alive; a file of
// the same name is never replaced: the user is offered a free name instead,
// and the file is then restored into a private folder first and moved.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/wide.h"
#include "suite/cipher/sfx/sfx.h"

namespace halvex::sfx {
namespace {

enum : int { kPassword = 101, kFolder, kProgress, kStatus };
constexpr UINT kDone = WM_APP + 1;

struct State {
  WString self, folder, password;
  HWND window = nullptr, ok = nullptr, progress = nullptr, status = nullptr;
  std::atomic<bool> cancel{false};
  std::thread worker;
  uint32_t code = 0;
  std::string output;
  bool busy = false;
  int exitCode = 1;
};
State* g_state = nullptr;

int32_t Progress(int32_t percent) {
  PostMessageW(g_state->progress, PBM_SETPOS, percent, 0);
  return g_state->cancel ? 1 : 0;
}

WString Text(HWND window) {
  WString text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, 0);
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// "C:\d\report.doc" -> "C:\d\report (n).doc", the first n that is free.
WString FreeName(const std::string& taken) {
  WString path = platform::Widen(taken);
  size_t slash = path.rfind(L'\\');
  size_t dot = path.rfind(L'.');
  if (dot == WString::npos || (slash != WString::npos && dot < slash) || dot == slash + 1) dot = path.size();
  for (int n = 1;; ++n) {
    WString candidate = path.substr(0, dot) + L" (" + platform::Widen(std::to_string(n)) + L")" + path.substr(dot);
    if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) return candidate;
  }
}

// Restores into a fresh folder beside the wanted one, then moves the file to
// its free name without replacing; the folder goes again either way.
uint32_t RestoreAs(State& s, const WString& target, std::string& output) {
  WString scratch = s.folder + L".halvex-" + platform::Widen(std::to_string(GetTickCount())) + L"\\";
  if (!CreateDirectoryW(scratch.c_str(), nullptr)) return ZQCA_ERR_ACCESS;
  uint32_t code = Restore(s.self, scratch, s.password, Progress, output);
  if (code == ZQCA_OK) {
    WString restored = platform::Widen(output);
    if (!MoveFileExW(restored.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
      code = GetLastError() == ERROR_ALREADY_EXISTS ? ZQCA_ERR_OUTPUT_EXISTS : ZQCA_ERR_WRITE;
      DeleteFileW(restored.c_str());
    }
    output = platform::ToUtf8(target);
  }
  RemoveDirectoryW(scratch.c_str());
  return code;
}

void Start(State& s, bool freeName, const WString& target) {
  s.busy = true;
  s.cancel = false;
  EnableWindow(s.ok, FALSE);
  SetWindowTextW(s.status, L"Restoring...");
  if (s.worker.joinable()) s.worker.join();
  s.worker = std::thread([&s, freeName, target] {
    s.code = freeName ? RestoreAs(s, target, s.output) : Restore(s.self, s.folder, s.password, Progress, s.output);
    PostMessageW(s.window, kDone, 0, 0);
  });
}

void Finished(State& s) {
  s.busy = false;
  if (s.worker.joinable()) s.worker.join();
  SendMessageW(s.progress, PBM_SETPOS, 0, 0);
  EnableWindow(s.ok, TRUE);
  SetWindowTextW(s.status, L"");
  if (s.code == ZQCA_OK) {
    WipeWide(s.password);
    MessageBoxW(s.window, platform::Widen(Message(s.code, s.output)).c_str(), L"Halvex", MB_OK | MB_ICONINFORMATION);
    s.exitCode = 0;
    DestroyWindow(s.window);
    return;
  }
  if (s.code == ZQCA_ERR_OUTPUT_EXISTS) {
    WString target = FreeName(s.output);
    WString question = platform::Widen(s.output) + L" already exists.\n\nRestore the file as " + target + L" instead?";
    if (MessageBoxW(s.window, question.c_str(), L"Halvex", MB_YESNO | MB_ICONQUESTION) == IDYES)
      return Start(s, true, target);
    return;
  }
  UINT icon = s.code == ZQCA_ERR_CANCELLED ? MB_ICONINFORMATION : MB_ICONERROR;
  MessageBoxW(s.window, platform::Widen(Message(s.code, s.output)).c_str(), L"Halvex", MB_OK | icon);
  if (s.code == ZQCA_ERR_WRONG_KEY) SetFocus(GetDlgItem(s.window, kPassword));
}

void OnOk(State& s) {
  WipeWide(s.password);
  s.password = Text(GetDlgItem(s.window, kPassword));
  std::optional<WString> folder = LibraryPath(platform::ToUtf8(Text(GetDlgItem(s.window, kFolder))));
  if (s.password.empty()) {
    MessageBoxW(s.window, L"Type the password the file was encrypted with.", L"Halvex", MB_OK | MB_ICONWARNING);
    return;
  }
  if (!folder) {
    MessageBoxW(s.window, L"The folder to restore into is not a usable path.", L"Halvex", MB_OK | MB_ICONWARNING);
    return;
  }
  s.folder = *folder;
  Start(s, false, {});
}

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
  HWND child = CreateWindowExW(cls == std::wstring(L"EDIT") ? WS_EX_CLIENTEDGE : 0, cls, text,
                               WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
  return child;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  State& s = *g_state;
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && !s.busy) OnOk(s);
      if (LOWORD(wParam) == IDCANCEL) {
        if (s.busy) s.cancel = true;
        else DestroyWindow(window);
      }
      return 0;
    case kDone:
      Finished(s);
      return 0;
    case WM_CLOSE:
      if (s.busy) s.cancel = true;
      else DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int Interactive(const WString& self, const WString& folder) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  State state;
  state.self = self;
  state.folder = folder;
  g_state = &state;

  WNDCLASSW cls{};
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = L"HalvexSelfExtractor";
  RegisterClassW(&cls);
  size_t slash = self.rfind(L'\\');
  WString title = L"Halvex - " + self.substr(slash == WString::npos ? 0 : slash + 1);
  HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME, cls.lpszClassName, title.c_str(),
                           WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 420, 220,
                           nullptr, nullptr, cls.hInstance, nullptr);
  state.window = w;
  Child(w, L"STATIC", L"This file is encrypted. Type its password to restore it.", 0, 12, 10, 390, 18, 0);
  Child(w, L"STATIC", L"&Password:", 0, 12, 38, 80, 18, 0);
  HWND password = Child(w, L"EDIT", L"", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 100, 35, 300, 22, kPassword);
  Child(w, L"STATIC", L"Restore &into:", 0, 12, 68, 85, 18, 0);
  Child(w, L"EDIT", folder.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, 100, 65, 300, 22, kFolder);
  state.progress = Child(w, PROGRESS_CLASSW, L"", 0, 12, 100, 388, 16, kProgress);
  SendMessageW(state.progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  state.status = Child(w, L"STATIC", L"", 0, 12, 124, 200, 18, kStatus);
  state.ok = Child(w, L"BUTTON", L"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 230, 145, 80, 26, IDOK);
  Child(w, L"BUTTON", L"Cancel", WS_TABSTOP, 320, 145, 80, 26, IDCANCEL);
  ShowWindow(w, SW_SHOW);
  SetFocus(password);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(w, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  state.cancel = true;
  if (state.worker.joinable()) state.worker.join();
  WipeWide(state.password);
  g_state = nullptr;
  return state.exitCode;
}

}  // namespace halvex::sfx
