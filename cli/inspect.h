// The inspect command's look at one file: what its header tells without a
// key. Reads only; nothing is written, locked or decrypted.
#pragma once

#include <string>

#include "cli/report.h"

namespace halvex::cli {

// operand as the user typed it; the result's error says why nothing could be
// told (missing, a folder, not encrypted, damaged ...).
FileHeader InspectFile(const std::string& operand);

}  // namespace halvex::cli
