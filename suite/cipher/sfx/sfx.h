// The self-extractor's parts: main.cpp holds what both systems share and the
// Linux side; windows.cpp the Windows side (its own file, command line and
// dialog).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "suite/zqca.h"

namespace halvex::sfx {

// args[0] is the program; returns the exit status.
int Run(const std::vector<std::string>& args);
// The one line shown for a result code; output names the restored file (or
// the file in the way).
std::string Message(uint32_t code, const std::string& output);
// Restores the payload of self into folder (library paths, folder ending in
// a backslash). Returns a ZQCA code.
uint32_t Restore(const WString& self, const WString& folder, const WString& password,
                 ZQCA_ProgressProc progress, std::string& output);
void WipeWide(WString& s);

// Per system.
void ErrorLine(const std::string& line);
std::optional<WString> SelfPath();
std::optional<WString> FolderOf(const WString& path);
// A folder given by the user, in library form with a final backslash.
std::optional<WString> LibraryPath(const std::string& native);
// Asks for the password (and on Windows the folder) and restores.
int Interactive(const WString& self, const WString& folder);

}  // namespace halvex::sfx
