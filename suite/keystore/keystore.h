// The key store's host API: where the key ring lives, what it holds, which key
// encrypts, and moving it between machines. The suite call
// ZQKM_GetKeyFromKeyStore (suite/zqkm.h) hands the encrypting key itself to
// the library; the cipher library asks for the ring's other keys by the
// identifier a file records (RingKey), so every key decrypts.
//
// The key file holds a ring of keys, each with its creation time (the layouts
// are in ring.h). A key is never removed or replaced: an import only adds.
// The chosen key (Use), else the newest, encrypts. A damaged key file is
// refused, never replaced silently by a new key, since files encrypted under
// its keys would be lost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace halvex::keystore {

enum class Status {
  kOk,
  kMissing,          // the file to read does not exist
  kUnreadable,       // it exists but cannot be read
  kCorrupt,          // it is not a valid key file or backup
  kExists,           // export: the target exists already
  kWriteFailed,      // the new file could not be written
  kNeedsPassphrase,  // import: the backup is sealed and no passphrase was given
  kWrongPassphrase,  // import: the passphrase does not open it (or it was changed)
  kStoreDamaged,     // this user's key file is damaged: nothing is added to it
  kUnknownKey,       // use: the ring holds no key of that identifier
  kFull,             // import: the ring would hold more than 255 keys
};

// The key file: HALVEX_KEYSTORE if set; else $XDG_CONFIG_HOME/halvex/keystore
// or ~/.config/halvex/keystore (on Windows %APPDATA%\Halvex\keystore).
std::filesystem::path KeyFilePath();

// Writes a backup of the whole ring to target, never replacing a file there:
// sealed under passphrase (UTF-8) when one is given, else the key file as it
// is (anyone who reads it can open the files).
Status Export(const std::filesystem::path& target, std::optional<std::string_view> passphrase);

// Whether the backup at source is sealed under a passphrase (false when it
// cannot be read: Import then says why).
bool NeedsPassphrase(const std::filesystem::path& source);

// Adds the keys of the backup (or key file) at source that this user's ring
// lacks; *added says how many. Nothing is ever removed or replaced. With no
// key file yet, the backup's ring becomes it.
Status Import(const std::filesystem::path& source, std::optional<std::string_view> passphrase,
              size_t* added = nullptr);

struct KeyInfo {
  uint32_t id;       // as encrypted files record it (8 hex digits when shown)
  int64_t created;   // seconds since 1970; 0 when unknown (a key from an old key file)
  bool encrypts;     // the key new files get
  bool chosen;       // chosen with Use rather than the newest
};
// The ring's keys in the order they were added.
Status List(std::vector<KeyInfo>& keys);

// Makes the key with identifier id the one that encrypts, whatever is newer.
Status Use(uint32_t id);

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

// The identifier of the key that encrypts; nothing when there is no readable
// key store.
std::optional<uint32_t> Identifier();

// For the cipher library: the index-th key (0, 1, ...) of the ring whose
// identifier is id, or of any identifier when id is 0 (files that record
// none), copied into key (24 bytes). False when there is no such key.
bool RingKey(uint32_t id, size_t index, uint8_t* key);

// A short message for a status, for the command line.
const char* Describe(Status status);

}  // namespace halvex::keystore
