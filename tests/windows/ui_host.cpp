// A windowed host: runs real batches through halvex.dll while a driver thread
// finds the library's windows by class and title, reads them and answers as
// a user would, by click and by key. Exit status 0 when every batch ends as
// the answers say; otherwise one line on stderr per fault.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host_library.h"
#include "suite/uiexchange.h"

namespace {

namespace fs = std::filesystem;

host::Library g_lib;
fs::path g_work;
std::mutex g_faultsMutex;
int g_faults = 0;

void Fault(const std::string& what) {
  std::lock_guard<std::mutex> lock(g_faultsMutex);
  ++g_faults;
  std::fprintf(stderr, "ui_host: %s\n", what.c_str());
}

HWND WaitWindow(const wchar_t* kind, const wchar_t* title) {
  for (int i = 0; i < 600; ++i, Sleep(50))
    if (HWND w = FindWindowW(kind, title); w && IsWindowVisible(w)) return w;
  Fault("no window titled " + fs::path(title).string());
  return nullptr;
}

// The texts of a window's controls, one after another.
std::wstring Texts(HWND window) {
  std::wstring all;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t text[512] = L"";
    GetWindowTextW(c, text, 512);
    all += text + std::wstring(L"|");
  }
  return all;
}

// Asks ui_test.sh for a picture of the screen, when it records.
void Screenshot(const char* name) {
  const char* request = std::getenv("HALVEX_UI_SHOTS");
  if (!request) return;
  std::ofstream(std::string(request) + ".new") << name;
  fs::rename(std::string(request) + ".new", request);
  for (int i = 0; i < 100 && fs::exists(request); ++i) Sleep(100);
}

enum class How { kClick, kKey, kAlt };
struct Press {
  How how;
  int what;  // a button's id, a virtual key, a mnemonic's letter
};

// Answers a dialog and waits until it is gone.
void Answer(HWND dialog, Press press) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  HWND focus = info.hwndFocus ? info.hwndFocus : dialog;
  if (press.how == How::kClick) PostMessageW(GetDlgItem(dialog, press.what), BM_CLICK, 0, 0);
  if (press.how == How::kKey) PostMessageW(focus, WM_KEYDOWN, press.what, 1);
  if (press.how == How::kAlt) PostMessageW(focus, WM_SYSCHAR, press.what, 1 | (1 << 29));
  for (int i = 0; i < 200 && IsWindow(dialog); ++i) Sleep(25);
}

// One batch with a user at the driver; no window of the library may outlive it.
host::Outcome Run(const std::vector<fs::path>& files, const std::function<void()>& user) {
  std::vector<std::wstring> paths(files.begin(), files.end());
  std::thread driver(user);
  host::Outcome outcome = host::RunBatch(g_lib, paths, 1);
  driver.join();
  if (FindWindowW(L"HalvexProgress", nullptr) || FindWindowW(L"#32770", nullptr)) Fault("a window outlived the batch");
  return outcome;
}

char Pattern(size_t i) { return static_cast<char>(i * 131 + (i >> 20)); }

void CancelDuringLargeFile() {
  const fs::path big = g_work / L"Größe €.bin";
  constexpr size_t kChunk = 1 << 20, kChunks = 192;
  std::string chunk(kChunk, '\0');
  {
    std::ofstream out(big, std::ios::binary);
    for (size_t c = 0; c < kChunks; ++c) {
      for (size_t i = 0; i < kChunk; ++i) chunk[i] = Pattern(c * kChunk + i);
      out.write(chunk.data(), kChunk);
    }
  }
  host::Outcome outcome = Run({big}, [] {
    HWND w = WaitWindow(L"HalvexProgress", L"Encrypting");
    if (!w) return;
    HWND bar = FindWindowExW(w, nullptr, PROGRESS_CLASSW, nullptr);
    for (int i = 0; i < 500 && SendMessageW(bar, PBM_GETPOS, 0, 0) < 5; ++i) Sleep(10);
    if (Texts(w).find(L"Größe €.bin|") == std::wstring::npos) Fault("the progress window does not name the file");
    Screenshot("progress");
    PostMessageW(GetDlgItem(w, IDCANCEL), BM_CLICK, 0, 0);
  });
  if (outcome.succeeded != 0) Fault("the cancelled file was encrypted");
  std::ifstream in(big, std::ios::binary);
  for (size_t c = 0; c < kChunks && in.read(chunk.data(), kChunk); ++c)
    for (size_t i = 0; i < kChunk; ++i)
      if (chunk[i] != Pattern(c * kChunk + i)) return Fault("the cancelled source changed");
  if (!in || std::distance(fs::directory_iterator(g_work), {}) != 1) Fault("the cancel left the folder changed");
  in.close();
  fs::remove(big);
}

// Three hidden files: each answer, the "all" ones included, decides them as a user expects.
void HiddenFilePrompts() {
  struct Case {
    std::vector<Press> presses;
    const char* encrypted;  // per file
  };
  const Case cases[] = {
      {{{How::kAlt, 'a'}}, "111"},                                                       // yes to all
      {{{How::kClick, UI_SKIP_ALL}}, "000"},                                             // skip all
      {{{How::kKey, VK_RETURN}, {How::kClick, UI_SKIP}, {How::kKey, VK_ESCAPE}}, "100"},  // yes, no, cancel
  };
  for (const Case& c : cases) {
    std::vector<fs::path> files;
    for (int k = 0; k < 3; ++k) {
      files.push_back(g_work / (L"versteckt-" + std::to_wstring(k) + L"-ü.txt"));
      std::ofstream(files.back()) << "hidden " << k;
      SetFileAttributesW(files.back().c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    Run(files, [&] {
      for (size_t k = 0; k < c.presses.size(); ++k) {
        HWND d = WaitWindow(L"#32770", L"Hidden file");
        if (!d) return;
        if (Texts(d).find(files[k].filename().wstring()) == std::wstring::npos) Fault("the prompt names another file");
        if ((GetDlgItem(d, UI_YES_TO_ALL) != nullptr) != (k < 2)) Fault("the \"all\" answers shown wrongly");
        if (c.presses.size() == 3 && k == 0) Screenshot("prompt");
        Answer(d, c.presses[k]);
      }
    });
    for (int k = 0; k < 3; ++k)
      if (fs::exists(files[k]) != (c.encrypted[k] == '0')) Fault(std::string("after answers to ") + c.encrypted + ", file " + std::to_string(k) + " is wrong");
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
  host::Outcome outcome = Run(files, [&] {
    HWND d = WaitWindow(L"#32770", L"File error");
    if (!d) return;
    if (Texts(d).find(L"in-use-1.txt") == std::wstring::npos) Fault("the error dialog names another file");
    Screenshot("error");
    CloseHandle(locks[0]);
    Answer(d, {How::kClick, UI_RETRY});
    if ((d = WaitWindow(L"#32770", L"File error"))) Answer(d, {How::kAlt, 's'});
  });
  CloseHandle(locks[1]);
  if (fs::exists(files[0]) || !fs::exists(files[1]) || outcome.skipped != 1) Fault("retry and skip did not decide the files");
}

}  // namespace

int main() {
  const fs::path base = fs::temp_directory_path() / ("hx-ui-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(base);
  g_work = base / "work";
  fs::create_directories(g_work);
  _putenv_s("HALVEX_KEYSTORE", (base / "keystore").string().c_str());
  _putenv_s("HALVEX_CONFIG", (base / "settings.ini").string().c_str());
  std::ofstream(base / "settings.ini") << "temp_folder = " << (base / "tmp").string() << "\n";
  if (!host::Load(g_lib)) Fault("halvex.dll or its exports not found");
  if (g_faults) return 1;
  CancelDuringLargeFile();
  HiddenFilePrompts();
  ErrorDialogRetryAndSkip();
  FreeLibrary(g_lib.module);
  fs::remove_all(base);
  if (!g_faults) std::printf("ui_host: cancel, prompts and error dialog answered as a user would\n");
  return g_faults ? 1 : 0;
}
