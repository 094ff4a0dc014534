// What the settings library needs of the operating system.
#pragma once

#include <filesystem>
#include <optional>

namespace halvex::settings::os {

// The default settings file; empty when the environment names no home.
std::filesystem::path DefaultSettingsFile();
// The default temporary folder, not yet checked.
std::filesystem::path DefaultTempFolder();
// Creates dir if missing (0700) and checks that it is a private folder of ours.
bool EnsurePrivateFolder(const std::filesystem::path& dir);

}  // namespace halvex::settings::os
