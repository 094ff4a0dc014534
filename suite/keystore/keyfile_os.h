// What the key store needs of the operating system: private files, created
// without replacing, made durable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace halvex::keystore::os {

// The default key file when HALVEX_KEYSTORE is not set; empty when the
// environment names no home or configuration folder.
std::filesystem::path DefaultKeyFilePath();

enum class ReadResult { kOk, kMissing, kFailed };
// Reads up to size bytes of path straight into out, with no buffer of the C
// or C++ library between (the key must leave no copy in freed memory); *got
// says how many. One byte more than size is asked for, so that *got > size
// tells a file that is too long.
ReadResult ReadPrivateFile(const std::filesystem::path& path, uint8_t* out, size_t size, size_t* got);

// Creates the missing folders of dir, readable by the owner only.
bool MakePrivateFolders(const std::filesystem::path& dir);

// Creates path exclusively, readable by the owner only, writes data and
// flushes it to disk. On failure nothing is left at path.
bool WriteNewPrivateFile(const std::filesystem::path& path, const uint8_t* data, size_t size);

enum class Publish { kDone, kExists, kFailed };
// Gives the finished file at from the name to. kExists leaves both as they were.
Publish PublishNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// Gives the finished file at from the name to, replacing what is there.
bool PublishReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes a new name in dir durable.
void SyncFolder(const std::filesystem::path& dir);

}  // namespace halvex::keystore::os
