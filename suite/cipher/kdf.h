// Password transcoding inside the library: Argon2id over the password's
// UTF-8, with a few recent results cached in secure memory.
#pragma once

#include <array>
#include <cstdint>

#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"

namespace halvex::cipher::kdf {

constexpr uint32_t kMaxKeyLen = 64;
// A transcoding's own random salt; format version 1 used one fixed salt.
constexpr size_t kSaltSize = 16;
using Salt = std::array<uint8_t, kSaltSize>;

// What a key handed out by TranscodePassword was made with: encryption
// records it in the file, so the password alone derives the key again.
struct Recipe {
  KdfParams params;
  Salt salt;
};

// Whether a file may ask for these parameters. Checked before any derivation,
// so a hostile header (whose MAC is checked only after a key opened a slot)
// cannot make a reader spend gigabytes or minutes.
bool WithinLimits(const KdfParams& params);

// keyLen bytes for password under params and salt (an empty salt: format
// version 1's fixed one), from the cache when it holds them. Returns a ZQCA_* code.
uint32_t Transcode(WStringView password, crypto::Bytes salt, const KdfParams& params,
                   uint32_t keyLen, crypto::SecureBuffer& key);

// The recipe of key when it is a transcoding TranscodePassword handed out and
// has not been freed; false for any other key.
bool RecipeForKey(crypto::Bytes key, Recipe& recipe);

}  // namespace halvex::cipher::kdf
