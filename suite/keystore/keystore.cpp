// The key store: one 24-byte key per user, kept in a checksummed key file.
#include "suite/keystore/keystore.h"

#include <gcrypt.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "platform/gcrypt.h"
#include "suite/keystore/keyfile_os.h"
#include "suite/zqkm.h"

namespace halvex::keystore {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[8] = {'H', 'A', 'L', 'V', 'E', 'X', 'K', 'S'};
constexpr uint8_t kVersion = 1;
constexpr size_t kKeyLength = 24;
constexpr size_t kChecksumLength = 16;
constexpr size_t kKeyOffset = sizeof kMagic + 1;
constexpr size_t kChecksumOffset = kKeyOffset + kKeyLength;
constexpr size_t kFileLength = kChecksumOffset + kChecksumLength;

using KeyFile = std::array<uint8_t, kFileLength>;

std::atomic<bool> mayCreate{true};
std::atomic<CreatedListener> createdListener{nullptr};

// Key bytes must not linger in freed memory.
void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

struct WipedKeyFile {
  KeyFile bytes{};
  ~WipedKeyFile() { Wipe(bytes.data(), bytes.size()); }
};

void InitGcrypt() { platform::InitialiseGcrypt(); }

std::array<uint8_t, kChecksumLength> Checksum(const KeyFile& file) {
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, file.data(), kChecksumOffset);
  std::array<uint8_t, kChecksumLength> sum;
  std::memcpy(sum.data(), digest, kChecksumLength);
  return sum;
}

void Seal(KeyFile& file, const uint8_t* key) {
  std::memcpy(file.data(), kMagic, sizeof kMagic);
  file[sizeof kMagic] = kVersion;
  std::memcpy(file.data() + kKeyOffset, key, kKeyLength);
  auto sum = Checksum(file);
  std::memcpy(file.data() + kChecksumOffset, sum.data(), kChecksumLength);
}

bool IsValid(const KeyFile& file) {
  if (std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) return false;
  if (file[sizeof kMagic] != kVersion) return false;
  auto sum = Checksum(file);
  return std::memcmp(file.data() + kChecksumOffset, sum.data(), kChecksumLength) == 0;
}

// Reads and checks a key file.
Status Read(const fs::path& path, KeyFile& file) {
  std::array<uint8_t, kFileLength + 1> bytes;
  size_t got = 0;
  os::ReadResult read = os::ReadPrivateFile(path, bytes.data(), kFileLength, &got);
  if (read == os::ReadResult::kOk && got == kFileLength) std::memcpy(file.data(), bytes.data(), kFileLength);
  Wipe(bytes.data(), bytes.size());
  if (read == os::ReadResult::kMissing) return Status::kMissing;
  if (read == os::ReadResult::kFailed) return Status::kUnreadable;
  if (got != kFileLength) return Status::kCorrupt;  // shorter or longer than a key file
  return IsValid(file) ? Status::kOk : Status::kCorrupt;
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

// Writes file under target's name, never replacing what stands there.
os::Publish WriteNoReplace(const fs::path& target, const KeyFile& file) {
  fs::path temporary = TemporaryBeside(target);
  if (!os::WriteNewPrivateFile(temporary, file.data(), file.size())) return os::Publish::kFailed;
  os::Publish result = os::PublishNoReplace(temporary, target);
  std::error_code ec;
  fs::remove(temporary, ec);  // a link leaves the temporary name behind; a rename does not
  if (result == os::Publish::kDone) os::SyncFolder(FolderOf(target));
  return result;
}

// The stored key into key (24 bytes): read, or made on first use when the
// host allows it. *created says a new key store was made.
uint32_t LoadOrCreate(uint8_t* key, bool* created) {
  fs::path path = KeyFilePath();
  if (path.empty()) return ZQKM_ERR_CREATE;
  WipedKeyFile file;
  for (int attempt = 0; attempt < 2; ++attempt) {
    Status read = Read(path, file.bytes);
    if (read == Status::kOk) {
      std::memcpy(key, file.bytes.data() + kKeyOffset, kKeyLength);
      return ZQKM_OK;
    }
    if (read != Status::kMissing) return ZQKM_ERR_UNAVAILABLE;
    platform::RandomBytes(key, kKeyLength);
    // No store and no leave to make one: a key of no store, never written.
    if (!mayCreate.load()) return ZQKM_OK;
    if (!os::MakePrivateFolders(FolderOf(path))) return ZQKM_ERR_CREATE;
    Seal(file.bytes, key);
    switch (WriteNoReplace(path, file.bytes)) {
      case os::Publish::kDone: *created = true; return ZQKM_OK;
      case os::Publish::kFailed: return ZQKM_ERR_CREATE;
      case os::Publish::kExists: break;  // another process made it first: use theirs
    }
  }
  return ZQKM_ERR_UNAVAILABLE;
}

}  // namespace

fs::path KeyFilePath() {
  if (const char* set = std::getenv("HALVEX_KEYSTORE"); set && *set) return fs::path(set);
  return os::DefaultKeyFilePath();
}

Status Export(const fs::path& target) {
  InitGcrypt();
  WipedKeyFile file;
  if (Status read = Read(KeyFilePath(), file.bytes); read != Status::kOk) return read;
  switch (WriteNoReplace(target, file.bytes)) {
    case os::Publish::kDone: return Status::kOk;
    case os::Publish::kExists: return Status::kExists;
    case os::Publish::kFailed: break;
  }
  return Status::kWriteFailed;
}

Status Import(const fs::path& source, bool force) {
  InitGcrypt();
  WipedKeyFile incoming;
  if (Status read = Read(source, incoming.bytes); read != Status::kOk) return read;
  fs::path path = KeyFilePath();
  if (path.empty()) return Status::kWriteFailed;
  WipedKeyFile current;
  Status existing = Read(path, current.bytes);
  if (existing == Status::kOk && current.bytes == incoming.bytes) return Status::kOk;
  if (existing == Status::kMissing) {
    if (!os::MakePrivateFolders(FolderOf(path))) return Status::kWriteFailed;
    switch (WriteNoReplace(path, incoming.bytes)) {
      case os::Publish::kDone: return Status::kOk;
      case os::Publish::kExists: return Status::kExists;
      case os::Publish::kFailed: return Status::kWriteFailed;
    }
  }
  if (!force) return Status::kExists;
  fs::path temporary = TemporaryBeside(path);
  if (!os::WriteNewPrivateFile(temporary, incoming.bytes.data(), incoming.bytes.size())) return Status::kWriteFailed;
  if (!os::PublishReplace(temporary, path)) {
    std::error_code ec;
    fs::remove(temporary, ec);
    return Status::kWriteFailed;
  }
  os::SyncFolder(FolderOf(path));
  return Status::kOk;
}

void SetMayCreate(bool allowed) { mayCreate = allowed; }

void SetCreatedListener(CreatedListener listener) { createdListener = listener; }

std::optional<uint32_t> Identifier() {
  InitGcrypt();
  WipedKeyFile file;
  if (Read(KeyFilePath(), file.bytes) != Status::kOk) return std::nullopt;
  // As the cipher library records it: SHA-256("halvex key store id" || key),
  // the first four bytes big-endian, never 0.
  constexpr std::string_view kLabel = "halvex key store id";
  std::array<uint8_t, kLabel.size() + kKeyLength> input;
  std::memcpy(input.data(), kLabel.data(), kLabel.size());
  std::memcpy(input.data() + kLabel.size(), file.bytes.data() + kKeyOffset, kKeyLength);
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, input.data(), input.size());
  Wipe(input.data(), input.size());
  uint32_t id = (static_cast<uint32_t>(digest[0]) << 24) | (digest[1] << 16) | (digest[2] << 8) | digest[3];
  return id == 0 ? 1 : id;
}

const char* Describe(Status status) {
  switch (status) {
    case Status::kOk: return "done";
    case Status::kMissing: return "no key file there";
    case Status::kUnreadable: return "the key file cannot be read";
    case Status::kCorrupt: return "not a valid key file (damaged or of another kind)";
    case Status::kExists:
      return "a different key is stored already (--force replaces it; files encrypted under it alone then no "
             "longer open)";
    case Status::kWriteFailed: return "the key file could not be written";
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
  halvex::keystore::Wipe(p, halvex::keystore::kKeyLength);
  gcry_free(p);
}

}  // extern "C"
