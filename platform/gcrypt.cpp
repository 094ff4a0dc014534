// The process's one start-up of libgcrypt.
#include "platform/gcrypt.h"

#include <gcrypt.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace halvex::platform {
namespace {

// Key material is small (a few keys, the cached transcodings and the cipher
// contexts), so this is ample; auto-expansion covers hosts that hold more.
constexpr size_t kSecureMemorySize = 256 * 1024;
constexpr const char* kMinimumVersion = "1.10.0";

// libgcrypt's notes (on Windows, one about disk statistics at every draw of
// random bytes) would reach a host's stderr, which the library leaves to the
// host; its errors still go there.
void LogErrorsOnly(void*, int level, const char* format, va_list args) {
  if (level < GCRY_LOG_ERROR) return;
  std::vfprintf(stderr, format, args);
}

bool InitialiseOnce() {
  // The kernel's generator rather than libgcrypt's own pool: the pool polls
  // for entropy on every request, a dozen system calls per file in a batch.
  // Only heeded before the version check.
  gcry_control(GCRYCTL_SET_PREFERRED_RNG_TYPE, GCRY_RNG_TYPE_SYSTEM);
  if (!gcry_check_version(kMinimumVersion)) return false;
  if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return true;
  gcry_set_log_handler(LogErrorsOnly, nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM_WARN);
  gcry_control(GCRYCTL_INIT_SECMEM, kSecureMemorySize, 0);
  gcry_control(GCRYCTL_AUTO_EXPAND_SECMEM, kSecureMemorySize, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return true;
}

}  // namespace

bool InitialiseGcrypt() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = InitialiseOnce(); });
  return ok;
}

void RandomBytes(void* out, size_t size) {
  InitialiseGcrypt();
  // The system generator serves every level alike; a nonce from it costs one
  // read of the kernel's generator, as a key does.
  gcry_randomize(out, size, GCRY_STRONG_RANDOM);
}

}  // namespace halvex::platform
