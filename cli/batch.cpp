// Running a batch and reading each file's fate from the library's listener,
// without redoing its work.
#include "cli/batch.h"

#include <filesystem>
#include <memory>

#include <cctype>
#include <cstdio>
#include <string_view>

#include "halvex/codes.h"
#include "halvex/halvex.h"
#include "halvex/listener.h"
#include "engine/cryptofile.h"
#include "cli/paths.h"
#include "cli/report.h"
#include "cli/signals.h"
#include "suite/cipher/cipher.h"
#include "suite/keystore/keystore.h"
#include "suite/msgbox/messages.h"
#include "suite/progress/host.h"

namespace halvex::cli {
namespace {

// The identifiers of this user's keys, or nothing without a readable store.
std::optional<std::string> HeldKeys() {
  std::vector<keystore::KeyInfo> keys;
  if (keystore::List(keys) != keystore::Status::kOk) return std::nullopt;
  std::string ids;
  for (const auto& k : keys) ids += (ids.empty() ? "" : ", ") + Hex8(k.id);
  return ids;
}

// Says what would open a file no given key opened: its password, or which key
// store, and which this user holds. A password given that the file's password
// slot refused is a wrong password, whatever else might open the file.
std::string NoKeyOpens(const InputFile& file, bool passwordGiven) {
  cipher::KeyNeeds needs;
  if (!cipher::DescribeKeys(file.library.c_str(), needs)) return DescribeCode(ZQCA_ERR_WRONG_KEY);
  if (needs.password && passwordGiven) return "wrong password; the file was left as it was";
  std::string ways;
  if (needs.password) ways = "its password (--password-file FILE or --ask-password)";
  if (needs.keyStore) {
    if (!ways.empty()) ways += " or ";
    ways += needs.keyStoreId ? "the key store " + Hex8(needs.keyStoreId) : "the key store it was encrypted with";
    auto held = HeldKeys();
    ways += held ? " (this user's key store holds " + *held + "; 'halvex keystore import BACKUP' adds a backup's keys)"
                 : " (this user has no key store at " + Printable(keystore::KeyFilePath().string()) +
                       "; 'halvex keystore import FILE' installs a backup)";
  }
  if (needs.recipients > 0) {
    if (!ways.empty()) ways += " or ";
    ways += (needs.recipients == 1 ? std::string("the identity of its recipient")
                                   : "the identity of one of its " + std::to_string(needs.recipients) + " recipients") +
            " (--identity FILE)";
  }
  if (ways.empty()) return DescribeCode(ZQCA_ERR_WRONG_KEY);
  return "no key given opens it: it needs " + ways;
}

// One request with its list and options, alive for one Halvex call.
class Request {
 public:
  Request(const std::vector<InputFile>& files, uint32_t type, const WString* password) {
    for (const auto& f : files) paths_.push_back(f.library);
    paths_.emplace_back();  // the list ends with an empty string
    for (auto& p : paths_) pointers_.push_back(p.data());
    list_ = std::make_unique<CFileList>(pointers_.data());
    params_.dwType = type;
    params_.pwszPassword = password ? password->c_str() : nullptr;
    params_.pFileList = list_.get();
    params_.dwErrCode = 0;
    params_.pOptions = &options_;
  }

  tagCRYPTOPARAMS& params() { return params_; }
  tagCRYPTOOPTIONS& options() { return options_; }
  CFileList& list() { return *list_; }

  // The record's first field is the status of type 0 but the result array of
  // types 3 and 4; type 5 reads no options at all.
  BatchCounters Counters() const {
    BatchCounters c;
    c.type = params_.dwType;
    c.errCode = params_.dwErrCode;
    c.outCount = list_->m_nOutCount;
    if (HasCounters(c)) {
      c.status = options_.dwStatus;
      c.succeeded = options_.nSucceeded;
      c.skipped = options_.nSkipped;
      c.passedOver = options_.nPassedOver;
    } else if (HasResults(c) && options_.pdwFileResults) {
      c.results.assign(options_.pdwFileResults, options_.pdwFileResults + (paths_.size() - 1));
    }
    return c;
  }

 private:
  std::vector<WString> paths_;
  std::vector<WCHAR*> pointers_;
  std::unique_ptr<CFileList> list_;
  tagCRYPTOOPTIONS options_{};
  tagCRYPTOPARAMS params_{};
};

// What the library's listener said about one entry.
struct Fate {
  bool started = false;
  bool decided = false;  // an outcome came
  bool rolledBack = false;
  uint32_t outcome = 0, reason = 0, fes = 0, api = 0, code = 0;
  std::string output;  // native
  std::string keptAt;  // native: where a changed source was kept, when not at its name
};

EventTap& Tap() {
  static EventTap tap;
  return tap;
}

// Collects every entry's fate while the batch runs.
class Listener {
 public:
  // The progress line learns the batch's bytes, and each file's whole name.
  explicit Listener(const std::vector<InputFile>& files) : fates_(files.size()) {
    uint64_t bytes = 0;
    for (const auto& f : files) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(f.native, ec);
      if (!ec) bytes += size;
    }
    progress::SetBatchBytes(bytes);
    HalvexSetListener(&Listener::OnEvent, this);
  }
  ~Listener() { HalvexSetListener(nullptr, nullptr); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  const Fate& operator[](size_t i) const { return fates_[i]; }
  bool AnyEvent() const { return anyEvent_; }

 private:
  static void HALVEX_CALLBACK OnEvent(void* context, const tagHALVEXEVENT* e) {
    auto* self = static_cast<Listener*>(context);
    self->anyEvent_ = true;
    if (Tap()) Tap()(e->dwKind, e->dwIndex, e->dwKind == HALVEX_EVENT_PERCENT ? e->nPercent : 0);
    if (e->dwIndex >= self->fates_.size()) return;
    Fate& f = self->fates_[e->dwIndex];
    if (e->dwKind == HALVEX_EVENT_STARTED) f.started = true, progress::SetRunningFile(e->pwszPath);
    if (e->dwKind != HALVEX_EVENT_OUTCOME) return;
    if (e->dwOutcome == HALVEX_OUTCOME_ROLLED_BACK) {
      f.rolledBack = true;
      return;
    }
    f.decided = true;
    f.outcome = e->dwOutcome;
    f.reason = e->dwReason;
    f.fes = e->dwFesCode;
    f.api = e->dwApiCode;
    f.code = e->dwCode;
    f.output = e->pwszOutput ? NativeOf(e->pwszOutput) : std::string();
    f.keptAt = e->pwszKeptAt ? NativeOf(e->pwszKeptAt) : std::string();
  }

  std::vector<Fate> fates_;
  bool anyEvent_ = false;
};

bool StillThere(const InputFile& f) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(f.native, ec));
}

FileResult Result(const InputFile& file, FileStatus status, uint32_t code, std::string reason) {
  FileResult r;
  r.path = file.native;
  r.status = status;
  r.code = code;
  r.reason = std::move(reason);
  return r;
}

// An entry the batch never began: it went meanwhile, or the batch stopped first.
FileResult NotStarted(const InputFile& file, bool stopped, const char* why) {
  if (!StillThere(file)) return Result(file, FileStatus::kFailed, 0, "disappeared before its turn");
  if (stopped) return Result(file, FileStatus::kCancelled, 0, why);
  return Result(file, FileStatus::kFailed, 0, "not reached");
}

// Why a file with other names was not encrypted, with how many it has.
std::string OtherNamesReason(const InputFile& file) {
  const size_t others = OtherNames(file.native);
  const std::string count = others == 0 ? "other names" : others == 1 ? "1 other name" : std::to_string(others) + " other names";
  return "it has " + count + "; its content would stay readable under " + (others == 1 ? "it" : "them") +
         " (--links encrypt encrypts it anyway)";
}

// A file of the name a received file holds, in the way and never replaced.
std::string NameTaken(const Fate& f, const char* after) {
  return "a file named " + Printable(f.output) + " exists; this file holds that name but came as another, so "
         "it never replaces it" + after;
}

// An error verdict that only says the file needs no work: already
// encrypted, or not encrypted at all.
bool NothingToDo(const Fate& f) {
  return f.fes == FES_ALREADY_ENCRYPTED || f.fes == FES_NOT_ENCRYPTED || f.api == ZQCA_ERR_NOT_ENCRYPTED;
}

// The fate of an entry of an in-place batch, in the command's words.
FileResult InPlaceFate(const InputFile& file, const Fate& f, bool stopped, bool passwordGiven) {
  const uint32_t dialogCode = f.api ? f.api : f.fes;
  if (f.decided && f.fes == FES_NAME_TAKEN && !f.output.empty() &&
      (f.outcome == HALVEX_OUTCOME_SKIPPED || f.outcome == HALVEX_OUTCOME_FAILED)) {
    const bool skipped = f.outcome == HALVEX_OUTCOME_SKIPPED;
    return Result(file, skipped ? FileStatus::kSkipped : FileStatus::kFailed, FES_NAME_TAKEN,
                  NameTaken(f, skipped ? "" : "; the batch stopped"));
  }
  switch (f.decided ? f.outcome : 0) {
    case HALVEX_OUTCOME_DONE: {
      FileResult r = Result(file, FileStatus::kDone, 0, "");
      r.outputs.push_back(f.output);
      return r;
    }
    case HALVEX_OUTCOME_PASSED_OVER:
      return Result(file, FileStatus::kPassedOver, f.code,
                    f.code == ZQCA_ERR_WRONG_KEY ? NoKeyOpens(file, passwordGiven) : DescribeCode(f.code));
    case HALVEX_OUTCOME_REFUSED:
      if (f.reason == HALVEX_REASON_SYSTEM_FILE)
        return Result(file, FileStatus::kSkipped, 0, "a system file, never encrypted");
      if (f.reason == HALVEX_REASON_HARD_LINKS) return Result(file, FileStatus::kSkipped, f.fes, OtherNamesReason(file));
      return Result(file, FileStatus::kFailed, 0, "disappeared before its turn");
    case HALVEX_OUTCOME_SKIPPED:
      if (f.reason == HALVEX_REASON_HIDDEN_FILE)
        return Result(file, FileStatus::kSkipped, 0, "a hidden file (--on-hidden encrypt includes it)");
      if (f.reason == HALVEX_REASON_OUTPUT_EXISTS)
        return Result(file, FileStatus::kSkipped, ZQCA_ERR_OUTPUT_EXISTS, "the output exists already (--on-exists replace replaces it)");
      // Gone past at the error question: a file with nothing to do is
      // skipped; one that failed (damaged, unreadable, ...) stays failed.
      return Result(file, NothingToDo(f) ? FileStatus::kSkipped : FileStatus::kFailed, dialogCode,
                    msgbox::Describe(f.fes, f.api));
    case HALVEX_OUTCOME_CANCELLED:
      if (f.reason == HALVEX_REASON_NOT_STARTED) return NotStarted(file, stopped, "not started: the batch was stopped");
      if (f.reason == HALVEX_REASON_HIDDEN_FILE)
        return Result(file, FileStatus::kCancelled, 0, "a hidden file; the batch stopped");
      if (f.reason == HALVEX_REASON_OUTPUT_EXISTS)
        return Result(file, FileStatus::kCancelled, ZQCA_ERR_OUTPUT_EXISTS, "the output exists already; the batch stopped");
      return Result(file, FileStatus::kCancelled, 0, "cancelled while it ran; left as it was");
    case HALVEX_OUTCOME_FAILED:
      if (f.reason == HALVEX_REASON_ERROR_DIALOG)
        return Result(file, FileStatus::kFailed, dialogCode, std::string(msgbox::Describe(f.fes, f.api)) + "; the batch stopped");
      if (f.reason == HALVEX_REASON_OUTPUT_EXISTS)
        return Result(file, FileStatus::kFailed, f.fes, msgbox::Describe(f.fes, f.api));
      return Result(file, FileStatus::kFailed, f.code, f.code ? DescribeCode(f.code) : "not done");
    default: return NotStarted(file, stopped, "not started: the batch was stopped");
  }
}

// A source found changed is kept with its output: the report names both, and
// where the file found at its name went when a newer one took it again.
FileResult InPlaceResult(const InputFile& file, const Fate& f, bool stopped, bool passwordGiven) {
  FileResult r = InPlaceFate(file, f, stopped, passwordGiven);
  if (!f.decided || f.fes != FES_SOURCE_CHANGED || r.status == FileStatus::kDone) return r;
  if (!f.output.empty()) r.outputs.push_back(f.output);
  if (!f.keptAt.empty())
    r.reason += "; its name was taken again meanwhile: the file that stood there is now " + Printable(f.keptAt);
  return r;
}

// The fate of an entry of the all-or-nothing copy batch.
FileResult CopyResult(const InputFile& file, const Fate& f) {
  if (f.rolledBack)
    return Result(file, FileStatus::kRolledBack, 0, "its copy was removed again: another file failed (all or nothing)");
  switch (f.decided ? f.outcome : 0) {
    case HALVEX_OUTCOME_DONE: {
      FileResult r = Result(file, FileStatus::kDone, 0, "");
      r.outputs.push_back(f.output);
      return r;
    }
    case HALVEX_OUTCOME_FAILED: return Result(file, FileStatus::kFailed, f.code, DescribeCode(f.code));
    case HALVEX_OUTCOME_REFUSED: return Result(file, FileStatus::kFailed, 0, "disappeared before its turn");
    default: return NotStarted(file, true, "not started: another file failed");
  }
}

BatchReport SetupFailed(const Request& request) {
  BatchReport report;
  report.counters = request.Counters();
  report.setupError = request.Counters().errCode;
  return report;
}

// Runs the call with Ctrl-C turned into the cancel button (or a note).
void Run(Request& request, bool cancellable) {
  InstallInterruptHandler(cancellable);
  Halvex(&request.params());
  RemoveInterruptHandler();
}

}  // namespace

BatchReport RunInPlace(const std::vector<InputFile>& files, const WString* password, InPlaceMode mode) {
  const bool encrypting = mode == InPlaceMode::kEncrypt || mode == InPlaceMode::kEncryptSelfExtract;
  Request request(files, REQ_IN_PLACE, password);
  request.options().dwAction = encrypting ? 1 : 0;
  request.options().bSelfExtract = mode == InPlaceMode::kEncryptSelfExtract;
  request.options().bDecryptToTemp = mode == InPlaceMode::kDecryptToTemp;
  // The library leaves dwErrCode alone when it walks no file; a sentinel
  // tells a setup failure from a batch.
  constexpr uint32_t kUntouched = 0xFFFFFFFFu;
  request.params().dwErrCode = kUntouched;

  Listener listener(files);
  Run(request, true);
  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  if (!listener.AnyEvent() && report.counters.errCode != kUntouched && report.counters.errCode != 0)
    return SetupFailed(request);
  if (report.counters.errCode == kUntouched) report.counters.errCode = 0;

  const bool stopped = report.interrupted || report.counters.status == 1;
  for (size_t i = 0; i < files.size(); ++i) report.files.push_back(InPlaceResult(files[i], listener[i], stopped, password != nullptr));
  return report;
}

BatchReport RunCopy(const std::vector<InputFile>& files, const WString& password) {
  Request request(files, REQ_SELF_EXTRACT, &password);
  Listener listener(files);
  Run(request, false);
  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  if (!listener.AnyEvent() && report.counters.errCode != 0) return SetupFailed(request);
  for (size_t i = 0; i < files.size(); ++i) report.files.push_back(CopyResult(files[i], listener[i]));
  return report;
}

BatchReport RunMail(const std::vector<InputFile>& files, const WString& password, bool yah) {
  Request request(files, yah ? REQ_MESSAGE_COPY : REQ_MESSAGE, &password);
  std::vector<uint32_t> results(files.size() + 1, 0);
  request.options().pdwFileResults = results.data();
  Listener listener(files);
  Run(request, false);

  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  // Every entry gets one output path, in entry order; fewer means the batch
  // never started.
  if (request.list().m_vecOutFiles.size() < files.size()) return SetupFailed(request);
  for (size_t i = 0; i < files.size(); ++i) {
    const Fate& f = listener[i];
    FileResult r = Result(files[i], FileStatus::kFailed, results[i], "");
    if (f.decided && f.outcome == HALVEX_OUTCOME_DONE) {
      r.status = FileStatus::kDone;
      r.outputs.push_back(f.output);
      if (report.folder.empty()) report.folder = std::filesystem::path(f.output).parent_path().string();
    } else if (f.decided && f.outcome == HALVEX_OUTCOME_REFUSED) {
      r.reason = "no such file";  // 1015 is also the checks' "access denied": the listener tells which
    } else {
      r.reason = results[i] == ERR_SELF_EXTRACTOR ? "already a self-extracting encrypted file (--yah copies it)"
                                                  : DescribeCode(results[i]);
    }
    report.files.push_back(std::move(r));
  }
  return report;
}

namespace {

// A message folder's copy is named NAME.qelmenx; a recipient's system opens
// NAME.exe, the name 'copy' gives beside the source.
std::string RecipientName(const std::filesystem::path& output) {
  std::string name = output.filename().string();
  constexpr std::string_view kMessage = ".qelmenx", kProgram = ".exe";
  if (name.size() > kMessage.size() && name.compare(name.size() - kMessage.size(), kMessage.size(), kMessage) == 0)
    name.resize(name.size() - kMessage.size());
  auto lower = name;
  for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (lower.size() < kProgram.size() || lower.compare(lower.size() - kProgram.size(), kProgram.size(), kProgram) != 0)
    name += kProgram;
  return name;
}

}  // namespace

void PlaceOutputs(BatchReport& report, const std::string& folder) {
  namespace fs = std::filesystem;
  report.placedIn = folder;
  for (FileResult& r : report.files) {
    if (r.status != FileStatus::kDone || r.outputs.empty()) continue;
    const fs::path target = fs::path(folder) / RecipientName(r.outputs.front());
    std::error_code ec;
    // Never replaces: a file (or a link) of that name stays as it is.
    if (fs::exists(fs::symlink_status(target, ec))) {
      ec = std::make_error_code(std::errc::file_exists);
    } else if (!fs::copy_file(r.outputs.front(), target, fs::copy_options::none, ec) && !ec) {
      ec = std::make_error_code(std::errc::file_exists);
    }
    if (!ec) {
      r.placed = target.string();
      continue;
    }
    // A copy cut short is no file to hand on; one found there was never ours.
    if (ec != std::errc::file_exists) {
      std::error_code ignored;
      fs::remove(target, ignored);
    }
    r.status = FileStatus::kFailed;
    r.reason = (ec == std::errc::file_exists ? Printable(target.string()) + " exists already and is never replaced"
                                             : "cannot write " + Printable(target.string()) + ": " + ec.message()) +
               "; the encrypted copy stays at " + Printable(r.outputs.front());
  }
}

void SetEventTap(EventTap tap) { Tap() = std::move(tap); }

bool HasCounters(const BatchCounters& c) { return c.type == REQ_IN_PLACE; }
bool HasResults(const BatchCounters& c) { return c.type == REQ_MESSAGE || c.type == REQ_MESSAGE_COPY; }

bool HasPasswordSlot(const InputFile& file) {
  cipher::KeyNeeds needs;
  return cipher::DescribeKeys(file.library.c_str(), needs) && needs.password;
}

bool PasswordNeeded(const std::vector<InputFile>& files) {
  std::vector<keystore::KeyInfo> keys;
  if (keystore::List(keys) != keystore::Status::kOk) keys.clear();
  auto held = [&](uint32_t id) {
    for (const auto& k : keys)
      if (k.id == id) return true;
    return false;
  };
  for (const InputFile& f : files) {
    cipher::KeyNeeds needs;
    if (!cipher::DescribeKeys(f.library.c_str(), needs) || !needs.password) continue;
    if (!needs.keyStore || !held(needs.keyStoreId)) return true;
  }
  return false;
}

bool IsLeftAlone(const BatchReport& report, const FileResult& f) {
  return report.leftAloneCode != 0 && f.status == FileStatus::kSkipped && f.code == report.leftAloneCode;
}

std::string DescribeCode(uint32_t code) {
  // A file's code is the cipher's result when it came from a cipher call,
  // else the engine's own verdict; the two tables share a few numbers, and
  // the cipher's reading is the one a file's code carries.
  if (const char* api = msgbox::DescribeApi(code)) return api;
  if (const char* fes = msgbox::DescribeFes(code)) return fes;
  return "failed with code " + std::to_string(code);
}

const char* StatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kDone: return "done";
    case FileStatus::kSkipped: return "skipped";
    case FileStatus::kPassedOver: return "passed-over";
    case FileStatus::kFailed: return "failed";
    case FileStatus::kCancelled: return "cancelled";
    case FileStatus::kRolledBack: return "rolled-back";
  }
  return "failed";
}

}  // namespace halvex::cli
