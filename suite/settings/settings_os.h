// What the settings library needs of the operating system.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace halvex::settings::os {

// The default settings file; empty when the environment names no home.
std::filesystem::path DefaultSettingsFile();
// The default temporary folder, not yet checked.
std::filesystem::path DefaultTempFolder();
// Creates dir if missing (0700) and checks that it is a private folder of ours.
bool EnsurePrivateFolder(const std::filesystem::path& dir);

// What tells one state of a file from the next: the file itself, its size and
// its change times, in one look. Nothing when the file cannot be looked at.
using FileStamp = std::array<uint64_t, 5>;
std::optional<FileStamp> StampOf(const std::filesystem::path& file);
// Whether the file changed so lately that a change within the same tick of
// the file system's clock could still follow unseen by the stamp.
bool RecentlyChanged(const FileStamp& stamp);

}  // namespace halvex::settings::os
