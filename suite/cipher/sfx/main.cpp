// The program in front of a self-extracting file's payload: finds the payload
// through the trailer at the end of its own file and restores the original
// file with the cipher library's own reader (cipher::DecryptFile), which
// verifies every chunk into a temporary file before renaming it into place
// without replacing anything. One source for the Windows and the Linux stub.
//
//   FILE.exe --password-file F [--to DIR]   no window; exit 0 or one line on stderr
//   FILE.exe [--to DIR]                      asks for the password (terminal on Linux)
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/sfx/sfx.h"

#ifndef _WIN32
#include <filesystem>
#endif

namespace halvex::sfx {
namespace {

struct Options {
  std::optional<std::string> passwordFile;  // native, UTF-8
  std::optional<std::string> folder;        // native, UTF-8
  bool help = false;
};

// Exit statuses: 0 restored, 1 not restored, 2 a usage error.
constexpr int kUsageError = 2;

std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::string& error) {
  Options options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        error = arg + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    if (arg == "--password-file") {
      if (!value(options.passwordFile)) return std::nullopt;
    } else if (arg == "--to") {
      if (!value(options.folder)) return std::nullopt;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      options.help = true;
    } else {
      error = "unknown argument '" + arg + "' (use --password-file FILE [--to FOLDER])";
      return std::nullopt;
    }
  }
  return options;
}

void WipeString(std::string& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

// line: the first line, without its ending.
std::optional<WString> PasswordFromText(std::string& line, std::string& error, const std::string& where) {
  if (line.empty()) {
    error = "the password from " + where + " is empty";
    return std::nullopt;
  }
  std::optional<WString> wide = platform::FromUtf8(line);
  WipeString(line);
  if (!wide) error = "the password from " + where + " is not valid UTF-8";
  return wide;
}

std::optional<WString> PasswordFromFile(const std::string& path, std::string& error) {
  std::string line;
  const platform::HiddenRead read = platform::ReadSecretFileLine(path, line);
  if (read != platform::HiddenRead::kLine) {
    error = read == platform::HiddenRead::kTooLong ? "the first line of '" + path + "' is too long for a password"
                                                    : "cannot read the password file '" + path + "'";
    return std::nullopt;
  }
  return PasswordFromText(line, error, "'" + path + "'");
}

}  // namespace

std::string Message(uint32_t code, const std::string& output) {
  switch (code) {
    case ZQCA_OK: return "Restored " + output;
    case ZQCA_ERR_OUTPUT_EXISTS: return output + " already exists; nothing was replaced";
    case ZQCA_ERR_WRONG_KEY: return "wrong password";
    case ZQCA_ERR_DAMAGED:
    case ZQCA_ERR_NOT_ENCRYPTED:
      return "this file is damaged or truncated; nothing was restored";
    case ZQCA_ERR_VERSION: return "this file needs a newer version of Halvex";
    case ZQCA_ERR_LOCKED: return "this file is locked against decryption";
    case ZQCA_ERR_DISK_FULL: return "the disk is full; nothing was restored";
    case ZQCA_ERR_UNSAFE_NAME: return "the stored name is not one plain file name; nothing was restored";
    case ZQCA_ERR_PATH_TOO_LONG: return "the path of the restored file would be too long";
    case ZQCA_ERR_ACCESS: return "the folder to restore into may not be written";
    case ZQCA_ERR_NOT_FOUND: return "the folder to restore into does not exist";
    case ZQCA_ERR_NO_MEMORY: return "out of memory";
    case ZQCA_ERR_CANCELLED: return "cancelled; nothing was restored";
    case ZQCA_ERR_READ: return "reading this file failed";
    case ZQCA_ERR_WRITE: return "writing the restored file failed; nothing was restored";
    default: return "restoring failed (code " + std::to_string(code) + ")";
  }
}

uint32_t Restore(const WString& self, const WString& folder, const WString& password,
                 ZQCA_ProgressProc progress, std::string& output) {
  WCHAR out[MAX_PATH] = {};
  BYTE flag = 0;
  uint32_t code = cipher::DecryptFile(self.c_str(), folder.c_str(), password.data(),
                                      static_cast<uint32_t>(password.size()), nullptr, 0, out, &flag,
                                      progress);
  output = platform::DisplayPath(WStringView(out));
  return code;
}

int Run(const std::vector<std::string>& args) {
  std::string error;
  std::optional<Options> options = ParseArguments(args, error);
  if (!options) {
    ErrorLine(error);
    return kUsageError;
  }
  if (options->help) {
    ErrorLine("usage: " + (args.empty() ? std::string("FILE.exe") : args[0]) +
              " [--password-file FILE] [--to FOLDER]");
    return 0;
  }
  std::optional<WString> self = SelfPath();
  if (!self) {
    ErrorLine("cannot find this program's own file");
    return 1;
  }
  std::optional<WString> folder = options->folder ? LibraryPath(*options->folder) : FolderOf(*self);
  if (!folder) {
    ErrorLine("the folder to restore into is not a usable path");
    return kUsageError;
  }
  if (!options->passwordFile) return Interactive(*self, *folder);
  std::optional<WString> password = PasswordFromFile(*options->passwordFile, error);
  if (!password) {
    ErrorLine(error);
    return kUsageError;
  }
  std::string output;
  uint32_t code = Restore(*self, *folder, *password, nullptr, output);
  WipeWide(*password);
  if (code != ZQCA_OK) {
    ErrorLine(Message(code, output));
    return 1;
  }
  // The name restored is the one stored, which a renamed file does not show.
  std::fprintf(stdout, "%s\n", Message(code, output).c_str());
  return 0;
}

std::optional<WString> FolderOf(const WString& path) {
  size_t slash = path.rfind(WCHAR('\\'));
  if (slash == WString::npos) return std::nullopt;
  return path.substr(0, slash + 1);
}

void WipeWide(WString& s) {
  volatile WCHAR* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

#ifndef _WIN32

void ErrorLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

std::optional<WString> LibraryPath(const std::string& native) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(native, ec);
  if (ec) return std::nullopt;
  std::optional<WString> path = platform::FromNativePath(absolute.lexically_normal().string());
  if (path && path->back() != WCHAR('\\')) path->push_back(WCHAR('\\'));
  return path;
}

std::optional<WString> SelfPath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::nullopt;
  return platform::FromNativePath(self.string());
}

// The terminal's prompt: one line read without echo.
int Interactive(const WString& self, const WString& folder) {
  std::string line;
  const platform::HiddenRead read = platform::ReadHiddenLine("Password: ", line);
  if (read == platform::HiddenRead::kNoTerminal) {
    ErrorLine("no terminal to ask for the password: give --password-file FILE");
    return kUsageError;
  }
  const bool complete = read == platform::HiddenRead::kLine;
  std::string error = read == platform::HiddenRead::kTooLong ? "the password typed is too long" : "no password was typed";
  std::optional<WString> password;
  if (complete) password = PasswordFromText(line, error, "the terminal");
  WipeString(line);
  if (!password) {
    ErrorLine(error);
    return 1;
  }
  std::string output;
  uint32_t code = Restore(self, folder, *password, nullptr, output);
  WipeWide(*password);
  if (code != ZQCA_OK) {
    ErrorLine(Message(code, output));
    return 1;
  }
  std::fprintf(stdout, "%s\n", Message(code, output).c_str());
  return 0;
}

#endif

}  // namespace halvex::sfx

#ifndef _WIN32
int main(int argc, char** argv) { return halvex::sfx::Run(std::vector<std::string>(argv, argv + argc)); }
#endif
