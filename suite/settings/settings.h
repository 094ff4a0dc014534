// The settings library's host side: where its files are, and the private
// temporary folder. The suite calls themselves are in suite/zq.h; the file
// format is described in SETTINGS.md.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace halvex::settings {

// HALVEX_CONFIG if set; else $XDG_CONFIG_HOME/halvex/settings.ini or
// ~/.config/halvex/settings.ini (on Windows %APPDATA%\Halvex\settings.ini).
std::filesystem::path SettingsFilePath();
// state.ini beside the settings file: what the library records, not what the user sets.
std::filesystem::path StateFilePath();

// The value of key in a "key = value" file; nothing when the file or the key
// is absent. The last line naming a key wins.
std::optional<std::string> ReadValue(const std::filesystem::path& file, std::string_view key);
// Sets key to value in such a file, keeping its other lines; the file is
// replaced whole, so a reader never sees half of it.
bool WriteValue(const std::filesystem::path& file, std::string_view key, std::string_view value);

// The private temporary folder (native): temp_folder from the settings, else
// $XDG_RUNTIME_DIR/halvex or /tmp/halvex-<uid> (on Windows %TEMP%\Halvex).
// Created with mode 0700 when missing; refused (nothing) when it is a
// symbolic link, not a folder, not owned by this user, or a shared (sticky)
// folder; one of this user's own that others may enter is narrowed to 0700.
std::optional<std::filesystem::path> PrivateTempFolder();

// Keys of the settings file.
inline constexpr std::string_view kVaultDriveKey = "vault_drive";
inline constexpr std::string_view kTempFolderKey = "temp_folder";
inline constexpr std::string_view kLastPasswordUseKey = "last_password_use";
// "console": the suite's dialogs are lines on the console (Windows).
inline constexpr std::string_view kUiKey = "ui";
// "windows" (the default) or "linux": the self-extractor of new self-extracting files.
inline constexpr std::string_view kSfxStubKey = "sfx_stub";

}  // namespace halvex::settings
