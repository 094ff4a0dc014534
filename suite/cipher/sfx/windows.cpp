// The self-extractor's Windows side: its own file, the command line in
// UTF-16, the one line on stderr of the console it was started from, and
// the password dialog.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "suite/cipher/sfx/sfx.h"

namespace halvex::sfx {

// A windowed program has no console of its own: the line goes to the
// standard error it was given, else to the console it was started from,
// else into a message box.
void ErrorLine(const std::string& line) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if ((err == nullptr || err == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
    err = GetStdHandle(STD_ERROR_HANDLE);
  std::string text = line + "\r\n";
  DWORD written = 0;
  if (err != nullptr && err != INVALID_HANDLE_VALUE &&
      WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
    return;
  MessageBoxW(nullptr, platform::Widen(line).c_str(), L"Halvex", MB_OK | MB_ICONERROR);
}

std::optional<WString> SelfPath() {
  std::vector<WCHAR> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return std::nullopt;
  return WString(buffer.data(), n);
}

std::optional<WString> LibraryPath(const std::string& native) {
  std::optional<WString> wide = platform::FromUtf8(native);
  if (!wide) return std::nullopt;
  std::vector<WCHAR> buffer(32768);
  DWORD n = GetFullPathNameW(wide->c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) return std::nullopt;
  WString path(buffer.data(), n);
  if (path.back() != L'\\') path.push_back(L'\\');
  return path;
}

}  // namespace halvex::sfx

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 0; argv && i < argc; ++i) args.push_back(halvex::platform::ToUtf8(argv[i]));
  if (argv) LocalFree(argv);
  return halvex::sfx::Run(args);
}
