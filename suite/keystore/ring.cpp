// Reading and writing the key ring's layouts (ring.h).
#include "suite/keystore/ring.h"

#include <gcrypt.h>

#include <cstring>
#include <string_view>

namespace halvex::keystore::ring {
namespace {

constexpr char kMagic[8] = {'H', 'A', 'L', 'V', 'E', 'X', 'K', 'S'};
constexpr size_t kVersionOffset = sizeof kMagic;
constexpr size_t kChecksumLength = 16;
constexpr size_t kEntryLength = kKeyLength + 8;
constexpr size_t kV2Head = 11;

bool ChecksumMatches(const uint8_t* data, size_t size) {
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, data, size - kChecksumLength);
  return std::memcmp(digest, data + size - kChecksumLength, kChecksumLength) == 0;
}

bool DecodeV1(const uint8_t* data, size_t size, Ring& ring) {
  if (size != kVersion1Length) return false;
  Entry& e = ring.entries.emplace_back();
  std::memcpy(e.key.data(), data + kVersionOffset + 1, kKeyLength);
  return true;
}

bool DecodeV2(const uint8_t* data, size_t size, Ring& ring) {
  if (size < kV2Head + kEntryLength + kChecksumLength) return false;
  const size_t count = data[9];
  ring.chosen = data[10];
  if (count == 0 || size != kV2Head + count * kEntryLength + kChecksumLength) return false;
  if (ring.chosen != kNewest && ring.chosen >= count) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* at = data + kV2Head + i * kEntryLength;
    Entry& e = ring.entries.emplace_back();
    std::memcpy(e.key.data(), at, kKeyLength);
    uint64_t created = 0;
    for (int b = 7; b >= 0; --b) created = created << 8 | at[kKeyLength + b];
    e.created = static_cast<int64_t>(created);
  }
  return true;
}

}  // namespace

void Wipe(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n--) *v++ = 0;
}

bool Decode(const uint8_t* data, size_t size, Ring& ring) {
  ring.entries.clear();
  ring.chosen = kNewest;
  if (size < kVersion1Length || std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
  if (!ChecksumMatches(data, size)) return false;
  const uint8_t version = data[kVersionOffset];
  bool ok = version == 1 ? DecodeV1(data, size, ring) : version == 2 && DecodeV2(data, size, ring);
  if (!ok) ring.entries.clear();
  return ok;
}

void Encode(const Ring& ring, Secret& out) {
  std::vector<uint8_t>& b = out.bytes;
  b.assign(kMagic, kMagic + sizeof kMagic);
  b.push_back(2);
  b.push_back(static_cast<uint8_t>(ring.entries.size()));
  b.push_back(ring.chosen);
  for (const Entry& e : ring.entries) {
    b.insert(b.end(), e.key.begin(), e.key.end());
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(e.created) >> (8 * i)));
  }
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, b.data(), b.size());
  b.insert(b.end(), digest, digest + kChecksumLength);
}

size_t Active(const Ring& ring) {
  if (ring.chosen < ring.entries.size()) return ring.chosen;
  size_t best = 0;
  for (size_t i = 1; i < ring.entries.size(); ++i)
    if (ring.entries[i].created > ring.entries[best].created) best = i;
  return best;
}

uint32_t IdOf(const Entry& entry) {
  constexpr std::string_view kLabel = "halvex key store id";
  std::array<uint8_t, kLabel.size() + kKeyLength> input;
  std::memcpy(input.data(), kLabel.data(), kLabel.size());
  std::memcpy(input.data() + kLabel.size(), entry.key.data(), kKeyLength);
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, input.data(), input.size());
  Wipe(input.data(), input.size());
  uint32_t id = (static_cast<uint32_t>(digest[0]) << 24) | (digest[1] << 16) | (digest[2] << 8) | digest[3];
  return id == 0 ? 1 : id;
}

std::optional<size_t> Find(const Ring& ring, uint32_t id, size_t from) {
  for (size_t i = from; i < ring.entries.size(); ++i)
    if (IdOf(ring.entries[i]) == id) return i;
  return std::nullopt;
}

bool Holds(const Ring& ring, const Entry& entry) {
  for (const Entry& e : ring.entries)
    if (e.key == entry.key) return true;
  return false;
}

// Keys are compared whole: two keys may share an identifier, and both are kept.
std::optional<size_t> Merge(Ring& ring, const Ring& from) {
  size_t missing = 0;
  for (const Entry& e : from.entries) missing += !Holds(ring, e);
  if (ring.entries.size() + missing > kMaxKeys) return std::nullopt;
  for (const Entry& e : from.entries)
    if (!Holds(ring, e)) ring.entries.push_back(e);
  return missing;
}

}  // namespace halvex::keystore::ring
