// keygen, and reading recipient lines and identity files.
#include "cli/identities.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "cli/password.h"
#include "cli/paths.h"
#include "cli/report.h"
#include "halvex/host.h"
#include "platform/console.h"
#include "suite/cipher/cipher.h"
#include "suite/keystore/keystore.h"

namespace halvex::cli {
namespace {

namespace fs = std::filesystem;

// Identity files are a few lines; anything much larger is something else.
constexpr size_t kMaxKeyFile = 64 * 1024;

#ifdef _WIN32
int OpenFile(const fs::path& p, int flags) { return _wopen(p.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE); }
bool Sync(int fd) { return _commit(fd) == 0; }
bool Private(int, std::string&) { return true; }  // the profile folder's ACL guards it
bool IsTerminal(int fd) { return _isatty(fd) != 0; }
#else
int OpenFile(const fs::path& p, int flags) { return open(p.c_str(), flags | O_CLOEXEC, 0600); }
bool Sync(int fd) { return fsync(fd) == 0; }
bool Private(int fd, std::string& why) {
  struct stat st{};
  if (fstat(fd, &st) != 0) return why = strerror(errno), false;
  if (!S_ISREG(st.st_mode)) return why = "not a regular file", false;
  if (st.st_uid != geteuid()) return why = "owned by another user", false;
  if (st.st_mode & 077) return why = "others may read it: 'chmod 600' it, and take a new identity if it leaked", false;
  return true;
}
bool IsTerminal(int fd) { return isatty(fd) != 0; }
#endif

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const auto n = write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The file's text, or nothing with why set. Wiped by the caller.
std::optional<std::string> ReadSmall(const fs::path& file, bool mustBePrivate, std::string& why) {
  const int fd = OpenFile(file, O_RDONLY);
  if (fd < 0) return why = strerror(errno), std::nullopt;
  std::string text;
  if (mustBePrivate && !Private(fd, why)) {
    close(fd);
    return std::nullopt;
  }
  text.reserve(kMaxKeyFile + 4096);
  char buffer[4096];
  for (;;) {
    const auto n = read(fd, buffer, sizeof buffer);
    if (n < 0) why = strerror(errno);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxKeyFile) {
      why = "larger than a key file";
      break;
    }
  }
  std::memset(buffer, 0, sizeof buffer);
  close(fd);
  if (!why.empty()) {
    Wipe(text);
    return std::nullopt;
  }
  return text;
}

// The lines that are neither blank nor a comment ('#').
std::vector<std::string> KeyLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos && line[first] != '#') lines.push_back(std::move(line));
    else Wipe(line);
  }
  return lines;
}

void WipeAll(std::vector<std::string>& lines) {
  for (std::string& line : lines) Wipe(line);
  lines.clear();
}

std::string Now() {
  char text[32] = "";
  const std::time_t now = std::time(nullptr);
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace

KeyLines RecipientLines(const std::vector<std::string>& values) {
  KeyLines out;
  for (const std::string& value : values) {
    if (cipher::ParseRecipient(value)) {
      out.lines.push_back(value);
      continue;
    }
    std::string why;
    auto text = ReadSmall(value, false, why);
    if (!text) {
      out.error = value.rfind("halvex1", 0) == 0
                      ? "--recipient " + Printable(value) + " is no valid recipient (mistyped or cut short?)"
                      : "--recipient " + Printable(value) + ": neither a recipient nor a readable file (" + why + ")";
      return out;
    }
    const std::vector<std::string> lines = KeyLinesOf(*text);
    if (lines.empty()) out.error = "--recipient " + Printable(value) + ": the file holds no recipient";
    for (size_t i = 0; i < lines.size() && out.error.empty(); ++i) {
      if (!cipher::ParseRecipient(lines[i]))
        out.error = "--recipient " + Printable(value) + ": '" + Printable(lines[i]) + "' is no valid recipient";
      out.lines.push_back(lines[i]);
    }
    if (!out.error.empty()) return out;
  }
  if (out.lines.size() > cipher::kMaxRecipients)
    out.error = "more than " + std::to_string(cipher::kMaxRecipients) + " recipients; a file takes at most that many";
  return out;
}

KeyLines IdentityLines(const fs::path& file) {
  KeyLines out;
  std::string why;
  auto text = ReadSmall(file, true, why);
  if (!text) {
    out.error = "the identity file " + Printable(file.string()) + " is refused: " + why;
    return out;
  }
  out.lines = KeyLinesOf(*text);
  Wipe(*text);
  for (const std::string& line : out.lines)
    if (!cipher::ParseIdentity(line)) {
      out.error = "the identity file " + Printable(file.string()) + " holds a line that is no identity";
      WipeAll(out.lines);
      return out;
    }
  if (out.lines.empty()) out.error = "the identity file " + Printable(file.string()) + " holds no identity";
  return out;
}

fs::path RingIdentities() {
  fs::path file = keystore::KeyFilePath();
  return file.replace_filename(file.filename().string() + ".identities");
}

// On Windows the library's batches run in the cipher DLL, which the host
// controls reach, while this program's own stream form runs in its copy of
// the cipher core: both are told. Elsewhere the two are one.
static void AddIdentityEverywhere(const std::string& line) {
  HalvexAddIdentity(line.c_str());
#ifdef _WIN32
  if (auto identity = cipher::ParseIdentity(line)) {
    cipher::AddIdentity(*identity);
    platform::WipeMemory(identity->data(), identity->size());
  }
#endif
}

bool LoadIdentities(const std::vector<std::string>& files, std::string& error) {
  HalvexClearIdentities();
#ifdef _WIN32
  cipher::ClearIdentities();
#endif
  std::vector<fs::path> paths(files.begin(), files.end());
  std::error_code ec;
  // The ring's own are tried whenever they are there; a missing file is no error.
  if (fs::exists(RingIdentities(), ec)) paths.push_back(RingIdentities());
  for (const fs::path& path : paths) {
    KeyLines read = IdentityLines(path);
    if (!read.error.empty()) return error = read.error, false;
    for (const std::string& line : read.lines) AddIdentityEverywhere(line);
    WipeAll(read.lines);
  }
  return true;
}

int RunKeygen(const Options& o) {
  auto fail = [](const std::string& message, int status) {
    std::cerr << "halvex: " << message << "\n";
    return status;
  };
  if (!o.operands.empty()) return fail("keygen takes no operands (try 'halvex keygen --help')", kExitUsage);
  if (o.output && o.ring) return fail("-o and --ring exclude each other", kExitUsage);
  // An identity shown on a terminal stays in its scrollback and in whatever
  // records the session.
  if (!o.output && !o.ring && IsTerminal(1))
    return fail("the identity would show on the terminal: give -o FILE, --ring, or redirect stdout", kExitUsage);
  cipher::X25519Key identity, publicKey;
  if (!cipher::NewIdentity(identity) || !cipher::PublicKeyOf(identity, publicKey))
    return fail("no identity could be made (libgcrypt failed)", kExitSomeNotDone);
  const std::string recipient = cipher::RecipientText(publicKey);
  std::string text = "# halvex identity, created " + Now() + "\n# recipient: " + recipient + "\n" +
                     cipher::IdentityText(identity) + "\n";
  platform::WipeMemory(identity.data(), identity.size());
  if (!o.output && !o.ring) {
    std::cout << text << std::flush;
    Wipe(text);
    std::cerr << "recipient: " << recipient << "\n";
    return kExitDone;
  }
  fs::path target = o.ring ? RingIdentities() : fs::path(*o.output);
  std::error_code ec;
  // The key store's folder, made as private as the key store makes it.
  if (o.ring && fs::create_directories(target.parent_path(), ec))
    fs::permissions(target.parent_path(), fs::perms::owner_all, ec);
  // A new file never replaces one; the ring's file takes one more line.
  const int fd = OpenFile(target, O_WRONLY | O_CREAT | (o.ring ? O_APPEND : O_EXCL));
  const int openError = errno;
  std::string why;
  bool ok = fd >= 0 && (!o.ring || Private(fd, why)) && WriteAll(fd, text) && Sync(fd);
  if (why.empty() && !ok) why = strerror(fd < 0 ? openError : errno);
  if (fd >= 0) ok = close(fd) == 0 && ok;
  Wipe(text);
  if (!ok) {
    if (fd >= 0 && !o.ring) fs::remove(target, ec);
    if (fd < 0 && openError == EEXIST) why = "the file exists already; keygen never replaces a file";
    return fail("cannot write the identity to " + Printable(target.string()) + ": " + why, kExitSomeNotDone);
  }
  std::cout << recipient << "\n";
  std::cerr << "halvex: the identity is in " << Printable(target.string())
            << (o.ring ? " (decrypt tries it)" : "") << "; give others the recipient line above\n";
  return kExitDone;
}

std::string UseRecipients(const Options& o, const std::vector<std::string>& lines, bool havePassword) {
  if (lines.empty()) return {};
  // Files for recipients are theirs alone unless a password is given as
  // well; the batch's stored key then has nothing to do, and no key store
  // is made for it.
  const bool only = !havePassword;
  // The program in front of a self-extracting file opens it with a password.
  if (only && o.selfExtract)
    return "--self-extract needs a password beside --recipient: the self-extracting program "
           "opens files with a password only; nothing was touched";
  std::vector<const char*> pointers;
  for (const std::string& line : lines) pointers.push_back(line.c_str());
  if (HalvexSetRecipients(pointers.data(), pointers.size(), only ? HALVEX_RECIPIENTS_ONLY : HALVEX_RECIPIENTS_ALSO) !=
      HALVEX_OK)
    return "the recipients were refused; nothing was touched";
#ifdef _WIN32
  std::vector<cipher::X25519Key> keys;  // the stream form's copy (see AddIdentityEverywhere)
  for (const std::string& line : lines)
    if (auto key = cipher::ParseRecipient(line)) keys.push_back(*key);
  cipher::SetRecipients(keys, only);
#endif
  if (only) keystore::SetMayCreate(false);
  return {};
}

}  // namespace halvex::cli
