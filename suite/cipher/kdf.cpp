// Argon2id password transcoding. Each transcoding handed to a caller gets a
// random salt, remembered beside its key until the caller frees it, so that
// encryption can record it in every file the key wraps. A few results are
// cached, so a batch that decrypts many files made with one transcoding
// derives its key once.
#include "suite/cipher/kdf.h"

#include <gcrypt.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace halvex::cipher {
namespace {

// Format version 1 transcoded every password with this one salt.
constexpr std::string_view kVersion1Salt = "halvex password transcoding v1";
constexpr size_t kMaxSaltSize = 32;
// Handed-out keys plus what decryption derived: a host holds one or two keys
// at a time; more are forgotten oldest first.
constexpr size_t kCacheEntries = 8;

// The ceiling a file may ask for: twice the memory and four times the work of
// the default, a few seconds here at worst. Argon2 needs 8 KiB per lane.
constexpr uint32_t kMaxMemoryKiB = 2 * kDefaultKdfParams.memoryKiB;
constexpr uint64_t kMaxWork = 4ull * kDefaultKdfParams.passes * kDefaultKdfParams.memoryKiB;
constexpr uint32_t kMaxPasses = 4 * kDefaultKdfParams.passes;
constexpr uint32_t kMaxLanes = 8;

struct CacheEntry {
  bool valid;
  const void* handedOut;  // the caller's copy, while it holds one; else null
  uint64_t lastUse;
  uint8_t fingerprint[32];  // keyed by the process secret: no plain password hash
  KdfParams params;
  uint8_t salt[kMaxSaltSize];
  uint32_t saltLen;
  uint32_t keyLen;
  uint8_t key[kdf::kMaxKeyLen];
};

struct Cache {
  uint8_t processSecret[32];
  uint64_t clock;
  CacheEntry entries[kCacheEntries];
};

std::mutex cacheMutex;
Cache* cache = nullptr;  // secure memory, allocated on first use
KdfParams currentParams = kDefaultKdfParams;
std::atomic<uint64_t> kdfRuns{0};

Cache* GetCache() {
  if (!cache) {
    cache = static_cast<Cache*>(gcry_calloc_secure(1, sizeof(Cache)));
    if (cache) crypto::StrongRandom({cache->processSecret, sizeof cache->processSecret});
  }
  return cache;
}

void Forget(CacheEntry& entry) { crypto::Wipe(&entry, sizeof entry); }

// A free entry, else the one used longest ago, preferring those no caller holds.
CacheEntry& EntryToFill(Cache& c) {
  CacheEntry* pick = nullptr;
  for (CacheEntry& e : c.entries) {
    if (!e.valid) return e;
    bool better = !pick || (!e.handedOut && pick->handedOut) ||
                  (!e.handedOut == !pick->handedOut && e.lastUse < pick->lastUse);
    if (better) pick = &e;
  }
  Forget(*pick);
  return *pick;
}

// The password as UTF-8, written straight into secure memory: no ordinary
// buffer ever holds it, so no copy is left behind in freed memory.
crypto::SecureBuffer Utf8(WStringView password) {
  crypto::SecureBuffer out(platform::EncodeUtf8(password, nullptr));
  if (out.Ok()) platform::EncodeUtf8(password, out.data());
  return out;
}

// libgcrypt hands out one job per lane for each segment of the memory and
// waits for them all before the next: each job gets a thread of its own. A
// job whose thread cannot be started runs at once on the caller's.
struct LaneThreads {
  std::vector<std::thread> running;

  static int Dispatch(void* context, gcry_kdf_job_fn_t job, void* data) {
    auto* self = static_cast<LaneThreads*>(context);
    try {
      self->running.emplace_back(job, data);
    } catch (const std::system_error&) {
      job(data);
    }
    return 0;
  }

  static int WaitAll(void* context) {
    auto* self = static_cast<LaneThreads*>(context);
    for (std::thread& t : self->running) t.join();
    self->running.clear();
    return 0;
  }

  // A computation that gave up between dispatching and waiting still has
  // its jobs joined before their data goes.
  ~LaneThreads() { WaitAll(this); }
};

bool Argon2id(crypto::Bytes password, crypto::Bytes salt, const KdfParams& p, crypto::MutableBytes out) {
  unsigned long params[4] = {static_cast<unsigned long>(out.size()), p.passes, p.memoryKiB, p.lanes};
  gcry_kdf_hd_t hd = nullptr;
  if (gcry_kdf_open(&hd, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, password.data(), password.size(),
                    salt.data(), salt.size(), nullptr, 0, nullptr, 0))
    return false;
  // One lane has nothing to overlap with: it runs on the caller's thread.
  LaneThreads lanes;
  const gcry_kdf_thread_ops_t ops{&lanes, LaneThreads::Dispatch, LaneThreads::WaitAll};
  bool ok = gcry_kdf_compute(hd, p.lanes > 1 ? &ops : nullptr) == 0 && gcry_kdf_final(hd, out.size(), out.data()) == 0;
  gcry_kdf_close(hd);
  ++kdfRuns;
  return ok;
}

bool SameSalt(const CacheEntry& e, crypto::Bytes salt) {
  return e.saltLen == salt.size() && std::memcmp(e.salt, salt.data(), salt.size()) == 0;
}

// Derives (or finds) the key. handOut: a fresh derivation whose entry
// belongs to the key, which the caller hands out as it is.
uint32_t Derive(WStringView password, crypto::Bytes salt, const KdfParams& params, uint32_t keyLen,
                crypto::SecureBuffer& key, bool handOut) {
  if (password.empty()) return ZQCA_ERR_EMPTY_PASSWORD;
  if (keyLen == 0 || keyLen > kdf::kMaxKeyLen || salt.size() > kMaxSaltSize) return ZQCA_ERR_ARGUMENT;
  if (!kdf::WithinLimits(params)) return ZQCA_ERR_KDF;
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  crypto::SecureBuffer utf8 = Utf8(password);
  crypto::SecureBuffer fingerprint(crypto::kSha256Size);
  key = crypto::SecureBuffer(keyLen);
  if (!utf8.Ok() || !fingerprint.Ok() || !key.Ok()) return ZQCA_ERR_NO_MEMORY;

  std::lock_guard lock(cacheMutex);
  Cache* c = GetCache();
  if (!c) return ZQCA_ERR_NO_MEMORY;
  if (!crypto::HmacSha256({c->processSecret, sizeof c->processSecret}, {utf8.view()}, fingerprint.span()))
    return ZQCA_ERR_KDF;
  if (!handOut) {
    for (CacheEntry& e : c->entries) {
      if (e.valid && e.params == params && e.keyLen == keyLen && SameSalt(e, salt) &&
          crypto::Equal(fingerprint.view(), {e.fingerprint, sizeof e.fingerprint})) {
        std::memcpy(key.data(), e.key, keyLen);
        e.lastUse = ++c->clock;
        return ZQCA_OK;
      }
    }
  }
  if (!Argon2id(utf8.view(), salt, params, key.span())) return ZQCA_ERR_KDF;
  CacheEntry& e = EntryToFill(*c);
  e.valid = true;
  e.lastUse = ++c->clock;
  std::memcpy(e.fingerprint, fingerprint.data(), sizeof e.fingerprint);
  e.params = params;
  std::memcpy(e.salt, salt.data(), salt.size());
  e.saltLen = static_cast<uint32_t>(salt.size());
  e.keyLen = keyLen;
  std::memcpy(e.key, key.data(), keyLen);
  e.handedOut = handOut ? key.data() : nullptr;
  return ZQCA_OK;
}

crypto::Bytes SaltOrVersion1(crypto::Bytes salt) { return salt.empty() ? crypto::AsBytes(kVersion1Salt) : salt; }

}  // namespace

bool kdf::WithinLimits(const KdfParams& p) {
  return p.passes >= 1 && p.passes <= kMaxPasses && p.lanes >= 1 && p.lanes <= kMaxLanes && p.memoryKiB >= 8 * p.lanes &&
         p.memoryKiB <= kMaxMemoryKiB && static_cast<uint64_t>(p.passes) * p.memoryKiB <= kMaxWork;
}

uint32_t kdf::Transcode(WStringView password, crypto::Bytes salt, const KdfParams& params,
                        uint32_t keyLen, crypto::SecureBuffer& key) {
  return Derive(password, SaltOrVersion1(salt), params, keyLen, key, false);
}

bool kdf::RecipeForKey(crypto::Bytes key, Recipe& recipe) {
  std::lock_guard lock(cacheMutex);
  if (!cache) return false;
  for (const CacheEntry& e : cache->entries) {
    if (e.valid && e.handedOut && e.saltLen == kSaltSize && crypto::Equal(key, {e.key, e.keyLen})) {
      recipe.params = e.params;
      std::memcpy(recipe.salt.data(), e.salt, kSaltSize);
      return true;
    }
  }
  return false;
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
  if (cache)
    for (CacheEntry& e : cache->entries) Forget(e);
}

uint32_t TranscodePassword(WStringView password, uint32_t keyLen, BYTE** key) {
  if (!key) return ZQCA_ERR_ARGUMENT;
  *key = nullptr;
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  kdf::Salt salt;
  crypto::StrongRandom(salt);
  crypto::SecureBuffer out;
  uint32_t code = Derive(password, salt, CurrentKdfParams(), keyLen, out, true);
  if (code == ZQCA_OK) *key = out.Release();
  return code;
}

// The caller is done with its transcoding: the copy kept beside it goes, and
// so does whatever decryption derived from the same password, so no key of a
// finished batch stays in memory.
void FreeSecure(void* p) {
  if (!p) return;
  {
    std::lock_guard lock(cacheMutex);
    if (cache) {
      const CacheEntry* freed = nullptr;
      for (const CacheEntry& e : cache->entries)
        if (e.valid && e.handedOut == p) freed = &e;
      if (freed) {
        uint8_t fingerprint[sizeof freed->fingerprint];
        std::memcpy(fingerprint, freed->fingerprint, sizeof fingerprint);
        for (CacheEntry& e : cache->entries)
          if (e.valid && std::memcmp(e.fingerprint, fingerprint, sizeof fingerprint) == 0 &&
              (!e.handedOut || e.handedOut == p))
            Forget(e);
        crypto::Wipe(fingerprint, sizeof fingerprint);
      }
    }
  }
  gcry_free(p);
}

}  // namespace halvex::cipher
