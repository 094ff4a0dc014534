// Argon2id password transcoding with a one-entry cache in secure memory, so a
// batch that decrypts many files with one password derives its key once.
#include "suite/cipher/kdf.h"

#include <gcrypt.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>

namespace halvex::cipher {
namespace {

// Transcoding has no per-file context, so the salt is fixed; each file then
// mixes its own random salt in when it derives its slot key.
constexpr std::string_view kApplicationSalt = "halvex password transcoding v1";

struct CacheEntry {
  bool valid;
  uint8_t processSecret[32];  // keys the fingerprint: no plain password hash is kept
  uint8_t fingerprint[32];
  KdfParams params;
  uint32_t keyLen;
  uint8_t key[kdf::kMaxKeyLen];
};

std::mutex cacheMutex;
CacheEntry* cache = nullptr;  // secure memory, allocated on first use
KdfParams currentParams = kDefaultKdfParams;
std::atomic<uint64_t> kdfRuns{0};

CacheEntry* Cache() {
  if (!cache) {
    cache = static_cast<CacheEntry*>(gcry_calloc_secure(1, sizeof(CacheEntry)));
    if (cache) crypto::StrongRandom({cache->processSecret, sizeof cache->processSecret});
  }
  return cache;
}

// The password as UTF-8 in secure memory.
crypto::SecureBuffer Utf8(WStringView password) {
  std::string text = platform::ToUtf8(password);
  crypto::SecureBuffer out(text.size());
  if (out.Ok() && !text.empty()) std::memcpy(out.data(), text.data(), text.size());
  crypto::Wipe(text.data(), text.size());
  return out;
}

bool Argon2id(crypto::Bytes password, const KdfParams& p, crypto::MutableBytes out) {
  unsigned long params[4] = {static_cast<unsigned long>(out.size()), p.passes, p.memoryKiB, p.lanes};
  gcry_kdf_hd_t hd = nullptr;
  if (gcry_kdf_open(&hd, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, password.data(),
                    password.size(), kApplicationSalt.data(), kApplicationSalt.size(), nullptr,
                    0, nullptr, 0))
    return false;
  bool ok = gcry_kdf_compute(hd, nullptr) == 0 && gcry_kdf_final(hd, out.size(), out.data()) == 0;
  gcry_kdf_close(hd);
  ++kdfRuns;
  return ok;
}

bool ValidParams(const KdfParams& p) {
  // Argon2 needs at least 8 KiB per lane; the ceiling keeps a forged header
  // from making us allocate gigabytes.
  return p.passes >= 1 && p.passes <= 64 && p.lanes >= 1 && p.lanes <= 16 &&
         p.memoryKiB >= 8 * p.lanes && p.memoryKiB <= 1024 * 1024;
}

}  // namespace

uint32_t kdf::Transcode(WStringView password, const KdfParams& params, uint32_t keyLen,
                        crypto::SecureBuffer& key) {
  if (password.empty()) return ZQCA_ERR_EMPTY_PASSWORD;
  if (keyLen == 0 || keyLen > kMaxKeyLen) return ZQCA_ERR_ARGUMENT;
  if (!ValidParams(params)) return ZQCA_ERR_KDF;
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  crypto::SecureBuffer utf8 = Utf8(password);
  crypto::SecureBuffer fingerprint(crypto::kSha256Size);
  key = crypto::SecureBuffer(keyLen);
  if (!utf8.Ok() || !fingerprint.Ok() || !key.Ok()) return ZQCA_ERR_NO_MEMORY;

  std::lock_guard lock(cacheMutex);
  CacheEntry* entry = Cache();
  if (!entry) return ZQCA_ERR_NO_MEMORY;
  if (!crypto::HmacSha256({entry->processSecret, sizeof entry->processSecret}, {utf8.view()},
                          fingerprint.span()))
    return ZQCA_ERR_KDF;
  if (entry->valid && entry->params == params && entry->keyLen == keyLen &&
      crypto::Equal(fingerprint.view(), {entry->fingerprint, sizeof entry->fingerprint})) {
    std::memcpy(key.data(), entry->key, keyLen);
    return ZQCA_OK;
  }
  if (!Argon2id(utf8.view(), params, key.span())) return ZQCA_ERR_KDF;
  entry->valid = true;
  std::memcpy(entry->fingerprint, fingerprint.data(), sizeof entry->fingerprint);
  entry->params = params;
  entry->keyLen = keyLen;
  std::memcpy(entry->key, key.data(), keyLen);
  return ZQCA_OK;
}

KdfParams kdf::ParamsForKey(crypto::Bytes key) {
  std::lock_guard lock(cacheMutex);
  if (cache && cache->valid && crypto::Equal(key, {cache->key, cache->keyLen}))
    return cache->params;
  return currentParams;
}

KdfParams CurrentKdfParams() {
  std::lock_guard lock(cacheMutex);
  return currentParams;
}

void SetKdfParams(KdfParams params) {
  std::lock_guard lock(cacheMutex);
  currentParams = params;
}

uint64_t KdfRunCount() { return kdfRuns.load(); }

void ClearTranscodeCache() {
  std::lock_guard lock(cacheMutex);
  if (cache) {
    crypto::Wipe(cache->fingerprint, sizeof cache->fingerprint);
    crypto::Wipe(cache->key, sizeof cache->key);
    cache->valid = false;
  }
}

uint32_t TranscodePassword(WStringView password, uint32_t keyLen, BYTE** key) {
  if (!key) return ZQCA_ERR_ARGUMENT;
  *key = nullptr;
  crypto::SecureBuffer out;
  uint32_t code = kdf::Transcode(password, CurrentKdfParams(), keyLen, out);
  if (code == ZQCA_OK) *key = out.Release();
  return code;
}

void FreeSecure(void* p) {
  if (p) gcry_free(p);
}

}  // namespace halvex::cipher
