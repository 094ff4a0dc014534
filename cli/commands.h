// The commands of halvex, each returning the process's exit status.
#pragma once

#include "cli/args.h"

namespace halvex::cli {

int RunCommand(const Options& options);

}  // namespace halvex::cli
