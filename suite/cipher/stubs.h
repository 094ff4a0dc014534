// The programs that precede the payload of a self-extracting file, embedded
// at build time (suite/cipher/sfx): a Windows PE by default, or a static
// Linux ELF. A build without them writes the text placeholder that older
// files carry; readers skip whatever stands in front through the trailer.
#pragma once

#include <optional>
#include <string_view>

#include "suite/cipher/crypto.h"

namespace halvex::cipher::stubs {

enum class Kind { kWindows, kLinux };

// "windows" or "linux"; nothing for anything else.
std::optional<Kind> Parse(std::string_view name);
// The program of that kind (the placeholder when the build has none).
crypto::Bytes Program(Kind kind);
// What a new self-extracting file starts with: the host's choice, else the
// settings file's sfx_stub, else the Windows program.
crypto::Bytes ForNewFile();
// For hosts (the CLI's --stub): overrides the setting for this process;
// nothing returns to the setting.
void Choose(std::optional<Kind> kind);

}  // namespace halvex::cipher::stubs
