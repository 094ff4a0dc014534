// Sealing the key ring under a passphrase: Argon2id for the key, AES-256-GCM
// for the seal, both from libgcrypt.
#include "suite/keystore/backup.h"

#include <gcrypt.h>

#include <atomic>
#include <cstring>

#include "platform/gcrypt.h"

namespace halvex::keystore::backup {
namespace {

constexpr char kMagic[8] = {'H', 'A', 'L', 'V', 'E', 'X', 'K', 'B'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kAes256Gcm = 1;
constexpr size_t kSaltOffset = 22, kSaltLength = 16;
constexpr size_t kNonceOffset = 38, kNonceLength = 12;
constexpr size_t kKeyLength = 32;

struct Cost {
  uint32_t passes, memoryKiB, lanes;
};
// A passphrase guards every key at once and is typed rarely: the cost of the
// files' passwords (about half a second here), on one lane.
std::atomic<uint32_t> newPasses{3}, newMemoryKiB{128 * 1024};

// A backup asking for more than this is refused rather than run: a crafted
// file must not exhaust a 32-bit process's memory or keep it busy for minutes.
bool Reasonable(const Cost& c) {
  return c.passes >= 1 && c.passes <= 12 && c.lanes >= 1 && c.lanes <= 8 && c.memoryKiB >= 8 * c.lanes &&
         c.memoryKiB <= 256 * 1024;
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The sealing key in libgcrypt's secure memory.
struct Key {
  uint8_t* bytes = static_cast<uint8_t*>(gcry_malloc_secure(kKeyLength));
  ~Key() {
    if (!bytes) return;
    ring::Wipe(bytes, kKeyLength);
    gcry_free(bytes);
  }
};

bool Derive(std::string_view passphrase, const uint8_t* salt, const Cost& c, Key& key) {
  if (!key.bytes || passphrase.empty()) return false;
  unsigned long params[4] = {kKeyLength, c.passes, c.memoryKiB, c.lanes};
  gcry_kdf_hd_t hd = nullptr;
  if (gcry_kdf_open(&hd, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, passphrase.data(), passphrase.size(),
                    salt, kSaltLength, nullptr, 0, nullptr, 0))
    return false;
  bool ok = gcry_kdf_compute(hd, nullptr) == 0 && gcry_kdf_final(hd, kKeyLength, key.bytes) == 0;
  gcry_kdf_close(hd);
  return ok;
}

// An AES-256-GCM handle keyed and given the nonce and the header as
// associated data; null on failure.
gcry_cipher_hd_t Start(const Key& key, const uint8_t* header) {
  gcry_cipher_hd_t hd = nullptr;
  if (gcry_cipher_open(&hd, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_GCM, GCRY_CIPHER_SECURE)) return nullptr;
  if (gcry_cipher_setkey(hd, key.bytes, kKeyLength) ||
      gcry_cipher_setiv(hd, header + kNonceOffset, kNonceLength) ||
      gcry_cipher_authenticate(hd, header, kHeaderLength)) {
    gcry_cipher_close(hd);
    return nullptr;
  }
  return hd;
}

}  // namespace

bool IsSealed(const uint8_t* data, size_t size) {
  return size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
}

bool Seal(const ring::Secret& keyFile, std::string_view passphrase, std::vector<uint8_t>& out) {
  platform::InitialiseGcrypt();
  const Cost cost{newPasses.load(), newMemoryKiB.load(), 1};
  out.assign(kHeaderLength + keyFile.bytes.size() + kTagLength, 0);
  std::memcpy(out.data(), kMagic, sizeof kMagic);
  out[8] = kVersion;
  out[9] = kAes256Gcm;
  PutU32(&out[10], cost.passes), PutU32(&out[14], cost.memoryKiB), PutU32(&out[18], cost.lanes);
  platform::RandomBytes(&out[kSaltOffset], kSaltLength);
  platform::RandomBytes(&out[kNonceOffset], kNonceLength);
  Key key;
  if (!Derive(passphrase, &out[kSaltOffset], cost, key)) return false;
  gcry_cipher_hd_t hd = Start(key, out.data());
  if (!hd) return false;
  uint8_t* body = out.data() + kHeaderLength;
  bool ok = gcry_cipher_final(hd) == 0 &&
            gcry_cipher_encrypt(hd, body, keyFile.bytes.size(), keyFile.bytes.data(), keyFile.bytes.size()) == 0 &&
            gcry_cipher_gettag(hd, body + keyFile.bytes.size(), kTagLength) == 0;
  gcry_cipher_close(hd);
  return ok;
}

Opened Open(const uint8_t* data, size_t size, std::string_view passphrase, ring::Secret& keyFile) {
  platform::InitialiseGcrypt();
  if (!IsSealed(data, size) || size <= kHeaderLength + kTagLength || size > kMaxLength) return Opened::kCorrupt;
  if (data[8] != kVersion || data[9] != kAes256Gcm) return Opened::kCorrupt;
  const Cost cost{GetU32(data + 10), GetU32(data + 14), GetU32(data + 18)};
  if (!Reasonable(cost)) return Opened::kCorrupt;
  Key key;
  if (!Derive(passphrase, data + kSaltOffset, cost, key)) return Opened::kWrongPassphrase;
  gcry_cipher_hd_t hd = Start(key, data);
  if (!hd) return Opened::kWrongPassphrase;
  const size_t length = size - kHeaderLength - kTagLength;
  keyFile.bytes.resize(length);
  bool ok = gcry_cipher_final(hd) == 0 &&
            gcry_cipher_decrypt(hd, keyFile.bytes.data(), length, data + kHeaderLength, length) == 0 &&
            gcry_cipher_checktag(hd, data + size - kTagLength, kTagLength) == 0;
  gcry_cipher_close(hd);
  if (ok) return Opened::kOk;
  ring::Wipe(keyFile.bytes.data(), keyFile.bytes.size());
  keyFile.bytes.clear();
  return Opened::kWrongPassphrase;
}

void SetCost(uint32_t passes, uint32_t memoryKiB) {
  newPasses = passes;
  newMemoryKiB = memoryKiB;
}

}  // namespace halvex::keystore::backup
