// The libgcrypt primitives the cipher library composes: start-up, secure
// buffers, random bytes, SHA-256, HMAC-SHA-256 and the two AEADs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace halvex::cipher::crypto {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

// Initialises libgcrypt once per process (thread-safe). Returns false when the
// installed libgcrypt is too old to be used.
bool EnsureInitialised();

// Overwrites memory in a way the compiler may not drop.
void Wipe(void* p, size_t n);

// A fixed-size buffer in libgcrypt's secure (locked, wiped on free) memory.
class SecureBuffer {
 public:
  SecureBuffer() = default;
  explicit SecureBuffer(size_t size);
  ~SecureBuffer();
  SecureBuffer(SecureBuffer&& other) noexcept;
  SecureBuffer& operator=(SecureBuffer&& other) noexcept;
  SecureBuffer(const SecureBuffer&) = delete;
  SecureBuffer& operator=(const SecureBuffer&) = delete;

  // False when the secure pool could not give the memory asked for: the
  // buffer is then empty, and using it as a key would mean a known key.
  bool Ok() const { return !failed_; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  MutableBytes span() { return {data_, size_}; }
  Bytes view() const { return {data_, size_}; }
  // Hands the memory to the caller, who frees it with gcry_free.
  uint8_t* Release();

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool failed_ = false;
};

void StrongRandom(MutableBytes out);  // keys and salts
void NonceRandom(MutableBytes out);   // public values: nonce prefixes, temporary names

constexpr size_t kSha256Size = 32;
void Sha256(Bytes data, MutableBytes out);
// HMAC-SHA-256 of the concatenated parts into out (kSha256Size bytes);
// false when out has another size, the key is empty, or libgcrypt fails.
bool HmacSha256(Bytes key, std::initializer_list<Bytes> parts, MutableBytes out);
// Constant-time equality.
bool Equal(Bytes a, Bytes b);

// X25519 (libgcrypt's Curve25519 scalar multiplication): scalar times point,
// or times the base point when point is empty, into out; all 32 bytes each.
// False on failure and for an all-zero result, which a point of small order
// gives whatever the scalar: a shared secret everybody knows.
constexpr size_t kX25519Size = 32;
bool X25519(Bytes scalar, Bytes point, MutableBytes out);

inline Bytes AsBytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// An AEAD keyed once and used for many messages.
enum class AeadId : uint8_t { kAes256Gcm = 1, kChaCha20Poly1305 = 2 };
constexpr size_t kAeadKeySize = 32;
constexpr size_t kAeadNonceSize = 12;
constexpr size_t kAeadTagSize = 16;

class Aead {
 public:
  Aead() = default;
  ~Aead();
  Aead(const Aead&) = delete;
  Aead& operator=(const Aead&) = delete;

  // The key is copied into libgcrypt's secure memory.
  bool Init(AeadId id, Bytes key);
  // Encrypts in into out (of the same size; they may be the same memory)
  // and writes the tag.
  bool Seal(Bytes nonce, Bytes aad, Bytes in, MutableBytes out, MutableBytes tag);
  bool Seal(Bytes nonce, Bytes aad, MutableBytes data, MutableBytes tag) {
    return Seal(nonce, aad, data, data, tag);
  }
  // Decrypts in into out; false when the tag does not authenticate it (out
  // then holds garbage that must not be used).
  bool Open(Bytes nonce, Bytes aad, Bytes in, MutableBytes out, Bytes tag);
  bool Open(Bytes nonce, Bytes aad, MutableBytes data, Bytes tag) {
    return Open(nonce, aad, data, data, tag);
  }

 private:
  void* handle_ = nullptr;  // gcry_cipher_hd_t
};

bool IsKnownAead(uint8_t id);

}  // namespace halvex::cipher::crypto
