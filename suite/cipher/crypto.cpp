// libgcrypt start-up and the small wrappers the rest of the library uses.
#include "suite/cipher/crypto.h"

#include <gcrypt.h>

#include <cstring>

#include "platform/gcrypt.h"

namespace halvex::cipher::crypto {
namespace {

// libgcrypt works in place only when told so with a null input.
const void* InputOrInPlace(Bytes in, MutableBytes out) {
  return in.data() == out.data() ? nullptr : in.data();
}
size_t InputSize(Bytes in, MutableBytes out) { return in.data() == out.data() ? 0 : in.size(); }

}  // namespace

bool EnsureInitialised() { return platform::InitialiseGcrypt(); }

void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

SecureBuffer::SecureBuffer(size_t size) : size_(size) {
  if (size == 0) return;
  data_ = static_cast<uint8_t*>(gcry_malloc_secure(size));
  if (!data_) {
    size_ = 0;
    failed_ = true;
  }
}

SecureBuffer::~SecureBuffer() {
  if (data_) gcry_free(data_);  // secure memory is wiped when freed
}

SecureBuffer::SecureBuffer(SecureBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), failed_(other.failed_) {
  other.data_ = nullptr;
  other.size_ = 0;
  other.failed_ = false;
}

SecureBuffer& SecureBuffer::operator=(SecureBuffer&& other) noexcept {
  if (this != &other) {
    if (data_) gcry_free(data_);
    data_ = other.data_;
    size_ = other.size_;
    failed_ = other.failed_;
    other.data_ = nullptr;
    other.size_ = 0;
    other.failed_ = false;
  }
  return *this;
}

uint8_t* SecureBuffer::Release() {
  uint8_t* p = data_;
  data_ = nullptr;
  size_ = 0;
  return p;
}

void StrongRandom(MutableBytes out) { platform::RandomBytes(out.data(), out.size()); }

void NonceRandom(MutableBytes out) { platform::RandomBytes(out.data(), out.size()); }

void Sha256(Bytes data, MutableBytes out) {
  gcry_md_hash_buffer(GCRY_MD_SHA256, out.data(), data.data(), data.size());
}

bool HmacSha256(Bytes key, std::initializer_list<Bytes> parts, MutableBytes out) {
  if (out.size() != kSha256Size || key.empty()) return false;
  gcry_md_hd_t md = nullptr;
  if (gcry_md_open(&md, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC | GCRY_MD_FLAG_SECURE)) return false;
  bool ok = gcry_md_setkey(md, key.data(), key.size()) == 0;
  if (ok) {
    for (Bytes part : parts) gcry_md_write(md, part.data(), part.size());
    const unsigned char* digest = gcry_md_read(md, GCRY_MD_SHA256);
    ok = digest != nullptr;
    if (ok) std::memcpy(out.data(), digest, kSha256Size);
  }
  gcry_md_close(md);
  return ok;
}

bool Equal(Bytes a, Bytes b) {
  if (a.size() != b.size()) return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= a[i] ^ b[i];
  return diff == 0;
}

bool X25519(Bytes scalar, Bytes point, MutableBytes out) {
  if (scalar.size() != kX25519Size || (!point.empty() && point.size() != kX25519Size) ||
      out.size() != kX25519Size)
    return false;
  if (gcry_ecc_mul_point(GCRY_ECC_CURVE25519, out.data(), scalar.data(), point.empty() ? nullptr : point.data()))
    return false;
  uint8_t any = 0;
  for (uint8_t b : out) any |= b;
  return any != 0;
}

bool IsKnownAead(uint8_t id) {
  return id == static_cast<uint8_t>(AeadId::kAes256Gcm) ||
         id == static_cast<uint8_t>(AeadId::kChaCha20Poly1305);
}

Aead::~Aead() {
  if (handle_) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
}

bool Aead::Init(AeadId id, Bytes key) {
  if (key.size() != kAeadKeySize) return false;
  int algo = id == AeadId::kAes256Gcm ? GCRY_CIPHER_AES256 : GCRY_CIPHER_CHACHA20;
  int mode = id == AeadId::kAes256Gcm ? GCRY_CIPHER_MODE_GCM : GCRY_CIPHER_MODE_POLY1305;
  gcry_cipher_hd_t hd = nullptr;
  if (gcry_cipher_open(&hd, algo, mode, GCRY_CIPHER_SECURE)) return false;
  if (gcry_cipher_setkey(hd, key.data(), key.size())) {
    gcry_cipher_close(hd);
    return false;
  }
  if (handle_) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));
  handle_ = hd;
  return true;
}

bool Aead::Seal(Bytes nonce, Bytes aad, Bytes in, MutableBytes out, MutableBytes tag) {
  auto hd = static_cast<gcry_cipher_hd_t>(handle_);
  if (!hd || gcry_cipher_setiv(hd, nonce.data(), nonce.size())) return false;
  if (gcry_cipher_authenticate(hd, aad.data(), aad.size())) return false;
  gcry_cipher_final(hd);
  if (out.size() != in.size() ||
      gcry_cipher_encrypt(hd, out.data(), out.size(), InputOrInPlace(in, out), InputSize(in, out)))
    return false;
  return gcry_cipher_gettag(hd, tag.data(), tag.size()) == 0;
}

bool Aead::Open(Bytes nonce, Bytes aad, Bytes in, MutableBytes out, Bytes tag) {
  auto hd = static_cast<gcry_cipher_hd_t>(handle_);
  if (!hd || gcry_cipher_setiv(hd, nonce.data(), nonce.size())) return false;
  if (gcry_cipher_authenticate(hd, aad.data(), aad.size())) return false;
  gcry_cipher_final(hd);
  if (out.size() != in.size() ||
      gcry_cipher_decrypt(hd, out.data(), out.size(), InputOrInPlace(in, out), InputSize(in, out)))
    return false;
  return gcry_cipher_checktag(hd, tag.data(), tag.size()) == 0;
}

}  // namespace halvex::cipher::crypto
