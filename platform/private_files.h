// Small private files of the user's own (the key store, the settings file)
// and the folders that hold them: created owner-only, written whole and
// flushed before they take their name, named without replacing where asked.
// The one place beside the Win32 subset where the suite meets the system.
// Paths are native.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace halvex::platform {

// The file name in this user's configuration folder for Halvex
// ($XDG_CONFIG_HOME/halvex, else ~/.config/halvex; %APPDATA%\Halvex on
// Windows); empty when the environment names no such folder.
std::filesystem::path UserConfigFile(std::string_view name);
// This user's temporary folder for Halvex, not yet made or checked
// ($XDG_RUNTIME_DIR/halvex, else /tmp/halvex-UID; %TEMP%\Halvex on Windows).
std::filesystem::path DefaultPrivateTempFolder();

enum class ReadResult { kOk, kMissing, kFailed };
// Reads up to size bytes of path straight into out, with no buffer of the C
// or C++ library between (a key must leave no copy in freed memory); *got
// says how many. One byte more than size is asked for, so that *got > size
// tells a file that is too long. Only a regular file is read.
ReadResult ReadPrivateFile(const std::filesystem::path& path, uint8_t* out, size_t size, size_t* got);

// Creates the missing folders of dir, readable by the owner only.
bool MakePrivateFolders(const std::filesystem::path& dir);
// Creates dir if missing (0700) and checks that it is a real folder of ours,
// not a link or a folder another user made first in a shared place.
bool EnsurePrivateFolder(const std::filesystem::path& dir);

// Creates path exclusively, readable by the owner only, writes data and
// flushes it to disk. On failure nothing is left at path.
bool WriteNewPrivateFile(const std::filesystem::path& path, const uint8_t* data, size_t size);

enum class Publish { kDone, kExists, kFailed };
// Gives the finished file at from the name to as well (from stays where a
// hard link serves; the caller removes it). kExists leaves both as they were.
Publish PublishNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// Gives the finished file at from the name to, replacing what is there.
bool PublishReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes the names just given in dir durable. False when the system says it
// could not: a new name may then be lost to a power cut.
bool SyncFolder(const std::filesystem::path& dir);

// What tells one state of a file from the next: the file itself, its size and
// its change times, in one look. Nothing when the file cannot be looked at.
using FileStamp = std::array<uint64_t, 5>;
std::optional<FileStamp> StampOf(const std::filesystem::path& file);
// Whether the file changed so lately that a change within the same tick of
// the file system's clock could still follow unseen by the stamp.
bool RecentlyChanged(const FileStamp& stamp);

// An inter-process lock on the file at path (made 0600 if missing), held by
// this process until ReleaseLockFile. POSIX only: Windows programs use a
// named mutex instead.
enum class LockResult { kTaken, kBusy, kUnavailable };
#ifndef _WIN32
LockResult TakeLockFile(const std::filesystem::path& path);
void ReleaseLockFile();
#endif

}  // namespace halvex::platform
