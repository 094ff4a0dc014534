// halvex clean: the message folders and restored files of the private
// temporary folder.
#pragma once

#include "cli/args.h"

namespace halvex::cli {

int RunClean(const Options& options);

}  // namespace halvex::cli
