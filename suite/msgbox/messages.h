// The message for each failure code the library reports: its own (FES) codes
// and the cipher's result codes. Shared by the message box, the progress
// error dialog and the command line.
#pragma once

#include <cstdint>
#include <string>

namespace halvex::msgbox {

// The message of one FES code, or null when there is none.
const char* DescribeFes(uint32_t fes);
// The message of one cipher result code, or null when there is none.
const char* DescribeApi(uint32_t api);
// The message of one per-entry result of a message-folder batch
// (pdwFileResults), where 1015 says the entry names no file and 1313 that
// it is already self-extracting; never null.
const char* DescribeEntryResult(uint32_t result);
// The message for a code pair: a specific FES message first, then the
// cipher's reason, then the general FES message; never null.
const char* Describe(uint32_t fes, uint32_t api);
// Whether the same file tried again may fare otherwise: an I/O error, a file
// in use, a full disk, a file in the way may clear meanwhile; a damaged file,
// a format, a stored name or a path too long stay as they are.
bool RetryMayHelp(uint32_t fes, uint32_t api);
// One line for the pair: "halvex: <message> (<fes>, <api>)".
std::string Line(uint32_t fes, uint32_t api);

}  // namespace halvex::msgbox
