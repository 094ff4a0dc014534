// The cipher library's C interface (suite/zqca.h), forwarding to the C++ one.
// No exception may cross it: a failed allocation becomes a code.
#include <new>
#include <vector>

#include "halvex/host.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"
#include "suite/keystore/keystore.h"

using namespace halvex::cipher;

extern "C" {

BYTE* ZQCA_PasswordTranscodeW(const WCHAR* password, uint32_t length, uint32_t keyLen,
                              uint32_t* error) {
  uint32_t code = ZQCA_ERR_ARGUMENT;
  BYTE* key = nullptr;
  try {
    if (password || length == 0)
      code = TranscodePassword(password ? WStringView(password, length) : WStringView(), keyLen,
                               &key);
  } catch (const std::bad_alloc&) {
    code = ZQCA_ERR_NO_MEMORY;
  }
  if (error) *error = code;
  return key;
}

uint32_t ZQCA_DualPasswordFileEncryptW(const WCHAR* source, WCHAR* destination,
                                       const BYTE* firstKey, const BYTE* secondKey,
                                       uint32_t keyLen, bool selfExtract,
                                       ZQCA_ProgressProc progress) {
  try {
    return EncryptFile(source, destination, firstKey, secondKey, keyLen, selfExtract, progress);
  } catch (const std::bad_alloc&) {
    return ZQCA_ERR_NO_MEMORY;
  }
}

uint32_t ZQCA_DualPasswordFileDecryptW(const WCHAR* source, const WCHAR* folder,
                                       const WCHAR* password, uint32_t passwordLength,
                                       const BYTE* secondKey, uint32_t keyLen, WCHAR* output,
                                       BYTE* flag, ZQCA_ProgressProc progress) {
  try {
    // The batch hands over one stored key; the user's others are in the ring.
    SetStoredKeySource(&halvex::keystore::RingKey);
    return DecryptFile(source, folder, password, passwordLength, secondKey, keyLen, output, flag,
                       progress);
  } catch (const std::bad_alloc&) {
    return ZQCA_ERR_NO_MEMORY;
  }
}

bool ZQCA_CheckEncryptedFileW(const WCHAR* path) {
  try {
    return IsEncrypted(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool ZQCA_CheckSelfExtractEncryptedFile(const WCHAR* path) {
  try {
    return IsSelfExtracting(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

uint32_t ZQCA_LockFileW(const WCHAR* path) {
  try {
    return Lock(path);
  } catch (const std::bad_alloc&) {
    return ZQCA_ERR_NO_MEMORY;
  }
}

bool ZQCA_CheckLockedFileW(const WCHAR* path) {
  try {
    return IsLocked(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void ZQCA_FreeMemory(void* p) { FreeSecure(p); }

// The host controls of the recipients (include/halvex/host.h).
int HalvexSetRecipients(const char* const* lines, size_t count, int only) {
  if ((count > 0 && !lines) || (only != HALVEX_RECIPIENTS_ALSO && only != HALVEX_RECIPIENTS_ONLY) ||
      count > kMaxRecipients)
    return HALVEX_INVALID_ARGUMENT;
  try {
    std::vector<X25519Key> keys;
    for (size_t i = 0; i < count; ++i) {
      auto key = lines[i] ? ParseRecipient(lines[i]) : std::nullopt;
      if (!key) return HALVEX_INVALID_ARGUMENT;
      keys.push_back(*key);
    }
    return SetRecipients(keys, only == HALVEX_RECIPIENTS_ONLY) ? HALVEX_OK : HALVEX_INVALID_ARGUMENT;
  } catch (const std::bad_alloc&) {
    return HALVEX_NO_MEMORY;
  }
}

int HalvexAddIdentity(const char* line) {
  auto identity = line ? ParseIdentity(line) : std::nullopt;
  if (!identity) return HALVEX_INVALID_ARGUMENT;
  try {
    const bool added = AddIdentity(*identity);
    crypto::Wipe(identity->data(), identity->size());
    return added ? HALVEX_OK : HALVEX_INVALID_ARGUMENT;
  } catch (const std::bad_alloc&) {
    crypto::Wipe(identity->data(), identity->size());
    return HALVEX_NO_MEMORY;
  }
}

void HalvexClearIdentities(void) { ClearIdentities(); }

}  // extern "C"
