// HKDF-style derivation (HMAC-SHA-256 extract, then one expand block) of the
// slot, body and header-MAC keys. libgcrypt 1.10 has no HKDF of its own.
#include "suite/cipher/keys.h"

#include <array>

namespace halvex::cipher::keys {
namespace {

constexpr std::string_view kSlotLabel = "halvex v1 slot key";
constexpr std::string_view kBodyLabel = "halvex v1 body key";
constexpr std::string_view kHeaderLabel = "halvex v1 header mac";
constexpr std::string_view kKeyStoreIdLabel = "halvex key store id";
constexpr std::string_view kRecipientLabel = "halvex v3 recipient";
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

// Seals and opens a slot's file key under its wrapping key, whatever kind.
bool SealSlot(const format::Header& header, size_t index, crypto::Bytes wrapKey, crypto::Bytes fileKey,
              format::Slot& slot) {
  crypto::Aead aead;
  if (!aead.Init(static_cast<crypto::AeadId>(header.aead), wrapKey)) return false;
  std::copy(fileKey.begin(), fileKey.end(), slot.wrapped.begin());
  uint8_t kind = static_cast<uint8_t>(slot.kind);
  auto nonce = SlotNonce(index);
  crypto::MutableBytes wrapped(slot.wrapped);
  return aead.Seal(nonce, {&kind, 1}, wrapped.first(format::kFileKeySize),
                   wrapped.subspan(format::kFileKeySize));
}

bool OpenSlot(const format::Header& header, size_t index, crypto::Bytes wrapKey, crypto::MutableBytes fileKey) {
  const format::Slot& slot = header.slots[index];
  crypto::Aead aead;
  if (!aead.Init(static_cast<crypto::AeadId>(header.aead), wrapKey)) return false;
  std::copy(slot.wrapped.begin(), slot.wrapped.begin() + format::kFileKeySize, fileKey.begin());
  uint8_t kind = static_cast<uint8_t>(slot.kind);
  auto nonce = SlotNonce(index);
  if (aead.Open(nonce, {&kind, 1}, fileKey, crypto::Bytes(slot.wrapped).subspan(format::kFileKeySize)))
    return true;
  crypto::Wipe(fileKey.data(), fileKey.size());
  return false;
}

// HKDF-SHA-256 over the X25519 shared secret, salted with both public keys:
// the wrapping key then belongs to this ephemeral key and this recipient
// alone, so a slot cannot be passed off as made for another key.
bool RecipientKey(crypto::Bytes shared, crypto::Bytes ephemeral, crypto::Bytes recipient,
                  crypto::MutableBytes out) {
  std::array<uint8_t, 2 * format::kX25519Size> salt;
  std::copy(ephemeral.begin(), ephemeral.end(), salt.begin());
  std::copy(recipient.begin(), recipient.end(), salt.begin() + format::kX25519Size);
  crypto::SecureBuffer prk(crypto::kSha256Size);
  if (!prk.Ok() || !crypto::HmacSha256(salt, {shared}, prk.span())) return false;
  const uint8_t kind = static_cast<uint8_t>(format::SlotKind::kRecipient);
  return Expand(prk.view(), kRecipientLabel, {&kind, 1}, out);
}

}  // namespace

bool WrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
              crypto::Bytes fileKey, format::Slot& slot) {
  if (!IsGivenKey(givenKey) || !IsFileKey(fileKey) || slot.kind == format::SlotKind::kRecipient) return false;
  crypto::SecureBuffer wrapKey(crypto::kAeadKeySize);
  return wrapKey.Ok() && SlotKey(header, slot, givenKey, wrapKey.span()) &&
         SealSlot(header, index, wrapKey.view(), fileKey, slot);
}

bool UnwrapSlot(const format::Header& header, size_t index, crypto::Bytes givenKey,
                crypto::MutableBytes fileKey) {
  if (index >= header.slots.size() || !IsGivenKey(givenKey) || !IsFileKey(fileKey) ||
      header.slots[index].kind == format::SlotKind::kRecipient)
    return false;
  crypto::SecureBuffer wrapKey(crypto::kAeadKeySize);
  return wrapKey.Ok() && SlotKey(header, header.slots[index], givenKey, wrapKey.span()) &&
         OpenSlot(header, index, wrapKey.view(), fileKey);
}

bool WrapRecipientSlot(const format::Header& header, size_t index, crypto::Bytes recipient,
                       crypto::Bytes ephemeralSecret, crypto::Bytes fileKey, format::Slot& slot) {
  if (!IsFileKey(fileKey) || slot.kind != format::SlotKind::kRecipient) return false;
  crypto::SecureBuffer shared(crypto::kX25519Size), wrapKey(crypto::kAeadKeySize);
  return shared.Ok() && wrapKey.Ok() && crypto::X25519(ephemeralSecret, {}, slot.ephemeral) &&
         crypto::X25519(ephemeralSecret, recipient, shared.span()) &&
         RecipientKey(shared.view(), slot.ephemeral, recipient, wrapKey.span()) &&
         SealSlot(header, index, wrapKey.view(), fileKey, slot);
}

bool UnwrapRecipientSlot(const format::Header& header, size_t index, crypto::Bytes identity,
                         crypto::Bytes identityPublic, crypto::MutableBytes fileKey) {
  if (index >= header.slots.size() || !IsFileKey(fileKey) ||
      header.slots[index].kind != format::SlotKind::kRecipient)
    return false;
  const format::Slot& slot = header.slots[index];
  crypto::SecureBuffer shared(crypto::kX25519Size), wrapKey(crypto::kAeadKeySize);
  return shared.Ok() && wrapKey.Ok() && crypto::X25519(identity, slot.ephemeral, shared.span()) &&
         RecipientKey(shared.view(), slot.ephemeral, identityPublic, wrapKey.span()) &&
         OpenSlot(header, index, wrapKey.view(), fileKey);
}

bool BodyKey(crypto::Bytes fileKey, crypto::MutableBytes out) {
  if (!IsFileKey(fileKey)) return false;
  return Expand(fileKey, kBodyLabel, {}, out);
}

uint32_t BodyAead(crypto::Bytes fileKey, const format::Header& header, crypto::Aead& aead) {
  crypto::SecureBuffer bodyKey(crypto::kAeadKeySize);
  if (!bodyKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  return BodyKey(fileKey, bodyKey.span()) && aead.Init(static_cast<crypto::AeadId>(header.aead), bodyKey.view())
             ? ZQCA_OK
             : ZQCA_ERR_KDF;
}

bool HeaderMac(crypto::Bytes fileKey, const format::Header& header, crypto::MutableBytes out) {
  if (!IsFileKey(fileKey)) return false;
  crypto::SecureBuffer macKey(crypto::kSha256Size);
  if (!macKey.Ok() || !Expand(fileKey, kHeaderLabel, {}, macKey.span())) return false;
  std::vector<uint8_t> input = format::MacInput(header);
  return crypto::HmacSha256(macKey.view(), {input}, out);
}

namespace {



void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool SealAttributes(crypto::Bytes fileKey, format::Header& header, const format::Attributes& attributes) {
  crypto::Aead aead;
  if (BodyAead(fileKey, header, aead) != ZQCA_OK) return false;
  uint8_t* plain = header.sealedAttributes.data();
  PutU32(plain, attributes.hasMode ? format::kRecordedMode : 0);
  PutU32(plain + 4, attributes.hasMode ? attributes.mode & 0777 : 0);
  auto nonce = format::SideNonce(header, 2);
  crypto::MutableBytes sealed(header.sealedAttributes);
  return aead.Seal(nonce, {}, sealed.first(format::kAttributesPlainSize),
                   sealed.subspan(format::kAttributesPlainSize));
}

bool OpenAttributes(crypto::Bytes fileKey, const format::Header& header, format::Attributes& attributes) {
  crypto::Aead aead;
  if (BodyAead(fileKey, header, aead) != ZQCA_OK) return false;
  std::array<uint8_t, format::kAttributesPlainSize> plain;
  auto nonce = format::SideNonce(header, 2);
  crypto::Bytes sealed(header.sealedAttributes);
  if (!aead.Open(nonce, {}, sealed.first(format::kAttributesPlainSize), plain,
                 sealed.subspan(format::kAttributesPlainSize)))
    return false;
  attributes.hasMode = (GetU32(plain.data()) & format::kRecordedMode) != 0;
  attributes.mode = GetU32(plain.data() + 4) & 0777;
  return true;
}

uint32_t KeyStoreId(crypto::Bytes storedKey) {
  crypto::SecureBuffer input(kKeyStoreIdLabel.size() + storedKey.size());
  if (!input.Ok()) return 0;
  std::copy(kKeyStoreIdLabel.begin(), kKeyStoreIdLabel.end(), input.data());
  std::copy(storedKey.begin(), storedKey.end(), input.data() + kKeyStoreIdLabel.size());
  std::array<uint8_t, crypto::kSha256Size> digest;
  crypto::Sha256(input.view(), digest);
  uint32_t id = (static_cast<uint32_t>(digest[0]) << 24) | (digest[1] << 16) | (digest[2] << 8) | digest[3];
  return id == 0 ? 1 : id;
}

}  // namespace halvex::cipher::keys
