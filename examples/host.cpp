// An example host of the installed Halvex library, run without a terminal:
//
//   halvex_example FOLDER
//
// It makes a few files in FOLDER and runs the batches a host meets: files
// encrypted in place with a password (one entry of the list missing), a file
// already encrypted, decryption with the stored key, password-only copies
// opened with a wrong and then the right password, a message folder with its
// per-entry results, and a batch cancelled from another thread. The library
// asks nothing and prints nothing; every line on stdout is the host's own,
// and the program exits with 1 when an outcome is not what it expects.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "halvex/codes.h"
#include "halvex/halvex.h"
#include "halvex/host.h"
#include "halvex/listener.h"

namespace fs = std::filesystem;

namespace {

using LibraryPath = std::basic_string<HALVEX_WCHAR>;

int g_failures = 0;

void Expect(bool ok, const std::string& what) {
  if (ok) return;
  std::printf("UNEXPECTED: %s\n", what.c_str());
  ++g_failures;
}

// The library names files the Windows way; the conversion is its own.
LibraryPath ToLibrary(const fs::path& native) {
  // The conversion takes UTF-8 on every system.
  const std::u8string utf8 = fs::absolute(native).u8string();
  const std::string text(utf8.begin(), utf8.end());
  LibraryPath out(HalvexFromNativePath(text.c_str(), nullptr, 0), HALVEX_WCHAR{0});
  if (out.empty() || HalvexFromNativePath(text.c_str(), out.data(), out.size()) != out.size()) return {};
  out.pop_back();  // the NUL
  return out;
}

fs::path ToNative(const LibraryPath& path) {
  std::string out(HalvexToNativePath(path.c_str(), nullptr, 0), '\0');
  if (out.empty() || HalvexToNativePath(path.c_str(), out.data(), out.size()) != out.size()) return {};
  out.pop_back();
  return fs::path(std::u8string(out.begin(), out.end()));  // UTF-8 on every system
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// One entry's fate, as the library's listener reports it.
struct Fate {
  uint32_t outcome = 0;  // 0: no outcome heard
  uint32_t reason = 0;
  uint32_t apiCode = 0;
  uint32_t code = 0;
  fs::path output;
};

const char* OutcomeName(uint32_t outcome) {
  switch (outcome) {
    case HALVEX_OUTCOME_DONE: return "done";
    case HALVEX_OUTCOME_SKIPPED: return "skipped";
    case HALVEX_OUTCOME_PASSED_OVER: return "passed over";
    case HALVEX_OUTCOME_FAILED: return "failed";
    case HALVEX_OUTCOME_REFUSED: return "refused";
    case HALVEX_OUTCOME_CANCELLED: return "cancelled";
    case HALVEX_OUTCOME_ROLLED_BACK: return "rolled back";
    default: return "no outcome";
  }
}

const char* ReasonName(uint32_t reason) {
  switch (reason) {
    case HALVEX_REASON_MISSING: return " (no such file)";
    case HALVEX_REASON_SYSTEM_FILE: return " (a system file)";
    case HALVEX_REASON_HIDDEN_FILE: return " (hidden)";
    case HALVEX_REASON_OUTPUT_EXISTS: return " (the output exists)";
    case HALVEX_REASON_ERROR_DIALOG: return " (after an error)";
    case HALVEX_REASON_NOT_STARTED: return " (not started)";
    case HALVEX_REASON_WHILE_RUNNING: return " (while it ran)";
    case HALVEX_REASON_HARD_LINKS: return " (it has other names)";
    default: return "";
  }
}

// Called on the thread running Halvex, for every entry of the list.
void HALVEX_CALLBACK OnEvent(void* context, const tagHALVEXEVENT* event) {
  auto& fates = *static_cast<std::vector<Fate>*>(context);
  if (event->dwKind != HALVEX_EVENT_OUTCOME || event->dwIndex >= fates.size()) return;
  // A copy removed again after another entry failed keeps its first outcome
  // and says so.
  Fate& fate = fates[event->dwIndex];
  fate.outcome = event->dwOutcome;
  fate.reason = event->dwReason;
  fate.apiCode = event->dwApiCode;
  fate.code = event->dwCode;
  if (event->pwszOutput) fate.output = ToNative(event->pwszOutput);
}

// One batch: the request, its list and options, and the host's own copy of
// the entries (the list takes pointers to strings ended by an empty one).
struct Batch {
  std::vector<LibraryPath> entries;
  LibraryPath password;
  tagCRYPTOOPTIONS options{};
  std::vector<uint32_t> results;  // types 3 and 4
  CFileList* list = nullptr;
  tagCRYPTOPARAMS request{};

  Batch(uint32_t type, const std::vector<fs::path>& files, const char* secret = nullptr) {
    for (const fs::path& f : files) entries.push_back(ToLibrary(f));
    LibraryPath end;
    std::vector<HALVEX_WCHAR*> pointers;
    for (LibraryPath& e : entries) pointers.push_back(e.data());
    pointers.push_back(end.data());
    list = new CFileList(pointers.data());
    request.dwType = type;
    request.pFileList = list;
    request.pOptions = &options;
    if (secret) {
      // UTF-8, as typed or stored, in the wide form the request takes.
      password.assign(HalvexPasswordFromUtf8(secret, nullptr, 0), HALVEX_WCHAR{0});
      if (password.empty() || HalvexPasswordFromUtf8(secret, password.data(), password.size()) != password.size())
        password.assign(1, HALVEX_WCHAR{0});  // not UTF-8: an empty password, which the library refuses
      request.pwszPassword = password.c_str();
    }
  }
  ~Batch() {
    // The password lies only here: wipe it before its memory goes back.
    for (volatile HALVEX_WCHAR& c : password) c = 0;
    delete list;
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  std::vector<Fate> fates;

  void Run(const char* title) {
    fates.assign(entries.size(), Fate{});
    HalvexSetListener(OnEvent, &fates);
    const auto start = std::chrono::steady_clock::now();
    Halvex(&request);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // dwStatus shares its slot with pdwFileResults (types 3 and 4).
    const bool hasStatus = request.dwType != REQ_MESSAGE && request.dwType != REQ_MESSAGE_COPY;
    std::printf("%s: code %u, status %s, succeeded %u, skipped %u, passed over %u, outputs %u (%lld ms)\n", title,
                request.dwErrCode, hasStatus ? std::to_string(options.dwStatus).c_str() : "-", options.nSucceeded,
                options.nSkipped, options.nPassedOver, list->m_nOutCount, static_cast<long long>(ms.count()));
    HalvexSetListener(nullptr, nullptr);
    for (size_t i = 0; i < fates.size(); ++i) {
      const Fate& f = fates[i];
      std::printf("  %s: %s%s", ToNative(entries[i]).filename().string().c_str(), OutcomeName(f.outcome),
                  ReasonName(f.reason));
      if (f.outcome == HALVEX_OUTCOME_PASSED_OVER || f.outcome == HALVEX_OUTCOME_FAILED)
        std::printf(", code %u: %s", f.code, HalvexDescribeCode(f.code));
      if (!f.output.empty()) std::printf(" -> %s", f.output.filename().string().c_str());
      std::printf("\n");
    }
  }

  std::vector<fs::path> Outputs() const {
    std::vector<fs::path> out;
    for (uint32_t i = 0; i < list->m_nOutCount && i < list->m_vecOutFiles.size(); ++i)
      out.push_back(ToNative(list->m_vecOutFiles[i]));
    return out;
  }
};

const char* kPassword = "correct horse battery st\xC3\xA4ple";

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path folder = fs::absolute(argv[1]);
  fs::create_directories(folder);

  // The library this program runs with, which may be newer than the headers
  // it was built with.
  int major = 0, minor = 0;
  std::printf("Halvex %s\n", HalvexVersion(&major, &minor, nullptr));
  Expect(major == 0 && minor >= 1, "a library of the 0.1 interface or later");

  // Nobody is asked and nothing is printed, terminal or not; every question
  // is answered "skip".
  HalvexSetInteractive(HALVEX_ASK_NEVER);
  HalvexSetQuiet(1);
  Expect(HalvexSetPolicies(HALVEX_ANSWER_SKIP, HALVEX_ANSWER_SKIP, HALVEX_ON_ERROR_SKIP) == HALVEX_OK, "policies");
  Expect(HalvexSetPolicies(7, 0, 0) == HALVEX_INVALID_ARGUMENT, "an unknown policy is refused");

  const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt"};
  std::vector<fs::path> plain;
  for (const std::string& n : names) {
    plain.push_back(folder / n);
    Write(plain.back(), "the content of " + n + "\n");
  }
  const fs::path missing = folder / "missing.txt";
  Expect(ToNative(ToLibrary(plain[0])) == plain[0], "paths convert both ways");

  // 1. Type 0 encryption in place with a password (and the stored key, which
  //    the library creates on first use). The missing entry is passed by
  //    silently: only the counters tell.
  std::vector<fs::path> encrypted;
  {
    std::vector<fs::path> files = plain;
    files.insert(files.begin() + 1, missing);
    Batch b(REQ_IN_PLACE, files, kPassword);
    b.options.dwAction = 1;
    b.Run("encrypt a, missing, b, c");
    encrypted = b.Outputs();
    Expect(b.request.dwErrCode == 0 && b.options.nSucceeded == 3 && encrypted.size() == 3, "three encrypted");
    for (const fs::path& p : plain) Expect(!fs::exists(p), p.filename().string() + " replaced by its encrypted form");
    Expect(b.fates[1].outcome == HALVEX_OUTCOME_REFUSED && b.fates[1].reason == HALVEX_REASON_MISSING,
           "the missing entry is reported as such");
    Expect(b.fates[0].outcome == HALVEX_OUTCOME_DONE && b.fates[0].output == encrypted[0], "a.txt reported done");
  }

  // 2. Encrypting an encrypted file again is refused (8501); the error the
  //    library would show is answered "skip" silently.
  {
    Batch b(REQ_IN_PLACE, {encrypted[0]});
    b.options.dwAction = 1;
    b.Run("encrypt an encrypted file");
    Expect(b.options.nSucceeded == 0 && b.options.nSkipped == 1 && b.request.dwErrCode == FES_ALREADY_ENCRYPTED,
           "refused as already encrypted, skipped");
    std::printf("  %s\n", HalvexDescribeCode(b.request.dwErrCode));
  }

  // 3. Type 0 decryption with the stored key alone: every file comes back.
  {
    Batch b(REQ_IN_PLACE, encrypted);
    b.options.dwAction = 0;
    b.Run("decrypt with the stored key");
    Expect(b.options.nSucceeded == 3 && b.list->m_nFileCount == 0, "three restored, none left encrypted");
    for (size_t i = 0; i < plain.size(); ++i)
      Expect(Read(plain[i]) == "the content of " + names[i] + "\n", names[i] + " restored");
  }

  // 4. Type 5: self-extracting copies under the password alone, sources kept.
  //    Types 1 to 5 leave nSucceeded at 0; the outputs say what was made.
  std::vector<fs::path> copies;
  {
    Batch b(REQ_SELF_EXTRACT, {plain[0], plain[1]}, kPassword);
    b.Run("self-extracting copies");
    copies = b.Outputs();
    Expect(b.request.dwErrCode == 0 && copies.size() == 2 && fs::exists(plain[0]), "two copies beside the sources");
  }

  // 5. A wrong password opens nothing: passed over (1001), handed back in the
  //    list as still encrypted. The right one restores into a fresh folder.
  {
    Batch b(REQ_IN_PLACE, {copies[0]}, "wrong password");
    b.Run("decrypt a copy with a wrong password");
    Expect(b.request.dwErrCode == ZQCA_ERR_WRONG_KEY && b.options.nPassedOver == 1 && b.list->m_nFileCount == 1,
           "passed over with 1001, still listed");
    Expect(b.fates[0].outcome == HALVEX_OUTCOME_PASSED_OVER && b.fates[0].apiCode == ZQCA_ERR_WRONG_KEY,
           "the wrong key is reported for the file");
  }
  {
    const fs::path elsewhere = folder / "elsewhere";
    fs::create_directories(elsewhere);
    fs::copy_file(copies[1], elsewhere / copies[1].filename());
    Batch b(REQ_IN_PLACE, {elsewhere / copies[1].filename()}, kPassword);
    b.Run("decrypt a copy with the password");
    const std::vector<fs::path> out = b.Outputs();
    Expect(b.options.nSucceeded == 1 && out.size() == 1 && Read(elsewhere / "b.txt") == "the content of b.txt\n",
           "restored beside the copy");
  }

  // 6. Type 3: a message folder; one result per entry, 1015 for a missing one.
  {
    Batch b(REQ_MESSAGE, {plain[2], missing}, kPassword);
    b.results.assign(2, 0xFFFFFFFFu);
    b.options.pdwFileResults = b.results.data();
    b.Run("message folder");
    const std::vector<fs::path> out = b.Outputs();
    Expect(b.results[0] == 0 && b.results[1] == RESULT_ENTRY_MISSING && out.size() == 2, "results 0 and 1015");
    if (out.size() == 2)
      std::printf("  c.txt -> a file in %s, missing.txt -> result %u\n", out[0].parent_path().filename().string().c_str(),
                  b.results[1]);
  }

  // 7. Cancel from another thread: large files, cancelled once the first is
  //    done. The batch ends with dwStatus 1; each file is either encrypted or
  //    untouched, never half done.
  {
    const std::string big(16u << 20, 'x');
    std::vector<fs::path> files;
    for (int i = 0; i < 4; ++i) {
      files.push_back(folder / ("big" + std::to_string(i) + ".txt"));
      Write(files.back(), big);
    }
    HalvexResetCancel();
    std::atomic<bool> over{false};
    std::thread canceller([&] {
      while (!over && fs::exists(files[0])) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      HalvexCancel();
    });
    Batch b(REQ_IN_PLACE, files);
    b.options.dwAction = 1;
    b.Run("encrypt four large files, cancelled");
    over = true;
    canceller.join();
    Expect(b.options.dwStatus == 1, "the batch reports the cancel");
    Expect(b.options.nSucceeded >= 1 && b.options.nSucceeded < files.size(), "stopped part-way");
    size_t untouched = 0;
    for (const fs::path& f : files)
      if (fs::exists(f)) untouched += Read(f) == big ? 1 : 0;
    Expect(untouched + b.options.nSucceeded == files.size(), "every file encrypted or untouched");
    size_t done = 0, cancelled = 0;
    for (const Fate& f : b.fates) {
      done += f.outcome == HALVEX_OUTCOME_DONE;
      cancelled += f.outcome == HALVEX_OUTCOME_CANCELLED;
    }
    Expect(done == b.options.nSucceeded && done + cancelled == files.size(), "each file reported done or cancelled");
    std::printf("  %u encrypted, %zu untouched\n", b.options.nSucceeded, untouched);
    HalvexResetCancel();
  }

  std::printf(g_failures ? "example host: %d unexpected outcomes\n" : "example host: all outcomes as expected\n",
              g_failures);
  return g_failures ? 1 : 0;
}
