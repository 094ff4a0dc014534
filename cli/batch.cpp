// Running a batch and reading each file's fate from what the library left in
// the request and told the suite (see observe.h), without redoing its work.
#include "cli/batch.h"

#include <filesystem>
#include <memory>

#include <cstdio>

#include "halvex/halvex.h"
#include "engine/cryptofile.h"
#include "cli/observe.h"
#include "cli/paths.h"
#include "cli/signals.h"
#include "suite/cipher/cipher.h"
#include "suite/keystore/keystore.h"
#include "suite/msgbox/messages.h"
#include "suite/uiexchange.h"
#include "util/fesutil.h"

namespace halvex::cli {
namespace {

enum : uint32_t {
  kTypeInPlace = 0,
  kTypeMail = 3,
  kTypeMailYah = 4,
  kTypeCopy = 5,
};
constexpr uint32_t kCodeMissing = 1015;       // types 3 and 4: the entry does not exist
constexpr uint32_t kCodeSelfExtractor = 1313; // types 3 and 4: already self-extracting
constexpr uint32_t kCodeCancelled = 1310;     // the cipher call was abandoned
constexpr uint32_t kCodeOutputExists = 10;
constexpr uint32_t kCodeWrongKey = 1001;      // no key given opens the file

std::string Hex8(uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}

// Says what would open a file no given key opened: its password, or which key
// store, and whether this machine has that one.
std::string NoKeyOpens(const InputFile& file) {
  cipher::KeyNeeds needs;
  if (!cipher::DescribeKeys(file.library.c_str(), needs)) return DescribeCode(kCodeWrongKey);
  std::string ways;
  if (needs.password) ways = "its password (--password-file FILE or --ask-password)";
  if (needs.keyStore) {
    if (!ways.empty()) ways += " or ";
    ways += needs.keyStoreId ? "the key store " + Hex8(needs.keyStoreId) : "the key store it was encrypted with";
    auto here = keystore::Identifier();
    ways += here ? " (this user's key store is " + Hex8(*here) + ")"
                 : " (this user has no key store at " + Printable(keystore::KeyFilePath().string()) +
                       "; 'halvex keystore import FILE' installs a backup)";
  }
  if (ways.empty()) return DescribeCode(kCodeWrongKey);
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

  BatchCounters Counters() const {
    return {params_.dwErrCode, options_.dwStatus,  options_.nSucceeded,
            options_.nSkipped, options_.nPassedOver, list_->m_nOutCount};
  }

 private:
  std::vector<WString> paths_;
  std::vector<WCHAR*> pointers_;
  std::unique_ptr<CFileList> list_;
  tagCRYPTOOPTIONS options_{};
  tagCRYPTOPARAMS params_{};
};

// What one file went through, gathered while the batch ran.
struct Trace {
  bool reached = false;
  uint32_t succeeded = 0, skipped = 0, passedOver = 0;
  std::vector<uint32_t> outputs;  // indexes into m_vecOutFiles
  uint32_t lastCode = 0;          // dwErrCode when the batch moved past it
  std::optional<SuiteEvent> error;     // the last error dialog
  std::optional<int32_t> hiddenAnswer; // the hidden-file question
  std::optional<int32_t> existsAnswer; // the destination-exists question
  std::optional<SuiteEvent> message;   // a failed replacement
};

// Follows a batch: the window names tell which entry runs, and the request's
// counters, read between entries, tell what each entry came to.
class Tracker : public BatchObserver {
 public:
  Tracker(const std::vector<InputFile>& files, Request& request)
      : request_(request), traces_(files.size()), last_(request.Counters()) {
    CFESUtil util;
    for (const auto& f : files) {
      WString path = f.library;
      shortNames_.push_back(util.ShortFileName(path, kDisplayTail));
    }
  }

  void OnEvent(const SuiteEvent& e) override {
    Attribute();
    switch (e.kind) {
      case SuiteEvent::Kind::kFileName:
        if (auto index = Match(e.name)) {
          current_ = *index;
          traces_[*index].reached = true;
        }
        break;
      case SuiteEvent::Kind::kQuestion:
        if (!current_) break;
        (e.question == 2 ? traces_[*current_].hiddenAnswer : traces_[*current_].existsAnswer) = e.answer;
        break;
      case SuiteEvent::Kind::kError:
        if (current_) traces_[*current_].error = e;
        break;
      case SuiteEvent::Kind::kMessage:
        if (current_) traces_[*current_].message = e;
        break;
    }
  }

  // Gives what happened since the last event to the entry that was running.
  void Attribute() {
    BatchCounters now = request_.Counters();
    if (current_) {
      Trace& t = traces_[*current_];
      t.succeeded += now.succeeded - last_.succeeded;
      t.skipped += now.skipped - last_.skipped;
      t.passedOver += now.passedOver - last_.passedOver;
      for (uint32_t k = last_.outCount; k < now.outCount; ++k) t.outputs.push_back(k);
      t.lastCode = now.errCode;
    }
    last_ = now;
  }

  const std::vector<Trace>& traces() const { return traces_; }
  std::optional<size_t> current() const { return current_; }

 private:
  // Entries are walked in order, and a dialog shows the running entry again,
  // so the first entry from the running one on with this shortened name.
  std::optional<size_t> Match(WStringView name) const {
    for (size_t i = current_.value_or(0); i < shortNames_.size(); ++i)
      if (shortNames_[i] == name) return i;
    return std::nullopt;
  }

  Request& request_;
  std::vector<WString> shortNames_;
  std::vector<Trace> traces_;
  BatchCounters last_;
  std::optional<size_t> current_;
};

std::string ErrorReason(const SuiteEvent& e) { return msgbox::Describe(e.fes, e.api); }

std::vector<std::string> OutputsOf(const Trace& t, const CFileList& list) {
  std::vector<std::string> out;
  for (uint32_t k : t.outputs)
    if (k < list.m_vecOutFiles.size()) out.push_back(NativeOf(list.m_vecOutFiles[k]));
  return out;
}

bool StillThere(const InputFile& f) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(f.native, ec));
}

// The fate of entry i of an in-place batch.
FileResult Classify(const InputFile& file, const Trace& t, bool isLast, bool stopped,
                    bool interrupted, const CFileList& list, bool encrypting) {
  FileResult r;
  r.path = file.native;
  auto set = [&r](FileStatus s, uint32_t code, std::string reason) {
    r.status = s;
    r.code = code;
    r.reason = std::move(reason);
    return r;
  };
  if (t.succeeded > 0) {
    r.outputs = OutputsOf(t, list);
    return set(FileStatus::kDone, 0, "");
  }
  if (!t.reached) {
    if (!StillThere(file)) return set(FileStatus::kFailed, 0, "disappeared before its turn");
    if (stopped) return set(FileStatus::kCancelled, 0, "not started: the batch was stopped");
    return set(FileStatus::kFailed, 0, "not reached");
  }
  if (t.passedOver > 0)
    return set(FileStatus::kPassedOver, t.lastCode,
               t.lastCode == kCodeWrongKey ? NoKeyOpens(file) : DescribeCode(t.lastCode));
  if (t.skipped > 0) {
    if (t.error) return set(FileStatus::kSkipped, t.error->api ? t.error->api : t.error->fes, ErrorReason(*t.error));
    return set(FileStatus::kSkipped, kCodeOutputExists, "the output exists already (--on-exists replace)");
  }
  if (t.hiddenAnswer && (*t.hiddenAnswer == UI_SKIP || *t.hiddenAnswer == UI_SKIP_ALL))
    return set(FileStatus::kSkipped, 0, "a hidden file (--on-hidden encrypt includes it)");
  if (isLast && (interrupted || (stopped && !t.error && !t.existsAnswer) || t.lastCode == kCodeCancelled))
    return set(FileStatus::kCancelled, 0, "cancelled while it ran; left as it was");
  if (t.error) {
    uint32_t code = t.error->api ? t.error->api : t.error->fes;
    return set(FileStatus::kFailed, code, ErrorReason(*t.error) + (isLast && stopped ? "; the batch stopped" : ""));
  }
  if (t.existsAnswer) {
    if (t.message) return set(FileStatus::kFailed, t.message->fes, msgbox::Describe(t.message->fes, t.message->api));
    return set(FileStatus::kCancelled, kCodeOutputExists, "the output exists already; the batch stopped");
  }
  if (t.hiddenAnswer) return set(FileStatus::kCancelled, 0, "a hidden file; the batch stopped");
  if (encrypting) {
    CFESUtil util;
    if (util.CheckIsSystemFile(file.library.c_str())) return set(FileStatus::kSkipped, 0, "a system file, never encrypted");
  }
  return set(FileStatus::kFailed, t.lastCode, t.lastCode ? DescribeCode(t.lastCode) : "not done");
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
  Request request(files, kTypeInPlace, password);
  request.options().dwAction = encrypting ? 1 : 0;
  request.options().bSelfExtract = mode == InPlaceMode::kEncryptSelfExtract;
  request.options().bDecryptToTemp = mode == InPlaceMode::kDecryptToTemp;
  // The library leaves dwErrCode alone when it walks no file; a sentinel
  // tells a setup failure from a batch.
  constexpr uint32_t kUntouched = 0xFFFFFFFFu;
  request.params().dwErrCode = kUntouched;

  Tracker tracker(files, request);
  {
    ObserverScope scope(tracker);
    Run(request, true);
    tracker.Attribute();
  }
  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  const bool anyReached = tracker.current().has_value();
  if (!anyReached && report.counters.errCode != kUntouched && report.counters.errCode != 0)
    return SetupFailed(request);
  if (report.counters.errCode == kUntouched) report.counters.errCode = 0;

  const bool stopped = report.interrupted || report.counters.status == 1;
  for (size_t i = 0; i < files.size(); ++i) {
    const bool isLast = tracker.current() == i;
    report.files.push_back(Classify(files[i], tracker.traces()[i], isLast, stopped, report.interrupted,
                                    request.list(), encrypting));
  }
  return report;
}

BatchReport RunCopy(const std::vector<InputFile>& files, const WString& password) {
  Request request(files, kTypeCopy, &password);
  Tracker tracker(files, request);
  {
    ObserverScope scope(tracker);
    Run(request, false);
    tracker.Attribute();
  }
  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  if (!tracker.current() && report.counters.errCode != 0) return SetupFailed(request);

  const uint32_t code = report.counters.errCode;
  for (size_t i = 0; i < files.size(); ++i) {
    const Trace& t = tracker.traces()[i];
    FileResult r;
    r.path = files[i].native;
    r.outputs = OutputsOf(t, request.list());
    if (code == 0 && t.reached) {
      r.status = FileStatus::kDone;
    } else if (!t.reached) {
      r.status = StillThere(files[i]) ? FileStatus::kCancelled : FileStatus::kFailed;
      r.reason = StillThere(files[i]) ? "not started: another file failed" : "disappeared before its turn";
    } else if (tracker.current() == i) {
      r.status = FileStatus::kFailed;
      r.code = code;
      r.reason = DescribeCode(code);
    } else {
      r.status = FileStatus::kRolledBack;
      r.reason = "its copy was removed again: another file failed (all or nothing)";
    }
    if (r.status != FileStatus::kDone) r.outputs.clear();
    report.files.push_back(std::move(r));
  }
  return report;
}

BatchReport RunMail(const std::vector<InputFile>& files, const WString& password, bool yah) {
  Request request(files, yah ? kTypeMailYah : kTypeMail, &password);
  std::vector<uint32_t> results(files.size() + 1, 0);
  request.options().pdwFileResults = results.data();
  Run(request, false);

  BatchReport report;
  report.interrupted = Interrupted();
  report.counters = request.Counters();
  const CFileList& list = request.list();
  // Every entry gets one output path, in entry order; fewer means the batch
  // never started.
  if (list.m_vecOutFiles.size() < files.size()) return SetupFailed(request);
  for (size_t i = 0; i < files.size(); ++i) {
    FileResult r;
    r.path = files[i].native;
    r.code = results[i];
    if (results[i] == 0) {
      r.status = FileStatus::kDone;
      r.outputs.push_back(NativeOf(list.m_vecOutFiles[i]));
      if (report.folder.empty())
        report.folder = std::filesystem::path(r.outputs.back()).parent_path().string();
    } else {
      r.status = FileStatus::kFailed;
      r.reason = results[i] == kCodeMissing        ? "no such file"
                 : results[i] == kCodeSelfExtractor ? "already a self-extracting encrypted file (--yah copies it)"
                                                    : DescribeCode(results[i]);
    }
    report.files.push_back(std::move(r));
  }
  return report;
}

bool IsLeftAlonePlain(const BatchReport& report, const FileResult& f) {
  return report.plainLeftAlone && f.status == FileStatus::kSkipped && f.code == FES_NOT_ENCRYPTED;
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
