// Parsing the command line and the help of each command.
#include "cli/args.h"

#include <array>
#include <string_view>

namespace halvex::cli {
namespace {

// Every option, and the commands that accept it.
enum Opt : unsigned {
  kOptRecursive = 1u << 0,
  kOptJson = 1u << 1,
  kOptPasswordFile = 1u << 2,
  kOptAskPassword = 1u << 3,
  kOptPolicies = 1u << 4,
  kOptSelfExtract = 1u << 5,
  kOptToTemp = 1u << 6,
  kOptYah = 1u << 7,
  kOptForce = 1u << 8,
  kOptNoInput = 1u << 9,
  kOptStrict = 1u << 10,
  kOptStub = 1u << 11,
  kOptPassphrase = 1u << 12,
  kOptHidden = 1u << 13,
  kOptTo = 1u << 14,
  kOptDryRun = 1u << 15,
  kOptRecipient = 1u << 16,
  kOptIdentity = 1u << 17,
  kOptOutput = 1u << 18,
  kOptRing = 1u << 19,
  kOptStreamUnverified = 1u << 20,
  kOptJobs = 1u << 21,
};

struct CommandInfo {
  Command command;
  const char* name;
  unsigned options;
  const char* help;
};

constexpr unsigned kBatchOptions = kOptRecursive | kOptJson | kOptPasswordFile | kOptNoInput;

const std::array<CommandInfo, 9> kCommands{{
    {Command::kEncrypt, "encrypt",
     kBatchOptions | kOptAskPassword | kOptPolicies | kOptSelfExtract | kOptStub | kOptHidden | kOptStrict |
         kOptRecipient | kOptJobs,
     "usage: halvex encrypt [options] PATH...\n"
     "       halvex encrypt [--password-file F] - > OUT\n"
     "Encrypts each file in place: the encrypted file replaces the plain one.\n"
     "Without a password the stored key is used. '-' encrypts stdin to stdout.\n"
     "  -r, --recursive        expand folders into the files below them; hidden folders\n"
     "                         (.git, .ssh, ...) are asked about on a terminal, else left alone\n"
     "      --hidden           also the files in hidden folders, without asking\n"
     "      --self-extract     keep each source and write a self-extracting copy beside it\n"
     "      --stub windows|linux  the program in front of self-extracting copies\n"
     "                         (default: sfx_stub of the settings, else windows)\n"
     "      --ask-password     ask for a password at the terminal (twice)\n"
     "      --password-file F  read the password from the first line of F\n"
     "      --recipient R      encrypt to a public key (repeatable): R is a halvex1... line\n"
     "                         from 'halvex keygen', or a file of such lines. Only the\n"
     "                         recipients open the files, unless a password is given too\n"
     "      --on-exists P      replace|skip|stop when the output exists (default skip)\n"
     "      --on-hidden P      encrypt|skip hidden files (default skip); encrypt also\n"
     "                         takes the files in hidden folders\n"
     "      --links P          encrypt|refuse files with other names (hard links), whose\n"
     "                         content stays readable under those names (default refuse)\n"
     "      --on-error P       skip|stop|retry-once after a failure (default skip)\n"
     "      --strict           treat files that are already encrypted as errors: asked\n"
     "                         about, reported one by one, and exit status 1\n"
     "      --no-input         never ask at the terminal; the policies answer\n"
     "  -j, --jobs N           run N batches side by side, one process each, the files\n"
     "                         split by folder (default: the number of cores, at most 8\n"
     "                         and one for each 16 files; always 1 on Windows)\n"
     "      --json             print the result as JSON\n"
     "Files that are already encrypted (a batch run again after Ctrl-C) are otherwise\n"
     "left alone and counted in one line.\n"},
    {Command::kDecrypt, "decrypt",
     kBatchOptions | kOptAskPassword | kOptPolicies | kOptToTemp | kOptStrict | kOptIdentity | kOptStreamUnverified |
         kOptJobs,
     "usage: halvex decrypt [options] PATH...\n"
     "       halvex decrypt [--password-file F] - < IN > OUT\n"
     "Decrypts each file in place: the restored file replaces the encrypted one.\n"
     "Identities are tried first, then the stored key; a password opens files from elsewhere.\n"
     "'-' decrypts stdin to stdout, writing nothing until all of it authenticates.\n"
     "  -r, --recursive        expand folders into the files below them\n"
     "      --to-temp          restore into the private temporary folder, keep the encrypted files\n"
     "      --identity F       an identity file of 'halvex keygen' (repeatable; private to\n"
     "                         you, 0600); those kept beside the key store are always tried\n"
     "      --stream-unverified  with '-': write each part as soon as it authenticates;\n"
     "                         a cut or altered input leaves what came before written\n"
     "      --ask-password     ask for a password at the terminal\n"
     "      --password-file F  read the password from the first line of F\n"
     "      --on-exists P      replace|skip|stop when the output exists (default skip)\n"
     "      --on-error P       skip|stop|retry-once after a failure (default skip)\n"
     "      --strict           treat files that are not encrypted as errors: asked about,\n"
     "                         reported one by one, and exit status 1\n"
     "      --no-input         never ask at the terminal; the policies answer\n"
     "  -j, --jobs N           run N batches side by side, one process each, the files\n"
     "                         split by folder (default: the number of cores, at most 8\n"
     "                         and one for each 16 files; always 1 on Windows)\n"
     "      --json             print the result as JSON\n"
     "Files that are not encrypted are otherwise left alone and counted in one line.\n"},
    {Command::kCopy, "copy", kBatchOptions | kOptStub,
     "usage: halvex copy [options] PATH...\n"
     "Writes a self-extracting encrypted copy beside each file (NAME.exe), all or\n"
     "nothing: after a failure every copy made is removed again. Needs a password.\n"
     "      --stub windows|linux  the program in front: Windows (default) or Linux\n"
     "  -r, --recursive        expand folders into the files below them\n"
     "      --password-file F  read the password from the first line of F\n"
     "      --no-input         never ask at the terminal\n"
     "      --json             print the result as JSON\n"},
    {Command::kMail, "mail", kBatchOptions | kOptYah | kOptStub | kOptTo,
     "usage: halvex mail [options] PATH...\n"
     "Encrypts copies of the files into a new message folder of the temporary\n"
     "folder and prints that folder and one result per file. Needs a password.\n"
     "Message folders stay until removed ('man halvex': MESSAGE FOLDERS).\n"
     "  -r, --recursive        expand folders into the files below them\n"
     "      --to DIR           also copy each one into the existing folder DIR as\n"
     "                         NAME.exe, never replacing a file\n"
     "      --stub windows|linux  the self-extractor of the copies (default windows)\n"
     "      --yah              use the YAH folder, where files that already are\n"
     "                         self-extracting encrypted files are copied as they are\n"
     "      --password-file F  read the password from the first line of F\n"
     "      --no-input         never ask at the terminal\n"
     "      --json             print the result as JSON\n"},
    {Command::kKeystore, "keystore", kOptForce | kOptJson | kOptPassphrase | kOptNoInput,
     "usage: halvex keystore path\n"
     "       halvex keystore list [--json]\n"
     "       halvex keystore use ID\n"
     "       halvex keystore export FILE [--passphrase-file F | --no-passphrase]\n"
     "       halvex keystore import FILE [--passphrase-file F]\n"
     "The key store holds a ring of keys: the newest (or the one 'use' chose)\n"
     "encrypts, every one decrypts. path prints where it lives; list shows each\n"
     "key's identifier (as 'status' shows the one a file needs), when it was made\n"
     "and which encrypts. export writes a backup of every key to FILE, never\n"
     "replacing a file, sealed with a passphrase asked twice at the terminal (or\n"
     "the first line of --passphrase-file F); --no-passphrase writes the keys as\n"
     "they are, readable by anyone who gets the file. import adds the keys of a\n"
     "backup (asking for its passphrase) and never removes or replaces one.\n"
     "      --no-input         never ask at the terminal\n"
     "      --force            accepted for old scripts; nothing is ever replaced\n"},
    {Command::kStatus, "status", kOptRecursive | kOptJson,
     "usage: halvex status [options] PATH...\n"
     "Tells for each file: plain, encrypted or self-extracting, and locked; for an\n"
     "encrypted file also the key store it needs and whether a password opens it.\n"
     "  -r, --recursive        expand folders into the files below them\n"
     "      --json             print the result as JSON\n"},
    {Command::kInspect, "inspect", kOptJson,
     "usage: halvex inspect [options] FILE...\n"
     "Tells, without any key or password, what an encrypted file's header records:\n"
     "its kind (encrypted in place, message file, self-extracting for Windows or\n"
     "Linux; locked), format version, the original's name, size and modification\n"
     "time, the key store it needs and whether a password opens it. The contents,\n"
     "and the permissions from version 2 on, need the key. Nothing is written. A\n"
     "file that is missing, not encrypted or damaged is named with the reason, and\n"
     "the exit status is 1.\n"
     "      --json             print the result as JSON\n"},
    {Command::kKeygen, "keygen", kOptOutput | kOptRing,
     "usage: halvex keygen [-o FILE | --ring]\n"
     "Makes a new identity for encryption to a public key: writes the private\n"
     "identity (a HALVEX-SECRET-KEY-1... line) and prints its public recipient\n"
     "(a halvex1... line) on stdout: others encrypt to it with 'encrypt'. Without\n"
     "-o or --ring the identity goes to stdout when that is no terminal.\n"
     "  -o, --output FILE      write the identity to FILE (0600), never replacing a file\n"
     "      --ring             keep it beside the key store, where 'decrypt' finds it\n"},
    {Command::kClean, "clean", kOptDryRun,
     "usage: halvex clean [--dry-run]\n"
     "Removes the message folders of 'mail' (WLM/NNNN, YAH/NNNN) and the files\n"
     "'decrypt' restored into the private temporary folder, and counts\n"
     "them. Links are never followed; a folder others may enter is refused.\n"
     "Run it when no halvex batch runs.\n"
     "      --dry-run          list what would be removed, remove nothing\n"},
}};

constexpr const char* kOverview =
    "usage: halvex COMMAND [options] ARGS...\n"
    "\n"
    "Commands:\n"
    "  encrypt PATH...        encrypt files in place (--self-extract: self-extracting copies)\n"
    "  decrypt PATH...        decrypt files in place (--to-temp: into the temporary folder)\n"
    "  copy PATH...           self-extracting encrypted copies beside the files, all or nothing\n"
    "  mail PATH...           encrypted copies in a new message folder\n"
    "  keystore path|list|use ID|export FILE|import FILE\n"
    "  status PATH...         plain, encrypted, self-extracting, locked\n"
    "  inspect FILE...        what an encrypted file's header tells, without a key\n"
    "  keygen [-o FILE]       a new identity, and its recipient line for 'encrypt --recipient'\n"
    "  clean                  remove message folders and --to-temp files\n"
    "  help [COMMAND]         this overview, or the options of one command\n"
    "\n"
    "Options:\n"
    "  -h, --help             this overview (after a command: that command's help)\n"
    "      --version          the version of the library the command runs with\n"
    "\n"
    "Passwords come from --password-file, HALVEX_PASSWORD or the terminal, never\n"
    "from an argument. 'halvex help COMMAND' or 'halvex COMMAND --help' tells more;\n"
    "'man halvex' tells all.\n"
    "\n"
    "Exit status: 0 all done, 1 some files not done, 2 usage or setup error,\n"
    "130 cancelled (Ctrl-C).\n";

const CommandInfo* FindCommand(std::string_view name) {
  for (const auto& info : kCommands)
    if (name == info.name) return &info;
  return nullptr;
}

const CommandInfo* InfoOf(Command command) {
  for (const auto& info : kCommands)
    if (info.command == command) return &info;
  return nullptr;
}

// Splits "--name=value" into its two halves.
std::pair<std::string, std::optional<std::string>> SplitValue(const std::string& arg) {
  auto eq = arg.find('=');
  if (arg.rfind("--", 0) != 0 || eq == std::string::npos) return {arg, std::nullopt};
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

bool ParseExists(const std::string& v, ExistsPolicy& out) {
  if (v == "skip") return out = ExistsPolicy::kSkip, true;
  if (v == "replace") return out = ExistsPolicy::kReplace, true;
  if (v == "stop") return out = ExistsPolicy::kStop, true;
  return false;
}
bool ParseHidden(const std::string& v, HiddenPolicy& out) {
  if (v == "skip") return out = HiddenPolicy::kSkip, true;
  if (v == "encrypt") return out = HiddenPolicy::kEncrypt, true;
  return false;
}
bool ParseLinks(const std::string& v, LinksPolicy& out) {
  if (v == "refuse") return out = LinksPolicy::kRefuse, true;
  if (v == "encrypt") return out = LinksPolicy::kEncrypt, true;
  return false;
}
bool ParseError(const std::string& v, ErrorPolicy& out) {
  if (v == "skip") return out = ErrorPolicy::kSkip, true;
  if (v == "stop") return out = ErrorPolicy::kStop, true;
  if (v == "retry-once") return out = ErrorPolicy::kRetryOnce, true;
  return false;
}

class Parser {
 public:
  explicit Parser(const std::vector<std::string>& args) : args_(args) {}

  ParseResult Run() {
    ParseResult r;
    size_t i = 0;
    // Options before the command: only help and version.
    for (; i < args_.size() && args_[i].rfind("-", 0) == 0; ++i) {
      if (args_[i] == "-h" || args_[i] == "--help") r.options.help = true;
      else if (args_[i] == "--version") r.options.version = true;
      else return Fail(r, "unknown option '" + args_[i] + "' (try 'halvex --help')");
    }
    if (i == args_.size()) {
      if (!r.options.help && !r.options.version) return Fail(r, "no command given (try 'halvex --help')");
      return r;
    }
    if (args_[i] == "help") {
      // "halvex help [COMMAND]": the overview, or that command's help.
      r.options.help = true;
      if (++i == args_.size()) return r;
      if (args_[i] == "help" && i + 1 == args_.size()) return r;
      const CommandInfo* asked = FindCommand(args_[i]);
      if (!asked) return Fail(r, "unknown command '" + args_[i] + "' (try 'halvex help')");
      if (i + 1 < args_.size()) return Fail(r, "help takes one command (try 'halvex help')");
      r.options.command = asked->command;
      return r;
    }
    const CommandInfo* info = FindCommand(args_[i]);
    if (!info) return Fail(r, "unknown command '" + args_[i] + "' (try 'halvex --help')");
    r.options.command = info->command;
    allowed_ = info->options;
    name_ = info->name;
    for (++i; i < args_.size(); ++i) {
      const std::string& arg = args_[i];
      if (arg == "--") {
        r.options.operands.insert(r.options.operands.end(), args_.begin() + static_cast<long>(i) + 1,
                                  args_.end());
        break;
      }
      if (arg.size() > 1 && arg[0] == '-') {
        if (!Option(arg, i, r)) return r;
      } else {
        r.options.operands.push_back(arg);
      }
    }
    return r;
  }

 private:
  static ParseResult& Fail(ParseResult& r, std::string message) {
    r.error = std::move(message);
    return r;
  }

  bool Refuse(ParseResult& r, const std::string& message) {
    Fail(r, message);
    return false;
  }

  // The value of an option: after "=", or the next argument.
  std::optional<std::string> Value(const std::optional<std::string>& inline_value, size_t& i) {
    if (inline_value) return inline_value;
    if (i + 1 >= args_.size()) return std::nullopt;
    return args_[++i];
  }

  bool Option(const std::string& arg, size_t& i, ParseResult& r) {
    Options& o = r.options;
    auto [name, inline_value] = SplitValue(arg);
    if (name == "-h" || name == "--help") return o.help = true, true;
    struct Flag {
      const char* name;
      unsigned opt;
      bool Options::*field;
    };
    static const Flag kFlags[] = {
        {"-r", kOptRecursive, &Options::recursive},
        {"--recursive", kOptRecursive, &Options::recursive},
        {"--json", kOptJson, &Options::json},
        {"--self-extract", kOptSelfExtract, &Options::selfExtract},
        {"--to-temp", kOptToTemp, &Options::toTemp},
        {"--yah", kOptYah, &Options::yah},
        {"--force", kOptForce, &Options::force},
        {"--ask-password", kOptAskPassword, &Options::askPassword},
        {"--no-input", kOptNoInput, &Options::noInput},
        {"--strict", kOptStrict, &Options::strict},
        {"--no-passphrase", kOptPassphrase, &Options::noPassphrase},
        {"--hidden", kOptHidden, &Options::hidden},
        {"--dry-run", kOptDryRun, &Options::dryRun},
        {"--ring", kOptRing, &Options::ring},
        {"--stream-unverified", kOptStreamUnverified, &Options::streamUnverified},
    };
    for (const Flag& f : kFlags) {
      if (name != f.name) continue;
      if (!(allowed_ & f.opt)) return Refuse(r, name + " does not apply to 'halvex " + name_ + "'");
      if (inline_value) return Refuse(r, name + " takes no value");
      o.*f.field = true;
      return true;
    }
    if (name == "-j" || name == "--jobs" || (name.rfind("-j", 0) == 0 && name.size() > 2 && name[1] == 'j')) {
      if (!(allowed_ & kOptJobs)) return Refuse(r, "-j does not apply to 'halvex " + name_ + "'");
      const bool glued = name.size() > 2 && name[1] == 'j';  // -j4
      auto value = glued ? std::optional<std::string>(name.substr(2)) : Value(inline_value, i);
      if (!value) return Refuse(r, name + " needs a value");
      const bool digits = !value->empty() && value->size() <= 3 &&
                          value->find_first_not_of("0123456789") == std::string::npos;
      const unsigned n = digits ? static_cast<unsigned>(std::stoul(*value)) : 0;
      if (n < 1 || n > 64) return Refuse(r, "'" + *value + "' is not a number of batches for -j (1 to 64)");
      return o.jobs = n, true;
    }
    // Internal: the channel to the parent of a -j run; never typed by a user.
    if (name == "--job-channel" && inline_value && (allowed_ & kOptJobs)) {
      const bool digits = !inline_value->empty() && inline_value->size() <= 6 &&
                          inline_value->find_first_not_of("0123456789") == std::string::npos;
      if (!digits) return Refuse(r, "--job-channel needs a descriptor");
      return o.jobChannel = std::stoi(*inline_value), true;
    }
    if (name == "--password") {
      return Refuse(r, "a password is never given as an argument: use --password-file FILE, "
                       "HALVEX_PASSWORD or the terminal prompt");
    }
    if (name == "--recipient" || name == "--identity" || name == "-o" || name == "--output") {
      const unsigned opt = name == "--recipient" ? kOptRecipient : name == "--identity" ? kOptIdentity : kOptOutput;
      if (!(allowed_ & opt)) return Refuse(r, name + " does not apply to 'halvex " + name_ + "'");
      auto value = Value(inline_value, i);
      if (!value || value->empty()) return Refuse(r, name + " needs a value");
      if (opt == kOptOutput) {
        if (o.output) return Refuse(r, name + " is given once");
        return o.output = *value, true;
      }
      (opt == kOptRecipient ? o.recipients : o.identities).push_back(*value);
      return true;
    }
    const bool isValued = name == "--password-file" || name == "--passphrase-file" || name == "--on-exists" ||
                          name == "--on-hidden" || name == "--on-error" || name == "--stub" || name == "--links" ||
                          name == "--to";
    if (!isValued) return Refuse(r, "unknown option '" + name + "' for 'halvex " + name_ + "'");
    const unsigned opt = name == "--password-file"     ? kOptPasswordFile
                         : name == "--passphrase-file" ? kOptPassphrase
                         : name == "--stub"            ? kOptStub
                         : name == "--to"              ? kOptTo
                                                       : kOptPolicies;
    const bool encryptOnly = name == "--on-hidden" || name == "--links";
    if (!(allowed_ & opt) || (encryptOnly && o.command != Command::kEncrypt))
      return Refuse(r, name + " does not apply to 'halvex " + name_ + "'");
    auto value = Value(inline_value, i);
    if (!value) return Refuse(r, name + " needs a value");
    if (name == "--password-file") return o.passwordFile = *value, true;
    if (name == "--passphrase-file") return o.passphraseFile = *value, true;
    if (name == "--to") return o.to = *value, true;
    if (name == "--stub") {
      if (*value != "windows" && *value != "linux")
        return Refuse(r, "'" + *value + "' is not a choice of --stub (windows or linux)");
      return o.stub = *value, true;
    }
    bool ok = name == "--on-exists"   ? ParseExists(*value, o.onExists)
              : name == "--on-hidden" ? ParseHidden(*value, o.onHidden)
              : name == "--links"     ? ParseLinks(*value, o.links)
                                      : ParseError(*value, o.onError);
    if (!ok) return Refuse(r, "'" + *value + "' is not a choice of " + name);
    return true;
  }

  const std::vector<std::string>& args_;
  unsigned allowed_ = 0;
  std::string name_;
};

}  // namespace

ParseResult ParseArgs(const std::vector<std::string>& args) { return Parser(args).Run(); }

std::string HelpText(Command command) {
  const CommandInfo* info = InfoOf(command);
  return info ? info->help : kOverview;
}

const char* CommandName(Command command) {
  const CommandInfo* info = InfoOf(command);
  return info ? info->name : "halvex";
}

}  // namespace halvex::cli
