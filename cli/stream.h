// encrypt - and decrypt -: one file's worth of bytes from stdin to stdout,
// for pipes (tar c dir | halvex encrypt - > dir.tar.hvx).
#pragma once

#include "cli/args.h"

namespace halvex::cli {

// Whether the operands ask for the stream form: a lone "-".
bool IsStreamRequest(const Options& options);
int RunStream(const Options& options);

}  // namespace halvex::cli
