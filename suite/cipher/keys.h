// Key schedule of one encrypted file: slot wrapping of the file key and the
// subkeys derived from it.
#pragma once

#include "suite/cipher/crypto.h"
#include "suite/cipher/format.h"

namespace halvex::cipher::keys {

// The longest key a caller may give (a transcoded password or a stored key).
constexpr size_t kMaxGivenKeySize = 64;

// Seals fileKey into slot under a key derived from givenKey and the header's salt.
bool WrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
              crypto::Bytes fileKey, format::Slot& slot);
// Recovers the file key from the slot; false when givenKey does not open it.
bool UnwrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
                crypto::MutableBytes fileKey);

// A recipient slot (kind 3): the file key sealed under a key both sides
// derive from X25519 of the ephemeral key and the recipient's public key.
// The writer draws ephemeralSecret fresh for each slot.
bool WrapRecipientSlot(const format::Header& header, size_t index, crypto::Bytes recipient,
                       crypto::Bytes ephemeralSecret, crypto::Bytes fileKey, format::Slot& slot);
// With the identity (private key) and its public key; false when the slot
// is no recipient slot or the identity does not open it.
bool UnwrapRecipientSlot(const format::Header& header, size_t index, crypto::Bytes identity,
                         crypto::Bytes identityPublic, crypto::MutableBytes fileKey);

// The AEAD key of the chunks and the header MAC key, both from the file key.
bool BodyKey(crypto::Bytes fileKey, crypto::MutableBytes out);
// aead keyed with the body key, for the header's AEAD: a ZQCA code
// (ZQCA_ERR_NO_MEMORY when the secure pool is full, ZQCA_ERR_KDF otherwise).
uint32_t BodyAead(crypto::Bytes fileKey, const format::Header& header, crypto::Aead& aead);
bool HeaderMac(crypto::Bytes fileKey, const format::Header& header, crypto::MutableBytes out);

// The header's sealed attributes, under the body key (version 2 on).
bool SealAttributes(crypto::Bytes fileKey, format::Header& header, const format::Attributes& attributes);
// False when they do not authenticate.
bool OpenAttributes(crypto::Bytes fileKey, const format::Header& header, format::Attributes& attributes);

// The short identifier of a key store, recorded in the files its key opens:
// the first four bytes of SHA-256("halvex key store id" || key), big-endian,
// never 0 (which means "no key store"). The key store computes the same.
uint32_t KeyStoreId(crypto::Bytes storedKey);

}  // namespace halvex::cipher::keys
