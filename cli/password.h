// Where the password of a batch comes from: a file, the environment or the
// terminal, never the command line (where every user of the machine sees it).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/console.h"

#include "platform/wide.h"

namespace halvex::cli {

struct PasswordSource {
  std::optional<std::string> file;  // --password-file
  bool ask = false;                 // prompt even though none is required
  bool confirm = false;             // ask twice (encryption: a typo would lock the files away)
  bool required = false;            // the command cannot run without one
  bool noInput = false;             // never prompt
};

struct PasswordResult {
  std::optional<WString> password;  // nothing: use the stored key
  std::string error;                // set: a setup error, in words
  bool interrupted = false;         // Ctrl-C at the prompt
};

PasswordResult ObtainPassword(const PasswordSource& source);

// The passphrase of a key-store backup: the first line of file, else asked at
// the terminal (twice when confirm). Never HALVEX_PASSWORD: that is the
// files' password, and a backup sealed with it would fall with it.
PasswordResult ObtainPassphrase(const std::optional<std::string>& file, bool confirm, bool noInput);

// Where typed secrets come from instead of the terminal (halvex-desktop: a
// window), named in messages as where; an empty function restores the
// terminal. Same contract as platform::ReadHiddenLine.
using SecretReader = std::function<platform::HiddenRead(const std::string& prompt, std::string& line)>;
void SetSecretReader(SecretReader reader, std::string where);

// Overwrites a secret before its memory is given back.
void Wipe(std::string& secret);
void Wipe(WString& secret);

}  // namespace halvex::cli
