// The progress library's real windows on Windows.
//
// Threading: the progress windows live on a thread of the library's own,
// started with the first window and ended with the last, so that they repaint
// and see a click on Cancel however long the batch spends between its calls.
// The batch's calls stay on the batch's thread: they hand their work to the
// window thread with SendMessage, which returns once it is done (a window is
// shown, hidden or gone when the call returns), or, for the percentage that
// the cipher reports often, with PostMessage. While the batch's thread waits
// in SendMessage it still answers what the window thread sends it, so a host
// window owning ours on that thread cannot deadlock the two.
//
// The prompt and the error dialog are modal and run on the batch's thread
// itself, owned by the host's active window: their modal loop keeps the
// host's windows painted, as a dialog of the host's own would.
#include "platform/win32.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "suite/msgbox/windowed.h"
#include "suite/progress/window.h"
#include "suite/uiexchange.h"

namespace halvex::progress::window {

struct Progress {
  HWND frame = nullptr;
  HWND name = nullptr;
  HWND bar = nullptr;
  HWND button = nullptr;
  HFONT font = nullptr;
  bool locked = false;  // no Cancel: the batch disabled the button
  int32_t percent = -1;
  std::atomic<bool> cancelled{false};
};

namespace {

constexpr wchar_t kFrameClass[] = L"HalvexProgress";
constexpr wchar_t kControlClass[] = L"HalvexProgressThread";
constexpr UINT kRun = WM_APP + 1;  // lParam: a std::function<void()> to run on the window thread

HINSTANCE Module() {
  static const int anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

// Answers what other threads send this one, leaving its posted messages
// (the host's input) in its queue.
void AnswerSentMessages() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

// ---- The window thread ----------------------------------------------------

struct WindowThread {
  std::mutex mutex;
  HANDLE handle = nullptr;
  HWND control = nullptr;  // a message-only window that runs the batch's requests
  int windows = 0;
};

WindowThread& Thread() {
  static WindowThread thread;
  return thread;
}

LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kRun) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 0;
  }
  if (msg == WM_CLOSE) {
    DestroyWindow(hwnd);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* p = reinterpret_cast<Progress*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
      break;
    case WM_CLOSE:  // the title bar's close box, Alt+F4: as Cancel
      PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
      return 0;
    case WM_COMMAND:
      // Escape (through IsDialogMessage) and the button both arrive as IDCANCEL.
      if (LOWORD(wParam) == IDCANCEL && p && !p->locked && !p->cancelled) {
        p->cancelled = true;
        // Seen at once; the batch stops at its next check.
        SetWindowTextW(p->button, L"Cancelling");
        EnableWindow(p->button, FALSE);
      }
      return 0;
    case WM_SETFOCUS:
      if (p && IsWindowEnabled(p->button)) SetFocus(p->button);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

struct Start {
  HANDLE ready = nullptr;
  HWND control = nullptr;
};

DWORD WINAPI ThreadMain(void* param) {
  auto* start = static_cast<Start*>(param);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW frame{};
  frame.cbSize = sizeof(frame);
  frame.lpfnWndProc = FrameProc;
  frame.hInstance = Module();
  frame.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  frame.lpszClassName = kFrameClass;
  RegisterClassExW(&frame);  // fails harmlessly when a former thread registered it
  WNDCLASSEXW control{};
  control.cbSize = sizeof(control);
  control.lpfnWndProc = ControlProc;
  control.hInstance = Module();
  control.lpszClassName = kControlClass;
  RegisterClassExW(&control);
  HWND hwnd = CreateWindowExW(0, kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Module(), nullptr);
  start->control = hwnd;
  SetEvent(start->ready);  // start is the starter's and gone after this
  if (!hwnd) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab, Enter, Escape and Alt+letter in a progress window.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && root != hwnd && IsDialogMessageW(root, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

// With the thread's mutex held.
bool StartThread(WindowThread& t) {
  if (t.handle) return true;
  Start start;
  start.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!start.ready) return false;
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, ThreadMain, &start, 0, &id);
  if (handle) WaitForSingleObject(start.ready, INFINITE);
  CloseHandle(start.ready);
  if (!handle) return false;
  if (!start.control) {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    return false;
  }
  t.handle = handle;
  t.control = start.control;
  return true;
}

// With the thread's mutex held: the thread ends with the last window, so
// that nothing of ours runs once the host unloads the library.
void StopThreadWhenIdle(WindowThread& t) {
  if (!t.handle || t.windows > 0) return;
  PostMessageW(t.control, WM_CLOSE, 0, 0);
  while (MsgWaitForMultipleObjects(1, &t.handle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
    AnswerSentMessages();
  CloseHandle(t.handle);
  t.handle = nullptr;
  t.control = nullptr;
}

void RunOnWindowThread(const std::function<void()>& work) {
  SendMessageW(Thread().control, kRun, 0, reinterpret_cast<LPARAM>(&work));
}

int Scaled(int pixels, int dpi) { return MulDiv(pixels, dpi, 96); }

// On the window thread.
void Build(Progress& p, HWND owner) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  p.font = CreateFontIndirectW(&metrics.lfMessageFont);
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  auto s = [dpi](int pixels) { return Scaled(pixels, dpi); };

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, s(380), s(112)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT around{};
  if (!owner || !IsWindowVisible(owner) || !GetWindowRect(owner, &around))
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  int x = around.left + (around.right - around.left - width) / 2;
  int y = around.top + (around.bottom - around.top - height) / 2;
  p.frame = CreateWindowExW(exStyle, kFrameClass, L"", style, x, y, width, height, owner, nullptr, Module(), &p);
  if (!p.frame) return;
  HINSTANCE module = Module();
  p.name = CreateWindowExW(0, WC_STATICW, L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS,
                           s(14), s(14), s(352), s(20), p.frame, nullptr, module, nullptr);
  p.bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, s(14), s(40), s(352), s(20), p.frame,
                          nullptr, module, nullptr);
  SendMessageW(p.bar, PBM_SETRANGE32, 0, 100);
  p.button = CreateWindowExW(0, WC_BUTTONW, L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                             s(276), s(74), s(90), s(26), p.frame, reinterpret_cast<HMENU>(IDCANCEL), module, nullptr);
  for (HWND child : {p.name, p.button}) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(p.font), FALSE);
}

// ---- Dialog templates -----------------------------------------------------

// A dialog template in memory, in dialog units, with the shell's dialog font.
class Template {
 public:
  Template(const std::wstring& title, short cx, short cy) {
    Dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    Dword(0);
    words_.insert(words_.end(), {0, 0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy), 0, 0});
    Text(title);
    words_.push_back(8);
    Text(L"MS Shell Dlg");
  }
  void Add(DWORD style, short x, short y, short cx, short cy, WORD id, WORD kind, const std::wstring& text) {
    if (words_.size() % 2) words_.push_back(0);  // items start on a DWORD
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    words_.insert(words_.end(), {static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx),
                                 static_cast<WORD>(cy), id, 0xFFFF, kind});
    Text(text);
    words_.push_back(0);
    ++words_[4];  // the item count
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  static constexpr WORD kButton = 0x0080;
  static constexpr WORD kStatic = 0x0082;

 private:
  void Dword(DWORD value) { words_.insert(words_.end(), {LOWORD(value), HIWORD(value)}); }
  void Text(const std::wstring& text) {
    words_.insert(words_.end(), text.begin(), text.end());
    words_.push_back(0);
  }
  std::vector<WORD> words_;
};

constexpr WORD kIconId = 100;
constexpr WORD kTextId = 101;

struct Button {
  WORD id;
  const wchar_t* label;
};

struct DialogSetup {
  LPCWSTR icon;
  WORD defaultId;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      const auto* setup = reinterpret_cast<const DialogSetup*>(lParam);
      SendDlgItemMessageW(dialog, kIconId, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconW(nullptr, setup->icon)), 0);
      SetForegroundWindow(dialog);
      SetFocus(GetDlgItem(dialog, setup->defaultId));
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) EndDialog(dialog, LOWORD(wParam));  // Escape arrives as IDCANCEL
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

// Shows the question with the buttons in a row at the bottom right; the
// clicked button's id, or nothing when no dialog could be shown.
std::optional<WORD> Ask(const std::wstring& title, const std::wstring& text, LPCWSTR icon,
                        const std::vector<Button>& buttons, WORD defaultId) {
  constexpr short kMargin = 7, kWidth = 54, kHeight = 14, kGap = 4, kTextHeight = 48;
  short rowWidth = static_cast<short>(buttons.size() * (kWidth + kGap) - kGap);
  short cx = std::max<short>(static_cast<short>(rowWidth + 2 * kMargin), 260);
  short cy = kMargin + kTextHeight + kGap + kHeight + kMargin;
  Template t(title, cx, cy);
  t.Add(SS_ICON, kMargin, kMargin, 21, 20, kIconId, Template::kStatic, L"");
  t.Add(SS_LEFT | SS_NOPREFIX, kMargin + 30, kMargin, cx - 2 * kMargin - 30, kTextHeight, kTextId, Template::kStatic,
        text);
  short x = cx - kMargin - rowWidth;
  for (const Button& b : buttons) {
    DWORD style = WS_TABSTOP | (b.id == defaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    t.Add(style, x, cy - kMargin - kHeight, kWidth, kHeight, b.id, Template::kButton, b.label);
    x += kWidth + kGap;
  }
  DialogSetup setup{icon, defaultId};
  INT_PTR id = DialogBoxIndirectParamW(Module(), t.get(), halvex::msgbox::HostWindow(), DialogProc,
                                       reinterpret_cast<LPARAM>(&setup));
  if (id <= 0) return std::nullopt;
  return static_cast<WORD>(id);
}

}  // namespace

// ---- Progress windows -----------------------------------------------------

Progress* Create() {
  WindowThread& t = Thread();
  std::lock_guard<std::mutex> lock(t.mutex);
  if (!StartThread(t)) return nullptr;
  auto* p = new Progress;
  HWND owner = halvex::msgbox::HostWindow();
  RunOnWindowThread([p, owner] { Build(*p, owner); });
  if (!p->frame) {
    delete p;
    StopThreadWhenIdle(t);
    return nullptr;
  }
  ++t.windows;
  return p;
}

void Destroy(Progress* p) {
  WindowThread& t = Thread();
  std::lock_guard<std::mutex> lock(t.mutex);
  RunOnWindowThread([p] {
    DestroyWindow(p->frame);
    DeleteObject(p->font);
  });
  delete p;
  --t.windows;
  StopThreadWhenIdle(t);
}

void SetTitle(Progress* p, const WCHAR* title) {
  RunOnWindowThread([p, title] { SetWindowTextW(p->frame, title); });
}

void SetName(Progress* p, const WCHAR* name, const std::string& /*shown*/) {
  p->percent = 0;
  RunOnWindowThread([p, name] {
    SetWindowTextW(p->name, name);
    SendMessageW(p->bar, PBM_SETPOS, 0, 0);
  });
}

void SetPercent(Progress* p, int32_t percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == p->percent) return;
  p->percent = percent;
  PostMessageW(p->bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

// The Windows window keeps to the bar: its pace is not drawn.
void SetPace(Progress*, const std::string&) {}

void DisableButton(Progress* p) {
  RunOnWindowThread([p] {
    p->locked = true;
    EnableWindow(p->button, FALSE);
  });
}

void Show(Progress* p, bool shown) {
  RunOnWindowThread([p, shown] {
    ShowWindow(p->frame, shown ? SW_SHOWNORMAL : SW_HIDE);
    if (shown) UpdateWindow(p->frame);
  });
}

bool CancelPressed(Progress* p) {
  AnswerSentMessages();
  return p->cancelled;
}

// ---- Dialogs --------------------------------------------------------------

std::optional<int32_t> Prompt(int32_t direction, const WCHAR* name, int32_t question, bool more) {
  std::wstring file = std::wstring(L"\u201C") + (name ? name : L"") + L"\u201D";
  std::wstring text = question == 2
      ? file + L" is a hidden file.\n\n" + (direction == 2 ? L"Decrypt" : L"Encrypt") + L" it?"
      : file + L" exists already.\n\nReplace it?";
  std::vector<Button> buttons{{UI_REPLACE, L"&Yes"}, {UI_SKIP, L"&No"}};
  if (more) buttons.insert(buttons.end(), {{UI_YES_TO_ALL, L"Yes to &all"}, {UI_SKIP_ALL, L"&Skip all"}});
  buttons.push_back({IDCANCEL, L"&Cancel"});
  // Enter keeps an existing file; a hidden one is the user's own choice to encrypt.
  WORD defaultId = question == 2 ? UI_REPLACE : UI_SKIP;
  std::optional<WORD> id = Ask(question == 2 ? L"Hidden file" : L"File exists", text,
                               reinterpret_cast<LPCWSTR>(IDI_QUESTION), buttons, defaultId);
  if (!id) return std::nullopt;
  return *id == IDCANCEL ? int32_t{UI_CANCEL} : int32_t{*id};
}

std::optional<int32_t> ErrorDialog(const WCHAR* name, const std::string& message) {
  std::wstring text(message.begin(), message.end());  // the table's messages are ASCII
  if (!text.empty()) text[0] = static_cast<wchar_t>(std::towupper(text[0]));
  text += L".\n\n" + std::wstring(name ? name : L"");
  std::optional<WORD> id = Ask(L"File error", text, reinterpret_cast<LPCWSTR>(IDI_ERROR),
                               {{UI_RETRY, L"&Retry"}, {UI_SKIP_ERROR, L"&Skip"}, {IDCANCEL, L"&Cancel"}}, UI_RETRY);
  if (!id) return std::nullopt;
  return *id == IDCANCEL ? int32_t{UI_STOP} : int32_t{*id};
}

}  // namespace halvex::progress::window
