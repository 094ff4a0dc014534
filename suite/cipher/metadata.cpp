// Records are tag (u8), length (u32) and value, integers little-endian:
//   time       i64 seconds since 1970 UTC, u32 nanoseconds
//   mode       u32 permission bits (07777 at most)
//   owner      u32 uid, u32 gid, u8 + user name, u8 + group name
//   attribute  u8 + name, then the value (the rest of the record)
#include "suite/cipher/metadata.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "suite/cipher/keys.h"

namespace halvex::cipher::metadata {
namespace {

constexpr uint8_t kMetadataNonceTag = 3;

class Out {
 public:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
  void Short(const std::string& s) {
    Le(s.size(), 1);
    Text(s);
  }
  // Starts a record, whose length is filled in by End.
  size_t Begin(Tag tag) {
    bytes.push_back(static_cast<uint8_t>(tag));
    Le(0, 4);
    return bytes.size();
  }
  void End(size_t start) {
    const uint64_t length = bytes.size() - start;
    for (int i = 0; i < 4; ++i) bytes[start - 4 + i] = static_cast<uint8_t>(length >> (8 * i));
  }
  std::vector<uint8_t> bytes;
};

class In {
 public:
  explicit In(crypto::Bytes b) : in_(b) {}
  bool Le(uint64_t& v, int n) {
    if (left() < static_cast<size_t>(n)) return false;
    v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint64_t>(in_[pos_ + i]) << (8 * i);
    pos_ += n;
    return true;
  }
  bool Text(std::string& s, size_t n) {
    if (left() < n) return false;
    s.assign(reinterpret_cast<const char*>(in_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool Short(std::string& s) {
    uint64_t n;
    return Le(n, 1) && Text(s, n);
  }
  size_t left() const { return in_.size() - pos_; }

 private:
  crypto::Bytes in_;
  size_t pos_ = 0;
};

// Names and ids longer than a byte can count are not worth a record.
bool Fits(const std::string& s) { return s.size() <= 255; }

bool DecodeRecord(Tag tag, In& in, platform::FileMetadata& m) {
  uint64_t a = 0, b = 0;
  switch (tag) {
    case Tag::kTime:
      if (!in.Le(a, 8) || !in.Le(b, 4) || b >= 1'000'000'000) return false;
      m.hasTime = true;
      m.seconds = static_cast<int64_t>(a);
      m.nanoseconds = static_cast<uint32_t>(b);
      return in.left() == 0;
    case Tag::kMode:
      if (!in.Le(a, 4) || a > 07777) return false;
      m.hasMode = true;
      m.mode = static_cast<uint32_t>(a);
      return in.left() == 0;
    case Tag::kOwner:
      if (!in.Le(a, 4) || !in.Le(b, 4) || !in.Short(m.user) || !in.Short(m.group)) return false;
      m.hasOwner = true;
      m.uid = static_cast<uint32_t>(a);
      m.gid = static_cast<uint32_t>(b);
      return in.left() == 0;
    case Tag::kAttribute: {
      std::string name, value;
      if (!in.Short(name) || name.empty() || name.find('\0') != std::string::npos || !in.Text(value, in.left()))
        return false;
      m.xattrs.emplace_back(std::move(name), std::move(value));
      return true;
    }
  }
  return true;  // a kind this release does not know
}


}  // namespace

std::optional<std::vector<uint8_t>> Encode(const platform::FileMetadata& m) {
  Out out;
  if (m.hasTime) {
    size_t r = out.Begin(Tag::kTime);
    out.Le(static_cast<uint64_t>(m.seconds), 8);
    out.Le(m.nanoseconds, 4);
    out.End(r);
  }
  if (m.hasMode) {
    size_t r = out.Begin(Tag::kMode);
    out.Le(m.mode & 07777, 4);
    out.End(r);
  }
  if (m.hasOwner) {
    size_t r = out.Begin(Tag::kOwner);
    out.Le(m.uid, 4);
    out.Le(m.gid, 4);
    out.Short(Fits(m.user) ? m.user : "");
    out.Short(Fits(m.group) ? m.group : "");
    out.End(r);
  }
  for (const auto& [name, value] : m.xattrs) {
    if (name.empty() || !Fits(name)) continue;  // no system names one so long
    size_t r = out.Begin(Tag::kAttribute);
    out.Short(name);
    out.Text(value);
    out.End(r);
    if (out.bytes.size() > format::kMaxMetadataSize) return std::nullopt;
  }
  return out.bytes;
}

bool Decode(crypto::Bytes records, platform::FileMetadata& m) {
  m = platform::FileMetadata{};
  In in(records);
  while (in.left() > 0) {
    uint64_t tag = 0, length = 0;
    if (!in.Le(tag, 1) || !in.Le(length, 4) || length > in.left()) return false;
    const size_t at = records.size() - in.left();
    In record(records.subspan(at, length));
    if (!DecodeRecord(static_cast<Tag>(tag), record, m)) return false;
    std::string skip;
    in.Text(skip, length);
  }
  return true;
}

bool Seal(crypto::Bytes fileKey, const format::Header& header, crypto::Bytes records,
          std::vector<uint8_t>& sealed) {
  if (header.metadataLength != records.size() + crypto::kAeadTagSize) return false;
  crypto::Aead aead;
  if (keys::BodyAead(fileKey, header, aead) != ZQCA_OK) return false;
  sealed.assign(records.begin(), records.end());
  sealed.resize(records.size() + crypto::kAeadTagSize);
  std::span<uint8_t> all(sealed);
  return aead.Seal(format::SideNonce(header, kMetadataNonceTag), header.mac, all.first(records.size()), all.subspan(records.size()));
}

bool Open(crypto::Bytes fileKey, const format::Header& header, crypto::Bytes sealed,
          std::vector<uint8_t>& records) {
  if (sealed.size() != header.metadataLength || sealed.size() < crypto::kAeadTagSize) return false;
  crypto::Aead aead;
  if (keys::BodyAead(fileKey, header, aead) != ZQCA_OK) return false;
  const size_t plain = sealed.size() - crypto::kAeadTagSize;
  records.resize(plain);
  return aead.Open(format::SideNonce(header, kMetadataNonceTag), header.mac, sealed.first(plain), records, sealed.subspan(plain));
}

}  // namespace halvex::cipher::metadata
