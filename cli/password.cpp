// Obtaining the password: --password-file, HALVEX_PASSWORD, or the terminal
// without echo (platform/console.h).
#include "cli/password.h"

#include <string.h>

#include <cerrno>
#include <cstdlib>

#include "platform/console.h"

namespace halvex::cli {
namespace {

using platform::HiddenRead;

struct Reader {
  SecretReader read;
  std::string where = "the terminal";
};

Reader& TypedSecrets() {
  static Reader reader;
  return reader;
}

HiddenRead ReadTyped(const std::string& prompt, std::string& line) {
  const Reader& reader = TypedSecrets();
  return reader.read ? reader.read(prompt, line) : platform::ReadHiddenLine(prompt, line);
}

PasswordResult Fail(std::string message) {
  PasswordResult r;
  r.error = std::move(message);
  return r;
}

// The library takes UTF-16; a password that is not UTF-8 cannot be typed the
// same way twice, so it is refused rather than guessed at.
PasswordResult FromText(std::string& text, const std::string& where) {
  if (text.empty()) {
    Wipe(text);
    return Fail("the password from " + where + " is empty");
  }
  std::optional<WString> wide = platform::FromUtf8(text);
  Wipe(text);
  if (!wide) return Fail("the password from " + where + " is not valid UTF-8");
  PasswordResult r;
  r.password = std::move(wide);
  return r;
}

// Only the first line is read, through a wiped buffer: a stream's own buffer
// would be given back holding the password.
PasswordResult FromFile(const std::string& path) {
  std::string line;
  const HiddenRead read = platform::ReadSecretFileLine(path, line);
  if (read == HiddenRead::kTooLong)
    return Fail("the first line of '" + path + "' is longer than " + std::to_string(platform::kSecretLineMax) +
                " bytes");
  if (read != HiddenRead::kLine) return Fail("cannot read the password file '" + path + "': " + strerror(errno));
  return FromText(line, "'" + path + "'");
}

// word names the secret ("password", "passphrase").
PasswordResult FromPrompt(bool confirm, const std::string& word) {
  std::string first, second, prompt = word;
  prompt[0] = static_cast<char>(prompt[0] - 'a' + 'A');
  HiddenRead read = ReadTyped(prompt + ": ", first);
  if (read == HiddenRead::kNoTerminal)
    return Fail("no password: give --password-file FILE or HALVEX_PASSWORD (there is no terminal to ask)");
  if (read == HiddenRead::kLine && confirm) {
    read = ReadTyped(prompt + " again: ", second);
    const bool same = second == first;
    Wipe(second);
    if (read == HiddenRead::kLine && !same) {
      Wipe(first);
      return Fail("the two " + word + "s differ");
    }
  }
  if (read != HiddenRead::kLine) {
    Wipe(first);
    PasswordResult r;
    r.interrupted = read == HiddenRead::kInterrupted;
    if (read == HiddenRead::kTooLong)
      r.error = "the " + word + " typed is longer than " + std::to_string(platform::kSecretLineMax) + " bytes";
    else if (!r.interrupted)
      r.error = "no " + word + " was typed";
    return r;
  }
  return FromText(first, TypedSecrets().where);
}

}  // namespace

void SetSecretReader(SecretReader reader, std::string where) {
  TypedSecrets() = reader ? Reader{std::move(reader), std::move(where)} : Reader{};
}

void Wipe(std::string& secret) {
  platform::WipeMemory(secret.data(), secret.size());
  secret.clear();
}

void Wipe(WString& secret) {
  platform::WipeMemory(secret.data(), secret.size() * sizeof(WCHAR));
  secret.clear();
}

PasswordResult ObtainPassword(const PasswordSource& source) {
  if (source.file) return FromFile(*source.file);
  if (const char* env = std::getenv("HALVEX_PASSWORD")) {
    std::string text = env;
    return FromText(text, "HALVEX_PASSWORD");
  }
  if (!source.ask && !source.required) return {};
  if (source.noInput)
    return Fail("no password: give --password-file FILE or HALVEX_PASSWORD (--no-input forbids asking)");
  return FromPrompt(source.confirm, "password");
}

PasswordResult ObtainPassphrase(const std::optional<std::string>& file, bool confirm, bool noInput) {
  if (file) return FromFile(*file);
  if (noInput) return Fail("no passphrase: give --passphrase-file FILE (--no-input forbids asking)");
  PasswordResult r = FromPrompt(confirm, "passphrase");
  if (r.error.rfind("no password: ", 0) == 0)
    r.error = "no passphrase: give --passphrase-file FILE (there is no terminal to ask)";
  return r;
}

}  // namespace halvex::cli
