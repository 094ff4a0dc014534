// What the reliability tests share: a private suite environment (key store,
// settings, runtime folder, drive map), a type-0 batch runner over the real
// suite libraries, and the checker that decides whether a folder still holds
// every original file, plain or recoverably encrypted.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "halvex/filelist.h"
#include "halvex/halvex.h"
#include "halvex/records.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/cipher/cipher.h"
#include "suite/progress/host.h"
#include "suite/zqca.h"

namespace halvex::reliability {

namespace fs = std::filesystem;

// HALVEX_LONG=1 asks for the long sweeps.
inline bool Long() {
  const char* v = std::getenv("HALVEX_LONG");
  return v && *v && std::string(v) != "0";
}

// Argon2id at its cheapest: hundreds of batches run in one test. Every file
// records the parameters it was made with, so the checker opens them too.
constexpr cipher::KdfParams kCheapKdf{1, 64, 1};
inline const WCHAR* Password() { return WTEXT("correct horse battery staple"); }

inline std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 7;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A private home for one test: C: is root/drive, and the key store, the
// settings and the runtime folder (the progress library's mutex, the
// temporary folder) live beside it, never in the user's own.
class SuiteEnvironment {
 public:
  explicit SuiteEnvironment(const fs::path& base = fs::temp_directory_path()) {
    std::string pattern = (base / "halvex-rel-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    root_ = pattern;
    fs::create_directories(Drive());
    fs::create_directories(root_ / "run");
    chmod((root_ / "run").c_str(), 0700);
    Export();
  }
  ~SuiteEnvironment() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  SuiteEnvironment(const SuiteEnvironment&) = delete;
  SuiteEnvironment& operator=(const SuiteEnvironment&) = delete;

  // Sets the variables the suite libraries read (inherited by children).
  void Export() const {
    setenv("HALVEX_DRIVES", ("C=" + Drive().string()).c_str(), 1);
    setenv("HALVEX_KEYSTORE", (root_ / "keystore").c_str(), 1);
    setenv("HALVEX_CONFIG", (root_ / "settings.ini").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    platform::ReloadDriveMap();
  }
  const fs::path& Root() const { return root_; }
  // A memory file system where there is one: flushes cost nothing there,
  // and a process kill keeps the page cache either way.
  static fs::path FastBase() {
    std::error_code ec;
    return fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                          : fs::temp_directory_path();
  }
  fs::path Drive() const { return root_ / "drive"; }
  // The library path of a name under the drive ("work/a.txt" -> C:\work\a.txt).
  static WString Path(std::string rel) {
    std::replace(rel.begin(), rel.end(), '/', '\\');
    return platform::Widen("C:\\" + rel);
  }

 private:
  fs::path root_;
};

// Makes every question answer itself: nobody is at a terminal in a test.
inline void NonInteractive(progress::Choice onExists, progress::ErrorChoice onError) {
  progress::SetInteractive(false);
  progress::SetPolicies(onExists, progress::Choice::kYes, onError);
  progress::SetCancel(false);
}

struct BatchResult {
  uint32_t errCode = 0;
  uint32_t status = 0;
  uint32_t succeeded = 0;
  uint32_t skipped = 0;
  uint32_t passedOver = 0;
  std::vector<WString> outputs;    // m_vecOutFiles
  std::vector<WString> remaining;  // m_vecFiles afterwards
};

// One type-0 batch over paths: action 1 encrypts, 0 decrypts (into the
// settings' temporary folder when toTemp).
inline BatchResult RunBatch(const std::vector<WString>& paths, uint32_t action,
                            const WCHAR* password = Password(), bool toTemp = false) {
  std::vector<WString> storage = paths;
  storage.push_back(WString());
  std::vector<WCHAR*> pointers;
  for (WString& s : storage) pointers.push_back(s.data());
  CFileList list(pointers.data());
  tagCRYPTOOPTIONS options{};
  options.dwAction = action;
  options.bDecryptToTemp = toTemp ? 1 : 0;
  tagCRYPTOPARAMS request{0, password, &list, 0, &options};
  Halvex(&request);
  return {request.dwErrCode, options.dwStatus, options.nSucceeded, options.nSkipped,
          options.nPassedOver, list.m_vecOutFiles, list.m_vecFiles};
}

// What an encrypted file holds, when it opens: its stored name and content.
struct Opened {
  uint32_t code = 0;
  std::string name;
  std::string content;
};

// Decrypts an encrypted file into a fresh scratch folder with the password
// alone, and reads back what came out.
inline Opened OpenEncrypted(const WString& path, const fs::path& scratchNative,
                            const WString& scratch) {
  std::error_code ec;
  fs::remove_all(scratchNative, ec);
  fs::create_directories(scratchNative);
  std::array<WCHAR, MAX_PATH> output{};
  BYTE flag = 0;
  WString password = Password();
  Opened opened;
  opened.code = ZQCA_DualPasswordFileDecryptW(path.c_str(), scratch.c_str(), password.c_str(),
                                              static_cast<uint32_t>(password.size()), nullptr,
                                              0, output.data(), &flag, nullptr);
  if (opened.code == ZQCA_OK) {
    for (const auto& entry : fs::directory_iterator(scratchNative)) {
      opened.name = entry.path().filename().string();
      opened.content = ReadFile(entry.path());
    }
  }
  fs::remove_all(scratchNative, ec);
  return opened;
}

// Names the library only ever uses for work in progress: the cipher's
// output before its rename, and a file moved out of an output's way.
inline bool IsCipherTempName(const std::string& name) {
  return name.rfind(".hvx-", 0) == 0 && name.size() > 9 && name.substr(name.size() - 4) == ".tmp";
}
inline bool IsReplacementTempName(const std::string& name) {
  return name.rfind("jur", 0) == 0 && name.size() > 7 && name.substr(name.size() - 4) == ".TMP";
}
// A source moved aside to be compared before its delete: ".hvxdel-XXXXXXXX-NAME".
constexpr size_t kDeleteAsidePrefix = 17;
inline bool IsDeleteAsideName(const std::string& name) {
  return name.rfind(".hvxdel-", 0) == 0 && name.size() > kDeleteAsidePrefix;
}

// The verdict on one folder after a batch ended, however it ended.
struct Verdict {
  int filesChecked = 0;
  std::vector<std::string> losses;     // what broke the promise, one line each
  std::vector<std::string> leftovers;  // temporary names still there
};

// Checks a folder against the originals it must still hold (name -> bytes).
// A file under an original's name must hold exactly its bytes, or be one of
// the allowed stand-ins (a decoy the test put there); any other final name
// must be a complete encrypted file that opens. Each original must then be
// there as itself, or inside an encrypted file, or both.
// With movedAside, a file moved out of an output's way (jur*.TMP) must hold
// one of those contents.
inline Verdict CheckFolder(const fs::path& folder, const std::map<std::string, std::string>& originals,
                           const std::map<std::string, std::string>& standIns,
                           const fs::path& scratchNative, const WString& scratch,
                           const std::string& folderRel, const std::set<std::string>* movedAside = nullptr) {
  Verdict verdict;
  std::map<std::string, bool> kept;
  for (const auto& [name, bytes] : originals) kept[name] = false;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (IsCipherTempName(name) || IsReplacementTempName(name)) {
      verdict.leftovers.push_back(name);
      if (movedAside && IsReplacementTempName(name) && !movedAside->count(ReadFile(folder / name)))
        verdict.losses.push_back(name + ": a moved-aside file that holds neither file that stood in the way");
      continue;
    }
    std::string bytes = ReadFile(folder / name);
    // A source caught aside still holds its original, under a name the README tells how to restore.
    const bool aside = IsDeleteAsideName(name);
    if (aside) verdict.leftovers.push_back(name);
    if (auto original = originals.find(aside ? name.substr(kDeleteAsidePrefix) : name); original != originals.end()) {
      if (bytes == original->second) {
        kept[original->first] = true;
        continue;
      }
      auto standIn = standIns.find(name);
      if (standIn == standIns.end() || standIn->second != bytes)
        verdict.losses.push_back(name + ": a plain file with wrong bytes");
      continue;
    }
    Opened opened = OpenEncrypted(SuiteEnvironment::Path(folderRel + "/" + name), scratchNative, scratch);
    if (opened.code != ZQCA_OK) {
      verdict.losses.push_back(name + ": a final name that does not open (code " +
                               std::to_string(opened.code) + ")");
      continue;
    }
    auto original = originals.find(opened.name);
    if (original != originals.end() && original->second == opened.content) kept[opened.name] = true;
  }
  for (const auto& [name, isKept] : kept) {
    ++verdict.filesChecked;
    if (!isKept) verdict.losses.push_back(name + ": neither plain nor recoverable");
  }
  return verdict;
}

}  // namespace halvex::reliability
