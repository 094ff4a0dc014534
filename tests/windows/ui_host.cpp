// A windowed host runs batches through halvex.dll while a driver thread finds the
// library's windows by class and title, reads them and answers as a user would,
// by click and by key. Exit status 0 when all ends as the answers say.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "halvex/records.h"
#include "suite/uiexchange.h"

namespace {
namespace fs = std::filesystem;
#if defined(__i386__)
#define MEMBER_CALL __attribute__((thiscall))  // the object in ECX
#else
#define MEMBER_CALL
#endif

HMODULE g_dll;
fs::path g_work;
int g_faults = 0;  // the driver's are counted before its join
void Fault(const std::string& what) { ++g_faults, std::fprintf(stderr, "ui_host: %s\n", what.c_str()); }

template <typename F>
F Export(const char* name) { return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(g_dll, name))); }

// One interactive encryption batch, the list made by the library's CFileList(WCHAR**).
tagCRYPTOOPTIONS Encrypt(const std::vector<fs::path>& files) {
  std::vector<std::wstring> paths(files.begin(), files.end());
  paths.emplace_back();
  std::vector<WCHAR*> array;
  for (auto& p : paths) array.push_back(p.data());
  alignas(CFileList) unsigned char list[sizeof(CFileList)];
  Export<void(MEMBER_CALL*)(void*, WCHAR**)>("_ZN9CFileListC1EPPw")(list, array.data());
  tagCRYPTOOPTIONS options{};
  options.dwAction = 1;
  tagCRYPTOPARAMS request{0, L"correct horse", reinterpret_cast<CFileList*>(list), 0, &options};
  Export<void(__cdecl*)(tagCRYPTOPARAMS*)>("Halvex")(&request);
  Export<void(MEMBER_CALL*)(void*)>("_ZN9CFileListD1Ev")(list);
  return options;
}

HWND WaitWindow(const wchar_t* kind, const wchar_t* title) {
  for (int i = 0; i < 600; ++i, Sleep(50))
    if (HWND w = FindWindowW(kind, title); w && IsWindowVisible(w)) return w;
  return Fault("no window titled " + fs::path(title).string()), nullptr;
}

// Whether one of the window's controls reads text.
bool Shows(HWND window, const std::wstring& text) { return FindWindowExW(window, nullptr, nullptr, text.c_str()); }

// Asks ui_test.sh, when it records, for a picture of the screen, and waits for it.
void Screenshot(const char* name) {
  const char* folder = std::getenv("HALVEX_UI_SHOTS");
  fs::path request = fs::path(folder ? folder : "") / (std::string("shot-") + name);
  if (folder) std::ofstream{request};
  for (int i = 0; i < 100 && fs::exists(request); ++i) Sleep(100);
}

enum How { kClick, kKey, kAlt };
struct Press { How how; int what; };  // a button's id, a virtual key, a mnemonic's letter

// Answers a dialog as a user would and waits until it is gone.
void Answer(HWND dialog, Press press) {
  if (press.how == kClick) PostMessageW(GetDlgItem(dialog, press.what), BM_CLICK, 0, 0);
  if (press.how == kKey) PostMessageW(dialog, WM_KEYDOWN, press.what, 1);
  if (press.how == kAlt) PostMessageW(dialog, WM_SYSCHAR, press.what, 1 | (1 << 29));
  for (int i = 0; i < 200 && IsWindow(dialog); ++i) Sleep(25);
}

// One batch with a user at the driver; no window of the library may outlive it.
template <typename User>
tagCRYPTOOPTIONS Run(const std::vector<fs::path>& files, User user) {
  std::thread driver(user);
  tagCRYPTOOPTIONS outcome = Encrypt(files);
  driver.join();
  if (FindWindowW(L"HalvexProgress", nullptr) || FindWindowW(L"#32770", nullptr)) Fault("a window outlived the batch");
  return outcome;
}

void CancelDuringLargeFile() {
  const fs::path big = g_work / L"Größe €.bin";
  std::string chunk(1 << 20, '\0'), read(chunk);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 131 + (i >> 9));
  for (std::ofstream out(big, std::ios::binary); out.tellp() < (256 << 20);) out << chunk;
  tagCRYPTOOPTIONS outcome = Run({big}, [&] {
    HWND w = WaitWindow(L"HalvexProgress", L"Encrypting");
    HWND bar = FindWindowExW(w, nullptr, PROGRESS_CLASSW, nullptr);
    for (int i = 0; w && i < 500 && SendMessageW(bar, PBM_GETPOS, 0, 0) < 5; ++i) Sleep(10);
    if (!Shows(w, big.wstring()) || !Shows(w, L"Cancel")) Fault("the progress window shows otherwise");
    Screenshot("progress");
    PostMessageW(GetDlgItem(w, IDCANCEL), BM_CLICK, 0, 0);
  });
  std::ifstream in(big, std::ios::binary);
  while (in.read(read.data(), read.size()) && read == chunk) {}
  if (outcome.nSucceeded || !in.eof() || in.gcount() || std::distance(fs::directory_iterator(g_work), {}) != 1)
    Fault("the cancelled batch changed the folder or the source");
}

// Three hidden files: each answer, the "all" ones included, decides them as a user expects.
void HiddenFilePrompts() {
  const std::pair<std::vector<Press>, const char*> cases[] = {  // the answers, and which files end encrypted
      {{{kAlt, 'a'}}, "111"},                                                // yes to all
      {{{kClick, UI_SKIP_ALL}}, "000"},                                      // skip all
      {{{kKey, VK_RETURN}, {kClick, UI_SKIP}, {kKey, VK_ESCAPE}}, "100"},  // yes (the default), no, cancel
  };
  for (const auto& [presses, encrypted] : cases) {
    std::vector<fs::path> files;
    for (int k = 0; k < 3; ++k) {
      files.push_back(g_work / (L"v" + std::to_wstring(k) + L"-ü.txt"));
      std::ofstream(files.back()) << "hidden " << k;
      SetFileAttributesW(files.back().c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    Run(files, [&] {
      for (size_t k = 0; k < presses.size(); ++k) {
        HWND d = WaitWindow(L"#32770", L"Hidden file");
        if (!Shows(d, L"\u201C" + files[k].wstring() + L"\u201D is a hidden file.\n\nEncrypt it?"))
          Fault("the prompt asks otherwise");
        if ((GetDlgItem(d, UI_YES_TO_ALL) != nullptr) != (k < 2)) Fault("the \"all\" answers shown wrongly");
        if (presses.size() == 3 && k == 0) Screenshot("prompt");
        Answer(d, presses[k]);
      }
    });
    for (int k = 0; k < 3; ++k)
      if (fs::exists(files[k]) != (encrypted[k] == '0')) Fault(encrypted + std::string(" at ") + char('0' + k));
    for (const auto& entry : fs::directory_iterator(g_work)) fs::remove(entry.path());
  }
}

// Two files in use: Retry once the first is free, Skip the second.
void ErrorDialogRetryAndSkip() {
  std::vector<fs::path> files{g_work / L"in-use-1.txt", g_work / L"in-use-2.txt"};
  std::vector<HANDLE> locks;
  for (const auto& f : files) {
    std::ofstream(f) << "busy";
    locks.push_back(CreateFileW(f.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }
  tagCRYPTOOPTIONS outcome = Run(files, [&] {
    HWND d = WaitWindow(L"#32770", L"File error");
    if (!Shows(d, L"The file is in use by another program.\n\n" + files[0].wstring()))
      Fault("the error dialog says otherwise");
    Screenshot("error");
    CloseHandle(locks[0]);
    if (d) Answer(d, {kClick, UI_RETRY});
    if ((d = WaitWindow(L"#32770", L"File error"))) Answer(d, {kAlt, 's'});
  });
  CloseHandle(locks[1]);
  if (fs::exists(files[0]) || !fs::exists(files[1]) || outcome.nSkipped != 1) Fault("retry and skip decided otherwise");
}

// A service host: nobody may be asked and nothing shown. Its policy answers
// the hidden file without a window, and its cancel from another thread ends
// the batch before anything is touched.
void ServiceHost() {
  HMODULE progress = GetModuleHandleW(L"libhalvex_progress.dll");
  auto find = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(progress, name)); };
  auto control = [&](const char* name) { return reinterpret_cast<void (*)(int)>(find(name)); };
  auto cancel = reinterpret_cast<void (*)()>(find("HalvexCancel"));
  auto reset = reinterpret_cast<void (*)()>(find("HalvexResetCancel"));
  if (!progress || !control("HalvexSetInteractive") || !control("HalvexSetQuiet") || !cancel || !reset)
    return Fault("the host controls are not exported");
  control("HalvexSetInteractive")(0);
  control("HalvexSetQuiet")(1);
  const fs::path hidden = g_work / L"service.txt", plain = g_work / L"plain.txt";
  std::ofstream(hidden) << "hidden";
  std::ofstream(plain) << "plain";
  SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN);
  auto noWindow = [] {
    for (int i = 0; i < 40; ++i, Sleep(25))
      if (FindWindowW(L"HalvexProgress", nullptr) || FindWindowW(L"#32770", nullptr)) return Fault("a window showed");
  };
  tagCRYPTOOPTIONS skipped = Run({hidden}, noWindow);
  std::thread([&] { cancel(); }).join();
  tagCRYPTOOPTIONS cancelled = Run({plain}, noWindow);
  reset();
  if (!fs::exists(hidden) || skipped.nSucceeded || !fs::exists(plain) || cancelled.dwStatus != 1)
    Fault("the service host's batches ended otherwise");
  control("HalvexSetInteractive")(-1);
  control("HalvexSetQuiet")(0);
}

}  // namespace

int main() {
  // The key store and settings are the test prefix's own.
  fs::create_directories(g_work = fs::temp_directory_path() / ("hx-ui-" + std::to_string(GetCurrentProcessId())));
  if (!(g_dll = LoadLibraryW(L"halvex.dll"))) return Fault("halvex.dll not found"), 1;
  CancelDuringLargeFile();
  HiddenFilePrompts();
  ErrorDialogRetryAndSkip();
  ServiceHost();
  FreeLibrary(g_dll);
  fs::remove_all(g_work);
  return g_faults ? 1 : 0;
}
