// Drives the Windows self-extractor's window under Wine, as a user would:
// finds it, types the password, presses OK, and presses OK on the message
// and Yes on the messages that follow, asking for a screenshot of each (a file SHOTS\shot-NAME that
// dialog_test.sh replaces by the picture). Exit status: the program's.
//   dialog_driver.exe PROGRAM PASSWORD SHOTS
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HWND WaitFor(const wchar_t* cls, const wchar_t* title) {
  for (int i = 0; i < 600; ++i, Sleep(100))
    if (HWND w = FindWindowW(cls, title)) return w;
  return nullptr;
}

void Shot(const std::wstring& shots, const wchar_t* name) {
  std::wstring request = shots + L"\\shot-" + name;
  HANDLE f = CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  CloseHandle(f);
  for (int i = 0; i < 100 && GetFileAttributesW(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
}

int Fail(const char* what) {
  std::fprintf(stderr, "dialog_driver: %s\n", what);
  return 90;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return Fail("usage: dialog_driver PROGRAM PASSWORD SHOTS");
  std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(argv[1], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return Fail("cannot start the program");
  HWND dialog = WaitFor(L"HalvexSelfExtractor", nullptr);
  if (!dialog) return Fail("no window");
  SetDlgItemTextW(dialog, 101, argv[2]);
  Shot(argv[3], L"dialog");
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  // Each message that follows is answered Yes (a free name) or OK, until the
  // program ends.
  const wchar_t* names[] = {L"message-1", L"message-2", L"message-3"};
  for (const wchar_t* name : names) {
    HWND box = nullptr;
    for (int i = 0; i < 600 && !box && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT; ++i)
      box = FindWindowW(L"#32770", L"Halvex");
    if (!box) break;
    Shot(argv[3], name);
    PostMessageW(box, WM_COMMAND, GetDlgItem(box, IDYES) ? IDYES : IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(100);
  }
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) return Fail("the program did not end");
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}
