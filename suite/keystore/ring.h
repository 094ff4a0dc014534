// The key ring held in a key-store file, and the two layouts it is stored in.
//
// Version 1 (49 bytes, one key; still read, never written):
//   offset  0  8 bytes  magic "HALVEXKS"
//   offset  8  1 byte   version, 1
//   offset  9 24 bytes  the key
//   offset 33 16 bytes  the first 16 bytes of SHA-256 over bytes 0 to 32
// Version 2 (a ring of 1 to 255 keys):
//   offset  0  8 bytes  magic "HALVEXKS"
//   offset  8  1 byte   version, 2
//   offset  9  1 byte   number of keys, N
//   offset 10  1 byte   index of the key chosen to encrypt, 255: the newest
//   offset 11  N x 32   each key: 24 key bytes, then its creation time in
//                       seconds since 1970, 8 bytes little-endian (0: unknown)
//   then      16 bytes  the first 16 bytes of SHA-256 over all before
// A key's identifier is not stored: it is derived from the key, as the files
// it encrypts record it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace halvex::keystore::ring {

constexpr size_t kKeyLength = 24;
constexpr size_t kMaxKeys = 255;
constexpr uint8_t kNewest = 255;
constexpr size_t kVersion1Length = 49;
constexpr size_t kMaxFileLength = 11 + kMaxKeys * 32 + 16;

// Key bytes must not linger in freed memory.
void Wipe(void* p, size_t n);

// Bytes that are wiped when they go. Their capacity is fixed on creation, so
// no growth leaves a copy behind.
struct Secret {
  explicit Secret(size_t capacity = kMaxFileLength) { bytes.reserve(capacity); }
  ~Secret() { Wipe(bytes.data(), bytes.capacity()); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  std::vector<uint8_t> bytes;
};

struct Entry {
  std::array<uint8_t, kKeyLength> key{};
  int64_t created = 0;  // seconds since 1970; 0 when unknown (a version 1 file)
};

struct Ring {
  Ring() { entries.reserve(kMaxKeys); }
  ~Ring() { Wipe(entries.data(), entries.capacity() * sizeof(Entry)); }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  std::vector<Entry> entries;
  uint8_t chosen = kNewest;
};

// Reads either layout; false for anything else (damaged or of another kind).
bool Decode(const uint8_t* data, size_t size, Ring& ring);
// The version 2 layout.
void Encode(const Ring& ring, Secret& out);

// The key that encrypts: the chosen one, else the newest. Of keys as new
// (times unknown) the earlier entry wins, so adding an old key never changes
// which key encrypts.
size_t Active(const Ring& ring);
// SHA-256("halvex key store id" || key), its first four bytes big-endian,
// never 0: what encrypted files record.
uint32_t IdOf(const Entry& entry);
// The first entry from index from on with that identifier.
std::optional<size_t> Find(const Ring& ring, uint32_t id, size_t from = 0);
bool Holds(const Ring& ring, const Entry& entry);
// Appends the keys of from that ring lacks, with their creation times; says
// how many were added, or nothing (and adds none) when they would not fit.
std::optional<size_t> Merge(Ring& ring, const Ring& from);

}  // namespace halvex::keystore::ring
