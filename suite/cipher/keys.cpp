// HKDF-style derivation (HMAC-SHA-256 extract, then one expand block) of the
// slot, body and header-MAC keys. libgcrypt 1.10 has no HKDF of its own.
#include "suite/cipher/keys.h"

#include <array>

namespace halvex::cipher::keys {
namespace {

constexpr std::string_view kSlotLabel = "halvex v1 slot key";
constexpr std::string_view kBodyLabel = "halvex v1 body key";
constexpr std::string_view kHeaderLabel = "halvex v1 header mac";
constexpr uint8_t kFirstBlock[] = {1};

bool Expand(crypto::Bytes prk, std::string_view label, crypto::Bytes context,
            crypto::MutableBytes out) {
  return crypto::HmacSha256(prk, {crypto::AsBytes(label), context, kFirstBlock}, out);
}

// The slot's wrapping key: extract with the file's salt, expand with the
// slot's kind so a key given as a password and as a stored key wrap apart.
bool SlotKey(const format::Header& header, const format::Slot& slot, crypto::Bytes givenKey,
             crypto::MutableBytes out) {
  crypto::SecureBuffer prk(crypto::kSha256Size);
  if (!prk.Ok() || !crypto::HmacSha256(header.salt, {givenKey}, prk.span())) return false;
  uint8_t kind = static_cast<uint8_t>(slot.kind);
  return Expand(prk.view(), kSlotLabel, {&kind, 1}, out);
}

// Every key function refuses key material of the wrong size rather than
// derive from a short (possibly empty, so publicly known) key.
bool IsGivenKey(crypto::Bytes key) { return !key.empty() && key.size() <= kMaxGivenKeySize; }
bool IsFileKey(crypto::Bytes key) { return key.size() == format::kFileKeySize; }

std::array<uint8_t, crypto::kAeadNonceSize> SlotNonce(size_t index) {
  // Each wrapping key seals exactly one message, so a fixed nonce is safe.
  std::array<uint8_t, crypto::kAeadNonceSize> nonce{};
  nonce[0] = static_cast<uint8_t>(index);
  return nonce;
}

}  // namespace

bool WrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
              crypto::Bytes fileKey, format::Slot& slot) {
  if (!IsGivenKey(givenKey) || !IsFileKey(fileKey)) return false;
  crypto::SecureBuffer wrapKey(crypto::kAeadKeySize);
  crypto::Aead aead;
  if (!wrapKey.Ok() || !SlotKey(header, slot, givenKey, wrapKey.span()) ||
      !aead.Init(static_cast<crypto::AeadId>(header.aead), wrapKey.view()))
    return false;
  std::copy(fileKey.begin(), fileKey.end(), slot.wrapped.begin());
  uint8_t kind = static_cast<uint8_t>(slot.kind);
  auto nonce = SlotNonce(index);
  crypto::MutableBytes wrapped(slot.wrapped);
  return aead.Seal(nonce, {&kind, 1}, wrapped.first(format::kFileKeySize),
                   wrapped.subspan(format::kFileKeySize));
}

bool UnwrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
                crypto::MutableBytes fileKey) {
  if (index >= header.slots.size() || !IsGivenKey(givenKey) || !IsFileKey(fileKey)) return false;
  const format::Slot& slot = header.slots[index];
  crypto::SecureBuffer wrapKey(crypto::kAeadKeySize);
  crypto::Aead aead;
  if (!wrapKey.Ok() || !SlotKey(header, slot, givenKey, wrapKey.span()) ||
      !aead.Init(static_cast<crypto::AeadId>(header.aead), wrapKey.view()))
    return false;
  std::copy(slot.wrapped.begin(), slot.wrapped.begin() + format::kFileKeySize, fileKey.begin());
  uint8_t kind = static_cast<uint8_t>(slot.kind);
  auto nonce = SlotNonce(index);
  if (aead.Open(nonce, {&kind, 1}, fileKey,
                crypto::Bytes(slot.wrapped).subspan(format::kFileKeySize)))
    return true;
  crypto::Wipe(fileKey.data(), fileKey.size());
  return false;
}

bool BodyKey(crypto::Bytes fileKey, crypto::MutableBytes out) {
  if (!IsFileKey(fileKey)) return false;
  return Expand(fileKey, kBodyLabel, {}, out);
}

bool HeaderMac(crypto::Bytes fileKey, const format::Header& header, crypto::MutableBytes out) {
  if (!IsFileKey(fileKey)) return false;
  crypto::SecureBuffer macKey(crypto::kSha256Size);
  if (!macKey.Ok() || !Expand(fileKey, kHeaderLabel, {}, macKey.span())) return false;
  std::vector<uint8_t> input = format::MacInput(header);
  return crypto::HmacSha256(macKey.view(), {input}, out);
}

}  // namespace halvex::cipher::keys
