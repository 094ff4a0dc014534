// The command line: which command, its options and its operands.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halvex::cli {

enum class Command { kNone, kEncrypt, kDecrypt, kCopy, kMail, kKeystore, kStatus, kInspect, kClean, kKeygen };

// How a question is answered when nobody is at a terminal.
enum class ExistsPolicy { kSkip, kReplace, kStop };
enum class HiddenPolicy { kSkip, kEncrypt };
enum class ErrorPolicy { kSkip, kStop, kRetryOnce };
// Whether encryption in place takes a file with other names (hard links).
enum class LinksPolicy { kRefuse, kEncrypt };

struct Options {
  Command command = Command::kNone;
  std::vector<std::string> operands;
  bool help = false;
  bool version = false;
  bool recursive = false;
  bool json = false;
  bool selfExtract = false;   // encrypt: keep sources, write self-extracting copies
  bool toTemp = false;        // decrypt: into the private temporary folder
  bool yah = false;           // mail: the self-extractor-preserving folder
  bool force = false;         // keystore import: accepted, no longer needed
  bool noPassphrase = false;  // keystore export: the keys as they are
  bool askPassword = false;   // encrypt/decrypt: prompt instead of using the stored key
  bool noInput = false;       // never ask at the terminal; policies answer
  bool strict = false;        // decrypt: a file that is not encrypted is reported and not done
  bool dryRun = false;        // clean: list what would be removed
  bool hidden = false;        // encrypt -r: also the files in hidden folders, without asking
  bool streamUnverified = false;  // decrypt -: write each chunk as soon as it authenticates
  std::optional<std::string> passwordFile;
  std::optional<std::string> passphraseFile;  // keystore export and import
  std::optional<std::string> to;    // mail: a folder that also gets each copy as NAME.exe
  std::optional<std::string> stub;  // the self-extractor: "windows" or "linux"
  std::vector<std::string> recipients;  // encrypt: recipient lines, or files of them
  std::vector<std::string> identities;  // decrypt: identity files
  std::optional<std::string> output;    // keygen: the identity file to write
  bool ring = false;                    // keygen: into the key store's folder
  unsigned jobs = 0;                // encrypt/decrypt: batches side by side; 0: the default
  std::optional<int> jobChannel;    // internal: this process runs one batch of a parent's -j
  ExistsPolicy onExists = ExistsPolicy::kSkip;
  HiddenPolicy onHidden = HiddenPolicy::kSkip;
  ErrorPolicy onError = ErrorPolicy::kSkip;
  LinksPolicy links = LinksPolicy::kRefuse;
  // Not an option: halvex-desktop runs the command with the suite's windows
  // for its progress and questions instead of the terminal's.
  bool windows = false;
};

// What went wrong while parsing, in words for the user.
struct ParseResult {
  Options options;
  std::string error;  // empty when the command line is valid
};

ParseResult ParseArgs(const std::vector<std::string>& args);

// Help for one command, or the overview for kNone.
std::string HelpText(Command command);
const char* CommandName(Command command);

}  // namespace halvex::cli
