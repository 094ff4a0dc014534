// encrypt, decrypt, copy, mail, keystore and status.
#include "cli/commands.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <variant>

#include "halvex/host.h"
#include "cli/batch.h"
#include "cli/stream.h"
#include "cli/identities.h"
#include "cli/inspect.h"
#include "cli/jobs.h"
#include "cli/clean.h"
#include "cli/password.h"
#include "cli/paths.h"
#include "cli/report.h"
#include "platform/console.h"
#include "engine/cryptofile.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/stubs.h"
#include "suite/keystore/keystore.h"
#include "suite/msgbox/lines.h"
#include "suite/msgbox/messages.h"
#include "suite/progress/host.h"
#include "util/fesutil.h"

namespace halvex::cli {
namespace {

int UsageError(const Options& o, const std::string& message) {
  std::cerr << "halvex: " << message << "\n";
  if (o.json) std::cout << JsonError(CommandName(o.command), message, kExitUsage);
  return kExitUsage;
}

std::string FilesText(size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

std::string HiddenQuestion(const HiddenFolder& folder, bool more) {
  return Printable(folder.native) + " is a hidden folder with " + FilesText(folder.files) +
         (folder.files == 1 ? ". Encrypt it?" : ". Encrypt them?") + " [y]es, [n]o" +
         (more ? ", yes to [a]ll, [s]kip all: " : ": ");
}

// Asks about each hidden folder on a terminal; the ones chosen are entered,
// the others stay in the expansion's list of folders left alone.
void AskAboutHidden(Expansion& e) {
  constexpr int32_t kYes = 1, kNo = 2, kAll = 3, kNone = 4;
  std::vector<HiddenFolder> asked = std::move(e.hidden);
  e.hidden.clear();
  std::optional<int32_t> kept;
  for (size_t i = 0; i < asked.size(); ++i) {
    const HiddenFolder& folder = asked[i];
    std::optional<int32_t> answer = kept;
    if (!answer) {
      const bool more = i + 1 < asked.size();
      std::vector<progress::Offered> offered{{"y", "yes", kYes}, {"n", "no", kNo}};
      if (more) offered.insert(offered.end(), {{"a", "yes to all", kAll}, {"s", "skip all", kNone}});
      answer = progress::AskHost(HiddenQuestion(folder, more), offered);
      if (answer == kAll || answer == kNone) kept = answer;
    }
    if (answer == kYes || answer == kAll) EnterHidden(e, folder);
    else e.hidden.push_back(folder);
  }
}

// The files named on the command line, or the reasons not to start.
std::optional<Expansion> Inputs(const Options& o, int& status) {
  if (o.operands.empty()) {
    status = UsageError(o, std::string("no files given (try 'halvex ") + CommandName(o.command) + " --help')");
    return std::nullopt;
  }
  // Only encryption in place would break what lives in hidden folders (a
  // repository, keys); the other commands read or restore, and go everywhere.
  const bool enterHidden = o.command != Command::kEncrypt || o.hidden || o.onHidden == HiddenPolicy::kEncrypt;
  Expansion e = ExpandOperands(o.operands, o.recursive, enterHidden);
  if (e.errors.empty() && !e.hidden.empty() && !o.noInput) AskAboutHidden(e);
  for (const auto& w : e.warnings) std::cerr << "halvex: " << w << "\n";
  if (!e.errors.empty()) {
    for (size_t i = 0; i + 1 < e.errors.size(); ++i) std::cerr << "halvex: " << e.errors[i] << "\n";
    status = UsageError(o, e.errors.back() + "; nothing was touched");
    return std::nullopt;
  }
  return e;
}

void ApplyPolicies(const Options& o) {
  using progress::Choice;
  using progress::ErrorChoice;
  auto exists = o.onExists == ExistsPolicy::kReplace ? Choice::kYes
                : o.onExists == ExistsPolicy::kStop  ? Choice::kStop
                                                     : Choice::kSkip;
  auto hidden = o.onHidden == HiddenPolicy::kEncrypt ? Choice::kYes : Choice::kSkip;
  auto error = o.onError == ErrorPolicy::kStop        ? ErrorChoice::kStop
               : o.onError == ErrorPolicy::kRetryOnce ? ErrorChoice::kRetryOnce
                                                      : ErrorChoice::kSkip;
  progress::UseConsole(!o.windows);  // a terminal's program, whatever the platform, unless on the desktop
  progress::SetPolicies(exists, hidden, error);
  // Decrypting a folder meets plain files as a matter of course: they are
  // summed up in the report rather than asked about one by one.
  if (o.command == Command::kDecrypt && !o.strict)
    progress::SetQuietSkip([](uint32_t fes, uint32_t) { return fes == FES_NOT_ENCRYPTED; });
  // Likewise encryption run again over a folder (after Ctrl-C, or to take in
  // new files) meets what it encrypted before.
  if (o.command == Command::kEncrypt && !o.strict)
    progress::SetQuietSkip([](uint32_t fes, uint32_t) { return fes == FES_ALREADY_ENCRYPTED; });
  if (o.noInput) progress::SetInteractive(false);
  HalvexSetLinkPolicy(o.links == LinksPolicy::kEncrypt ? HALVEX_LINKS_ENCRYPT : HALVEX_LINKS_REFUSE);
}

// Encrypting in place a file with other names leaves its content readable
// under them: when the user allows it, each such file is named once.
void WarnOfOtherNames(const Options& o, const std::vector<InputFile>& files) {
  if (o.command != Command::kEncrypt || o.selfExtract || o.links != LinksPolicy::kEncrypt) return;
  for (const InputFile& f : files) {
    const size_t others = OtherNames(f.native);
    if (others == 0) continue;
    std::cerr << "halvex: warning: " << Printable(f.native) << " has " << others << " other name"
              << (others == 1 ? "" : "s") << "; its content stays readable under " << (others == 1 ? "it" : "them")
              << "\n";
  }
}

int Report(const Options& o, const BatchReport& report, bool listDone) {
  const char* name = CommandName(o.command);
  if (report.setupError) {
    std::string why = msgbox::Describe(*report.setupError, *report.setupError);
    return UsageError(o, "cannot start: " + why + " (code " + std::to_string(*report.setupError) +
                             "); nothing was touched");
  }
  if (o.json) {
    std::cout << JsonReport(name, report);
    std::cerr << TextReport(name, report, false);
  } else {
    std::cout << TextReport(name, report, listDone);
  }
  return ExitStatusOf(report);
}

// A new store after an old one was lost holds a new key: the old files open
// only once the old store's backup is imported.
// Told while the batch runs: above its progress line, never into it.
void TellKeyStoreMade(const std::filesystem::path& keyFile) {
  msgbox::WriteLines("halvex: made a new key store at " + Printable(keyFile.string()) +
                     "; files encrypted without a password open only with it: back it up with "
                     "'halvex keystore export FILE'. Files encrypted under an earlier key store need that store's "
                     "backup: 'halvex keystore import BACKUP'\n");
}

// Told while the batch runs: a restored file is kept even where part of its
// metadata could not be put back, so the user hears which part.
void TellMetadataMiss(const WCHAR* path, const char* what, uint32_t error) {
  const std::string why = error == ERROR_NOT_SUPPORTED   ? "the file system does not support it"
                          : error == ERROR_ACCESS_DENIED ? "not permitted"
                                                         : DescribeCode(error);
  msgbox::WriteLines("halvex: warning: " + NativeOf(path) + ": " + what + " could not be restored (" + why + ")\n");
}

// Files that only a password opens, passed over because none was given: at a
// terminal the password is asked for, three tries, and those files are
// decrypted with it. Each try's results stand in the report.
void DecryptWithAskedPassword(const Options& o, const std::vector<InputFile>& files, InPlaceMode mode,
                              BatchReport& report) {
  if (o.noInput || report.interrupted || report.setupError || !(o.windows || platform::StdinIsTerminal())) return;
  std::vector<size_t> waiting;
  for (size_t i = 0; i < report.files.size(); ++i)
    if (report.files[i].status == FileStatus::kPassedOver && report.files[i].code == ZQCA_ERR_WRONG_KEY &&
        HasPasswordSlot(files[i]))
      waiting.push_back(i);
  if (waiting.empty()) return;
  msgbox::WriteLines("halvex: " +
                     std::string(waiting.size() == 1 ? "1 file needs its password"
                                                     : std::to_string(waiting.size()) + " files need their password") +
                     " (Ctrl-C gives up)\n");
  for (int tries = 3; tries > 0 && !waiting.empty(); --tries) {
    PasswordResult pw = ObtainPassword({std::nullopt, true, false, false, false});
    if (pw.interrupted) {
      report.interrupted = true;
      return;
    }
    if (!pw.password) return;
    std::vector<InputFile> subset;
    for (size_t i : waiting) subset.push_back(files[i]);
    BatchReport again = RunInPlace(subset, &*pw.password, mode);
    Wipe(*pw.password);
    std::vector<size_t> still;
    for (size_t k = 0; k < waiting.size() && k < again.files.size(); ++k) {
      const FileResult& r = again.files[k];
      report.files[waiting[k]] = r;
      if (r.status == FileStatus::kPassedOver && r.code == ZQCA_ERR_WRONG_KEY) still.push_back(waiting[k]);
    }
    if (again.interrupted) {
      report.interrupted = true;
      return;
    }
    if (!still.empty() && still.size() == waiting.size() && tries > 1) msgbox::WriteLines("halvex: wrong password\n");
    waiting = std::move(still);
  }
}

// The in-place batch, side by side when -j (or the list's length) asks for it.
BatchReport InPlace(const Options& o, const std::vector<InputFile>& files, const WString* password, InPlaceMode mode) {
  if (auto report = RunInPlaceSideBySide(o, files, password, mode)) return std::move(*report);
  return RunInPlace(files, password, mode);
}

int RunBatch(const Options& o) {
  int status = kExitDone;
  // Only encryption may make a key store: one missing when decrypting (another
  // HOME, an unmounted folder) must be reported, not replaced by a new key.
  keystore::SetMayCreate(o.command != Command::kDecrypt);
  keystore::SetCreatedListener(TellKeyStoreMade);
  cipher::SetMetadataMissReport(TellMetadataMiss);
  if (o.jobChannel) {  // one batch of a parent's -j: its files come from the parent
    ApplyPolicies(o);
    if (o.stub) cipher::stubs::Choose(cipher::stubs::Parse(*o.stub));
    return ServeJob(o);
  }
  auto inputs = Inputs(o, status);
  if (!inputs) return status;
  const std::vector<InputFile>* files = &inputs->files;
  if (o.to) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*o.to, ec))
      return UsageError(o, "--to " + Printable(*o.to) + ": no such folder (it is never made); nothing was touched");
  }

  const bool encrypting = o.command == Command::kEncrypt;
  const bool needsPassword = o.command == Command::kCopy || o.command == Command::kMail;
  PasswordSource source{o.passwordFile, o.askPassword, encrypting || needsPassword, needsPassword, o.noInput};
  KeyLines recipients = RecipientLines(o.recipients);
  if (!recipients.error.empty()) return UsageError(o, recipients.error + "; nothing was touched");
  if (std::string error; o.command == Command::kDecrypt && !LoadIdentities(o.identities, error))
    return UsageError(o, error + "; nothing was touched");
  PasswordResult pw = ObtainPassword(source);
  if (pw.interrupted) return kExitCancelled;
  if (!pw.error.empty()) return UsageError(o, pw.error);
  if (std::string error = UseRecipients(o, recipients.lines, pw.password.has_value()); !error.empty())
    return UsageError(o, error);

  ApplyPolicies(o);
  WarnOfOtherNames(o, *files);
  // In place, the folders' own times come back too (-r: whole trees).
  const bool inPlace = (encrypting && !o.selfExtract) || (o.command == Command::kDecrypt && !o.toTemp);
  std::optional<FolderTimes> folderTimes;
  if (o.recursive && inPlace) folderTimes.emplace(*files);
  if (o.stub) cipher::stubs::Choose(cipher::stubs::Parse(*o.stub));
  BatchReport report;
  bool listDone = false;
  switch (o.command) {
    case Command::kEncrypt:
      report = InPlace(o, *files, pw.password ? &*pw.password : nullptr,
                       o.selfExtract ? InPlaceMode::kEncryptSelfExtract : InPlaceMode::kEncrypt);
      if (!o.strict) report.leftAloneCode = FES_ALREADY_ENCRYPTED;
      break;
    case Command::kDecrypt: {
      const InPlaceMode mode = o.toTemp ? InPlaceMode::kDecryptToTemp : InPlaceMode::kDecrypt;
      // A password that no file needs is told once, as a note.
      if (pw.password && !PasswordNeeded(*files))
        msgbox::WriteLines("halvex: note: no file here needs the password given\n");
      report = InPlace(o, *files, pw.password ? &*pw.password : nullptr, mode);
      if (!pw.password) DecryptWithAskedPassword(o, *files, mode, report);
      listDone = o.toTemp;
      if (!o.strict) report.leftAloneCode = FES_NOT_ENCRYPTED;
      report.listRenamed = true;
      break;
    }
    case Command::kCopy:
      report = RunCopy(*files, *pw.password);
      break;
    default:
      report = RunMail(*files, *pw.password, o.yah);
      if (o.to && !report.setupError) PlaceOutputs(report, std::filesystem::absolute(*o.to).string());
      listDone = true;
      break;
  }
  if (pw.password) Wipe(*pw.password);
  if (folderTimes) folderTimes->Restore();
  report.hiddenLeftOut = std::move(inputs->hidden);
  return Report(o, report, listDone);
}

int KeystoreFailure(keystore::Status s) {
  std::cerr << "halvex: " << keystore::Describe(s) << "\n";
  const bool badInput = s == keystore::Status::kMissing || s == keystore::Status::kUnreadable ||
                        s == keystore::Status::kCorrupt || s == keystore::Status::kUnknownKey ||
                        s == keystore::Status::kNeedsPassphrase || s == keystore::Status::kWrongPassphrase;
  return badInput ? kExitUsage : kExitSomeNotDone;
}

// The passphrase of a backup as UTF-8, or the exit status to give up with.
std::variant<std::string, int> Passphrase(const Options& o, bool confirm) {
  PasswordResult pw = ObtainPassphrase(o.passphraseFile, confirm, o.noInput);
  if (pw.interrupted) return kExitCancelled;
  if (!pw.error.empty()) return UsageError(o, pw.error);
  std::string utf8 = platform::ToUtf8(*pw.password);
  Wipe(*pw.password);
  return utf8;
}

int KeystoreExport(const Options& o, const std::string& target) {
  if (o.noPassphrase && o.passphraseFile) return UsageError(o, "--no-passphrase and --passphrase-file exclude each other");
  // Refused before the passphrase is asked for, which would be typed in vain.
  std::vector<keystore::KeyInfo> keys;
  if (keystore::Status s = keystore::List(keys); s != keystore::Status::kOk) return KeystoreFailure(s);
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(target, ec))) {
    std::cerr << "halvex: '" << Printable(target) << "' exists already; export never replaces a file\n";
    return kExitSomeNotDone;
  }
  std::variant<std::string, int> passphrase = std::string();
  if (!o.noPassphrase) passphrase = Passphrase(o, true);
  if (auto* status = std::get_if<int>(&passphrase)) return *status;
  std::string& text = std::get<std::string>(passphrase);
  keystore::Status s = keystore::Export(target, o.noPassphrase ? std::nullopt : std::optional<std::string_view>(text));
  Wipe(text);
  if (s == keystore::Status::kExists) {
    std::cerr << "halvex: '" << Printable(target) << "' exists already; export never replaces a file\n";
    return kExitSomeNotDone;
  }
  if (s != keystore::Status::kOk) return KeystoreFailure(s);
  std::cout << "exported every stored key to " << target
            << (o.noPassphrase ? " (not sealed: anyone who reads it opens the files)" : ", sealed with the passphrase")
            << "\n";
  return kExitDone;
}

int KeystoreImport(const Options& o, const std::string& source) {
  std::variant<std::string, int> passphrase = std::string();
  const bool sealed = keystore::NeedsPassphrase(source);
  if (sealed) passphrase = Passphrase(o, false);
  if (auto* status = std::get_if<int>(&passphrase)) return *status;
  std::string& text = std::get<std::string>(passphrase);
  size_t added = 0;
  keystore::Status s = keystore::Import(source, sealed ? std::optional<std::string_view>(text) : std::nullopt, &added);
  Wipe(text);
  if (s != keystore::Status::kOk) return KeystoreFailure(s);
  std::cout << (added == 0 ? std::string("the key store holds every key of ") + source + " already"
                           : "added " + std::to_string(added) + (added == 1 ? " key" : " keys") + " from " + source);
  if (auto id = keystore::Identifier()) std::cout << "; key " << Hex8(*id) << " encrypts";
  std::cout << "\n";
  return kExitDone;
}

int KeystoreList(const Options& o) {
  std::vector<keystore::KeyInfo> keys;
  if (keystore::Status s = keystore::List(keys); s != keystore::Status::kOk) {
    if (s == keystore::Status::kMissing)
      return UsageError(o, "there is no key store at " + Printable(keystore::KeyFilePath().string()));
    return KeystoreFailure(s);
  }
  std::cout << (o.json ? JsonKeys(keystore::KeyFilePath().string(), keys) : TextKeys(keys));
  return kExitDone;
}

int KeystoreUse(const Options& o, const std::string& id) {
  const bool hex = id.size() == 8 && id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  const unsigned long value = hex ? std::strtoul(id.c_str(), nullptr, 16) : 0;
  if (value == 0) return UsageError(o, "'" + id + "' is no key identifier (8 hex digits)");
  keystore::Status s = keystore::Use(static_cast<uint32_t>(value));
  if (s != keystore::Status::kOk) return KeystoreFailure(s);
  std::cout << "key " << Hex8(static_cast<uint32_t>(value)) << " encrypts from now on\n";
  return kExitDone;
}

int RunKeystore(const Options& o) {
  const auto& args = o.operands;
  const std::string action = args.empty() ? "" : args[0];
  const bool passphraseOptions = o.noPassphrase || o.passphraseFile;
  if (o.json && action != "list") return UsageError(o, "--json applies to 'halvex keystore list' alone");
  if (action == "path" && args.size() == 1 && !passphraseOptions) {
    std::cout << keystore::KeyFilePath().string() << "\n";
    return kExitDone;
  }
  if (action == "list" && args.size() == 1 && !passphraseOptions) return KeystoreList(o);
  if (action == "use" && args.size() == 2 && !passphraseOptions) return KeystoreUse(o, args[1]);
  if (action == "export" && args.size() == 2) return KeystoreExport(o, args[1]);
  if (action == "import" && args.size() == 2 && !o.noPassphrase) return KeystoreImport(o, args[1]);
  return UsageError(o, "usage: halvex keystore path | list | use ID | export FILE | import FILE");
}

int RunStatus(const Options& o) {
  int status = kExitDone;
  auto inputs = Inputs(o, status);
  if (!inputs) return status;
  const std::vector<InputFile>* files = &inputs->files;
  CCryptoFile crypto;
  CFESUtil util;
  std::vector<FileState> states;
  for (const auto& f : *files) {
    const WCHAR* path = f.library.c_str();
    FileState s{f.native};
    s.encrypted = crypto.CheckFileEncrypted(path) != 0;
    s.selfExtracting = s.encrypted && util.ChkIsSelfExtractorFile(path) != 0;
    s.locked = s.encrypted && crypto.CheckFileLocked(path) != 0;
    if (cipher::KeyNeeds needs; s.encrypted && cipher::DescribeKeys(path, needs)) {
      s.keyStore = needs.keyStore;
      s.keyStoreId = needs.keyStoreId;
      s.password = needs.password;
    }
    states.push_back(std::move(s));
  }
  std::cout << (o.json ? JsonStatus(states) : TextStatus(states));
  return kExitDone;
}

int RunInspect(const Options& o) {
  if (o.operands.empty()) return UsageError(o, "no files given (try 'halvex inspect --help')");
  std::vector<FileHeader> headers;
  int status = kExitDone;
  for (const auto& operand : o.operands) {
    headers.push_back(InspectFile(operand));
    if (!headers.back().error.empty()) status = kExitSomeNotDone;
  }
  std::cout << (o.json ? JsonInspect(headers, status) : TextInspect(headers));
  return status;
}

}  // namespace

int RunCommand(const Options& o) {
  switch (o.command) {
    case Command::kKeystore: return RunKeystore(o);
    case Command::kStatus: return RunStatus(o);
    case Command::kInspect: return RunInspect(o);
    case Command::kClean: return RunClean(o);
    case Command::kKeygen: return RunKeygen(o);
    case Command::kNone: return UsageError(o, "no command given (try 'halvex --help')");
    default:
      if (!IsStreamRequest(o)) return RunBatch(o);
      keystore::SetCreatedListener(TellKeyStoreMade);
      return RunStream(o);
  }
}

}  // namespace halvex::cli
