// The key store: a ring of 24-byte keys per user, kept in a checksummed key
// file; the chosen or newest key encrypts, every key decrypts.
#include "suite/keystore/keystore.h"

#include <gcrypt.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>

#include "platform/gcrypt.h"
#include "platform/private_files.h"
#include "suite/keystore/backup.h"
#include "suite/keystore/ring.h"
#include "suite/zqkm.h"

namespace halvex::keystore {
namespace {

namespace fs = std::filesystem;
namespace os = halvex::platform;
using ring::kKeyLength;
using ring::Ring;
using ring::Secret;

std::atomic<bool> mayCreate{true};
std::atomic<CreatedListener> createdListener{nullptr};

void InitGcrypt() { platform::InitialiseGcrypt(); }

// Reads at most max bytes of path into out; longer files are kCorrupt.
Status ReadBytes(const fs::path& path, size_t max, Secret& out) {
  out.bytes.resize(max + 1);  // within the reserved capacity: no copy is made
  size_t got = 0;
  os::ReadResult read = os::ReadPrivateFile(path, out.bytes.data(), max, &got);
  out.bytes.resize(read == os::ReadResult::kOk ? std::min(got, max + 1) : 0);
  if (read == os::ReadResult::kMissing) return Status::kMissing;
  if (read == os::ReadResult::kFailed) return Status::kUnreadable;
  return got > max ? Status::kCorrupt : Status::kOk;
}

// Reads and checks a key file, keeping its bytes in raw.
Status ReadRing(const fs::path& path, Ring& ring, Secret& raw) {
  if (Status read = ReadBytes(path, ring::kMaxFileLength, raw); read != Status::kOk) return read;
  return ring::Decode(raw.bytes.data(), raw.bytes.size(), ring) ? Status::kOk : Status::kCorrupt;
}

Status ReadRing(const fs::path& path, Ring& ring) {
  Secret raw(ring::kMaxFileLength + 1);
  return ReadRing(path, ring, raw);
}

// A name beside target for the file being written, unique to this attempt.
fs::path TemporaryBeside(const fs::path& target) {
  uint8_t nonce[8];
  platform::RandomBytes(nonce, sizeof nonce);
  static const char kHex[] = "0123456789abcdef";
  std::string suffix = ".new-";
  for (uint8_t b : nonce) suffix += kHex[b >> 4], suffix += kHex[b & 15];
  fs::path temporary = target;
  temporary += suffix;
  return temporary;
}

fs::path FolderOf(const fs::path& path) {
  fs::path parent = path.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// Writes data under target's name, never replacing what stands there.
os::Publish WriteNoReplace(const fs::path& target, const std::vector<uint8_t>& data) {
  fs::path temporary = TemporaryBeside(target);
  if (!os::WriteNewPrivateFile(temporary, data.data(), data.size())) return os::Publish::kFailed;
  os::Publish result = os::PublishNoReplace(temporary, target);
  std::error_code ec;
  fs::remove(temporary, ec);  // a link leaves the temporary name behind; a rename does not
  // A key file whose name a power cut could still take must not key any file.
  if (result == os::Publish::kDone && !os::SyncFolder(FolderOf(target))) return os::Publish::kFailed;
  return result;
}

enum class Replaced { kDone, kChanged, kFailed };
// Replaces the key file at path, as read in before, by after: written whole
// and flushed under a temporary name first, so a failure at any point leaves
// the old file. Should another process have changed the file since it was
// read, nothing is replaced (kChanged): its keys would be lost. The check is
// made just before the rename; two changes landing in between, both made by
// hand, are not guarded against.
Replaced ReplaceIfUnchanged(const fs::path& path, const Secret& before, const Secret& after) {
  fs::path temporary = TemporaryBeside(path);
  if (!os::WriteNewPrivateFile(temporary, after.bytes.data(), after.bytes.size())) return Replaced::kFailed;
  Secret now(ring::kMaxFileLength + 1);
  Replaced result = Replaced::kChanged;
  if (ReadBytes(path, ring::kMaxFileLength, now) == Status::kOk && now.bytes == before.bytes)
    result = os::PublishReplace(temporary, path) ? Replaced::kDone : Replaced::kFailed;
  std::error_code ec;
  if (result != Replaced::kDone) fs::remove(temporary, ec);
  if (result == Replaced::kDone && !os::SyncFolder(FolderOf(path))) result = Replaced::kFailed;
  return result;
}

// Applies change to this user's ring and writes it back when it changed
// anything, retrying when another process wrote the file meanwhile. change
// returns kOk with *changed set, or the status to give up with.
template <typename Change>
Status Modify(const fs::path& path, Change change) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    Ring ring;
    Secret before(ring::kMaxFileLength + 1);
    Status read = ReadRing(path, ring, before);
    if (read == Status::kCorrupt) return Status::kStoreDamaged;
    if (read != Status::kOk) return read;
    bool changed = false;
    if (Status s = change(ring, &changed); s != Status::kOk || !changed) return s;
    Secret after;
    ring::Encode(ring, after);
    switch (ReplaceIfUnchanged(path, before, after)) {
      case Replaced::kDone: return Status::kOk;
      case Replaced::kFailed: return Status::kWriteFailed;
      case Replaced::kChanged: break;
    }
  }
  return Status::kWriteFailed;
}

// Writes a ring as a new key file; kExists when one appeared meanwhile.
Status WriteNewRing(const fs::path& path, const Ring& ring) {
  if (!os::MakePrivateFolders(FolderOf(path))) return Status::kWriteFailed;
  Secret file;
  ring::Encode(ring, file);
  switch (WriteNoReplace(path, file.bytes)) {
    case os::Publish::kDone: return Status::kOk;
    case os::Publish::kExists: return Status::kExists;
    case os::Publish::kFailed: break;
  }
  return Status::kWriteFailed;
}

// The encrypting key into key (24 bytes): read, or made on first use when
// the host allows it. *created says a new key store was made.
uint32_t LoadOrCreate(uint8_t* key, bool* created) {
  fs::path path = KeyFilePath();
  if (path.empty()) return ZQKM_ERR_CREATE;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Ring ring;
    Status read = ReadRing(path, ring);
    if (read == Status::kOk) {
      std::memcpy(key, ring.entries[ring::Active(ring)].key.data(), kKeyLength);
      return ZQKM_OK;
    }
    if (read != Status::kMissing) return ZQKM_ERR_UNAVAILABLE;
    platform::RandomBytes(key, kKeyLength);
    // No store and no leave to make one: a key of no store, never written.
    if (!mayCreate.load()) return ZQKM_OK;
    ring::Entry& entry = ring.entries.emplace_back();
    std::memcpy(entry.key.data(), key, kKeyLength);
    entry.created = static_cast<int64_t>(std::time(nullptr));
    switch (WriteNewRing(path, ring)) {
      case Status::kOk: *created = true; return ZQKM_OK;
      case Status::kExists: break;  // another process made it first: use theirs
      default: return ZQKM_ERR_CREATE;
    }
  }
  return ZQKM_ERR_UNAVAILABLE;
}

// The ring in a backup or key file, opened with passphrase when sealed.
Status ReadBackup(const fs::path& source, std::optional<std::string_view> passphrase, Ring& ring) {
  Secret bytes(backup::kMaxLength + 1);
  if (Status read = ReadBytes(source, backup::kMaxLength, bytes); read != Status::kOk) return read;
  if (!backup::IsSealed(bytes.bytes.data(), bytes.bytes.size()))
    return ring::Decode(bytes.bytes.data(), bytes.bytes.size(), ring) ? Status::kOk : Status::kCorrupt;
  if (!passphrase) return Status::kNeedsPassphrase;
  Secret inner;
  switch (backup::Open(bytes.bytes.data(), bytes.bytes.size(), *passphrase, inner)) {
    case backup::Opened::kOk: break;
    case backup::Opened::kWrongPassphrase: return Status::kWrongPassphrase;
    case backup::Opened::kCorrupt: return Status::kCorrupt;
  }
  return ring::Decode(inner.bytes.data(), inner.bytes.size(), ring) ? Status::kOk : Status::kCorrupt;
}

Status Publish(const fs::path& target, const std::vector<uint8_t>& data) {
  switch (WriteNoReplace(target, data)) {
    case os::Publish::kDone: return Status::kOk;
    case os::Publish::kExists: return Status::kExists;
    case os::Publish::kFailed: break;
  }
  return Status::kWriteFailed;
}

}  // namespace

fs::path KeyFilePath() {
  if (const char* set = std::getenv("HALVEX_KEYSTORE"); set && *set) return fs::path(set);
  return os::UserConfigFile("keystore");
}

// A backup without a passphrase is the key file as it is, so a single-key
// store still gives the file older versions import.
Status Export(const fs::path& target, std::optional<std::string_view> passphrase) {
  InitGcrypt();
  Ring ring;
  Secret file(ring::kMaxFileLength + 1);
  if (Status read = ReadRing(KeyFilePath(), ring, file); read != Status::kOk) return read;
  if (!passphrase) return Publish(target, file.bytes);
  Secret canonical;
  ring::Encode(ring, canonical);
  std::vector<uint8_t> sealed;
  if (!backup::Seal(canonical, *passphrase, sealed)) return Status::kWriteFailed;
  return Publish(target, sealed);
}

bool NeedsPassphrase(const fs::path& source) {
  Secret bytes(backup::kMaxLength + 1);
  return ReadBytes(source, backup::kMaxLength, bytes) == Status::kOk &&
         backup::IsSealed(bytes.bytes.data(), bytes.bytes.size());
}

Status Import(const fs::path& source, std::optional<std::string_view> passphrase, size_t* added) {
  InitGcrypt();
  if (added) *added = 0;
  Ring incoming;
  if (Status read = ReadBackup(source, passphrase, incoming); read != Status::kOk) return read;
  fs::path path = KeyFilePath();
  if (path.empty()) return Status::kWriteFailed;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Status s = Modify(path, [&](Ring& ring, bool* changed) {
      std::optional<size_t> n = ring::Merge(ring, incoming);
      if (!n) return Status::kFull;
      if (added) *added = *n;
      *changed = *n > 0;
      return Status::kOk;
    });
    if (s != Status::kMissing) return s;
    // No key file yet: the backup's ring becomes it, unless one appears meanwhile.
    s = WriteNewRing(path, incoming);
    if (s == Status::kOk && added) *added = incoming.entries.size();
    if (s != Status::kExists) return s;
  }
  return Status::kWriteFailed;
}

Status List(std::vector<KeyInfo>& keys) {
  InitGcrypt();
  keys.clear();
  Ring ring;
  if (Status read = ReadRing(KeyFilePath(), ring); read != Status::kOk) return read;
  const size_t active = ring::Active(ring);
  for (size_t i = 0; i < ring.entries.size(); ++i)
    keys.push_back({ring::IdOf(ring.entries[i]), ring.entries[i].created, i == active, i == ring.chosen});
  return Status::kOk;
}

Status Use(uint32_t id) {
  InitGcrypt();
  return Modify(KeyFilePath(), [id](Ring& ring, bool* changed) {
    std::optional<size_t> at = ring::Find(ring, id);
    if (!at) return Status::kUnknownKey;
    *changed = ring.chosen != *at;
    ring.chosen = static_cast<uint8_t>(*at);
    return Status::kOk;
  });
}

void SetMayCreate(bool allowed) { mayCreate = allowed; }

void SetCreatedListener(CreatedListener listener) { createdListener = listener; }

std::optional<uint32_t> Identifier() {
  InitGcrypt();
  Ring ring;
  if (ReadRing(KeyFilePath(), ring) != Status::kOk) return std::nullopt;
  return ring::IdOf(ring.entries[ring::Active(ring)]);
}

bool RingKey(uint32_t id, size_t index, uint8_t* key) {
  InitGcrypt();
  Ring ring;
  if (ReadRing(KeyFilePath(), ring) != Status::kOk) return false;
  std::optional<size_t> at;
  for (size_t i = 0, from = 0; i <= index; ++i, from = *at + 1) {
    at = id ? ring::Find(ring, id, from) : (from < ring.entries.size() ? std::optional(from) : std::nullopt);
    if (!at) return false;
  }
  std::memcpy(key, ring.entries[*at].key.data(), kKeyLength);
  return true;
}

const char* Describe(Status status) {
  switch (status) {
    case Status::kOk: return "done";
    case Status::kMissing: return "no key file there";
    case Status::kUnreadable: return "the key file cannot be read";
    case Status::kCorrupt: return "not a valid key file or backup (damaged or of another kind)";
    case Status::kExists: return "the file exists already";
    case Status::kWriteFailed: return "the key file could not be written";
    case Status::kNeedsPassphrase: return "the backup is sealed with a passphrase and none was given";
    case Status::kWrongPassphrase: return "the passphrase does not open the backup (or the backup was changed)";
    case Status::kStoreDamaged:
      return "this user's key file is damaged; nothing was added to it (move it aside to keep it, then import "
             "a backup)";
    case Status::kUnknownKey: return "the key store holds no key of that identifier ('halvex keystore list')";
    case Status::kFull: return "the key store would hold more than 255 keys";
  }
  return "unknown";
}

}  // namespace halvex::keystore

extern "C" {

BYTE* ZQKM_GetKeyFromKeyStore(uint32_t /*reserved*/, uint32_t* value, uint32_t* error) {
  using namespace halvex::keystore;
  if (value) *value = 0;
  InitGcrypt();
  auto* key = static_cast<BYTE*>(gcry_malloc_secure(kKeyLength));
  bool created = false;
  uint32_t code = key ? LoadOrCreate(key, &created) : ZQKM_ERR_UNAVAILABLE;
  if (error) *error = code;
  if (CreatedListener told = createdListener.load(); created && told) told(KeyFilePath());
  if (code == ZQKM_OK) return key;
  if (key) ZQKM_FreeMemory(key);
  return nullptr;
}

void ZQKM_FreeMemory(void* p) {
  if (!p) return;
  halvex::keystore::ring::Wipe(p, halvex::keystore::kKeyLength);
  gcry_free(p);
}

}  // extern "C"
