// The key store's host API: where the key file lives, and moving it between
// machines. The suite call ZQKM_GetKeyFromKeyStore (suite/zqkm.h) hands the
// key itself to the library.
//
// Key file format (49 bytes, nothing else):
//   offset  0  8 bytes  magic "HALVEXKS"
//   offset  8  1 byte   version, 1
//   offset  9 24 bytes  the key
//   offset 33 16 bytes  the first 16 bytes of SHA-256 over bytes 0 to 32
// A file of any other length, magic, version or checksum is refused: a
// damaged key file must never be replaced silently by a new key, since files
// encrypted under the old one would be lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace halvex::keystore {

enum class Status {
  kOk,
  kMissing,      // the file to read does not exist
  kUnreadable,   // it exists but cannot be read
  kCorrupt,      // it is not a valid key file
  kExists,       // the target exists already (export), or holds another key (import without force)
  kWriteFailed,  // the new file could not be written
};

// The key file: HALVEX_KEYSTORE if set; else $XDG_CONFIG_HOME/halvex/keystore
// or ~/.config/halvex/keystore (on Windows %APPDATA%\Halvex\keystore).
std::filesystem::path KeyFilePath();

// Writes a copy of the key file to target, never replacing a file there.
Status Export(const std::filesystem::path& target);

// Installs the key file at source as this user's key. An existing key file
// holding the same key is left as it is; one holding another key (or damaged)
// is replaced only with force.
Status Import(const std::filesystem::path& source, bool force);

// Whether ZQKM_GetKeyFromKeyStore may make a key store where none exists
// (given by default). A host that decrypts withholds it: a missing store (a
// different HOME, an unmounted folder) must not quietly become a new key that
// opens nothing. Without leave and without a store the call hands out a key
// that belongs to no store and is never written: password files still open,
// and files that need the stored key are reported as needing it.
void SetMayCreate(bool mayCreate);

// Told when ZQKM_GetKeyFromKeyStore made a new key store, with its path, so
// the host can tell the user where it is and to back it up. Null: nobody.
using CreatedListener = void (*)(const std::filesystem::path& keyFile);
void SetCreatedListener(CreatedListener listener);

// The short identifier of the stored key, as encrypted files record it
// (8 hex digits when shown); nothing when there is no readable key store.
std::optional<uint32_t> Identifier();

// A short message for a status, for the command line.
const char* Describe(Status status);

}  // namespace halvex::keystore
