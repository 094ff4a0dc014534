// Password transcoding inside the library: Argon2id with one cached result.
#pragma once

#include <cstdint>

#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"

namespace halvex::cipher::kdf {

constexpr uint32_t kMaxKeyLen = 64;

// keyLen bytes for password under params, from the cache when the last
// transcoding was of the same password, parameters and length.
// Returns a ZQCA_* code.
uint32_t Transcode(WStringView password, const KdfParams& params, uint32_t keyLen,
                   crypto::SecureBuffer& key);

// The parameters a key handed out by Transcode was made with, when key is the
// cached one; otherwise the current parameters. Encryption records them in
// the password slot it seals with that key.
KdfParams ParamsForKey(crypto::Bytes key);

}  // namespace halvex::cipher::kdf
