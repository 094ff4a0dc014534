// The recipients new files are encrypted to and the identities decryption
// tries, as the host set them (cipher.h), for the writer and the reader.
#pragma once

#include <functional>
#include <vector>

#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"

namespace halvex::cipher::recipients {

struct Plan {
  std::vector<X25519Key> keys;
  bool only = false;  // no slot but the recipients'
};
Plan Current();

// Calls tryOne with each identity and its public key until it returns true;
// says whether one did. The identities stay locked meanwhile.
bool AnyIdentity(const std::function<bool(crypto::Bytes identity, crypto::Bytes publicKey)>& tryOne);

}  // namespace halvex::cipher::recipients
