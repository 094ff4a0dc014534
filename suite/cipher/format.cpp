// Serialising and parsing the encrypted file's header and trailer.
#include "suite/cipher/format.h"

#include <algorithm>
#include <cstring>

namespace halvex::cipher::format {
namespace {

constexpr std::string_view kStub =
    "This file is encrypted by Halvex as a self-extracting file.\r\n"
    "Open it with Halvex to restore its contents.\r\n";

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v) { Le(v, 2); }
  void U32(uint32_t v) { Le(v, 4); }
  void U64(uint64_t v) { Le(v, 8); }
  void Raw(crypto::Bytes b) { out_.insert(out_.end(), b.begin(), b.end()); }
  std::vector<uint8_t>& bytes() { return out_; }

 private:
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> out_;
};

class Reader {
 public:
  explicit Reader(crypto::Bytes in) : in_(in) {}
  bool U8(uint8_t& v) { return Le(v, 1); }
  bool U16(uint16_t& v) { return Le(v, 2); }
  bool U32(uint32_t& v) { return Le(v, 4); }
  bool U64(uint64_t& v) { return Le(v, 8); }
  bool Raw(uint8_t* out, size_t n) {
    if (in_.size() - pos_ < n) return false;
    std::memcpy(out, in_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  size_t pos() const { return pos_; }

 private:
  template <typename T>
  bool Le(T& v, int n) {
    if (in_.size() - pos_ < static_cast<size_t>(n)) return false;
    uint64_t r = 0;
    for (int i = 0; i < n; ++i) r |= static_cast<uint64_t>(in_[pos_ + i]) << (8 * i);
    pos_ += n;
    v = static_cast<T>(r);
    return true;
  }
  crypto::Bytes in_;
  size_t pos_ = 0;
};

// Everything up to the MAC, with the header length filled in later.
std::vector<uint8_t> Body(const Header& h) {
  Writer w;
  w.Raw(kMagic);
  w.U16(h.version);
  w.U16(h.flags);
  w.U32(0);  // header length, patched below
  w.U8(h.aead);
  w.U8(h.kdf);
  w.U8(static_cast<uint8_t>(h.slots.size()));
  w.U8(h.passwordKeyLen);
  w.U32(h.chunkSize);
  w.U32(h.kdfParams.passes);
  w.U32(h.kdfParams.memoryKiB);
  w.U32(h.kdfParams.lanes);
  w.Raw(h.salt);
  w.Raw(h.noncePrefix);
  w.U8(0);  // reserved
  w.U64(h.size);
  w.U64(h.modified);
  w.U16(static_cast<uint16_t>(h.name.size()));
  w.Raw(crypto::AsBytes(h.name));
  if (h.version >= kVersion2) {
    w.Raw(h.passwordSalt);
    w.U32(h.keyStoreId);
  }
  if (h.version == kVersion2) w.Raw(h.sealedAttributes);
  if (h.version >= kVersion) w.U32(h.metadataLength);
  for (const Slot& s : h.slots) {
    w.U8(static_cast<uint8_t>(s.kind));
    if (s.kind == SlotKind::kRecipient) w.Raw(s.ephemeral);
    w.Raw(s.wrapped);
  }
  std::vector<uint8_t> out = std::move(w.bytes());
  uint32_t total = static_cast<uint32_t>(out.size() + kMacSize + kChecksumSize);
  for (int i = 0; i < 4; ++i) out[12 + i] = static_cast<uint8_t>(total >> (8 * i));
  return out;
}

// SHA-256 of the bytes before the checksum, the lock flag read as set or clear.
std::array<uint8_t, kChecksumSize> Checksum(crypto::Bytes bytes, bool lockSet) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  if (lockSet) copy[kFlagsOffset] |= kFlagLocked;
  else copy[kFlagsOffset] &= static_cast<uint8_t>(~kFlagLocked);
  std::array<uint8_t, kChecksumSize> sum;
  crypto::Sha256(copy, sum);
  return sum;
}

void AppendChecksum(std::vector<uint8_t>& bytes) {
  auto sum = Checksum(bytes, false);
  bytes.insert(bytes.end(), sum.begin(), sum.end());
}

bool ParseFields(crypto::Bytes bytes, Header& h) {
  Reader r(bytes.first(bytes.size() - kChecksumSize));
  uint8_t magic[8], slotCount = 0, reserved = 0;
  uint32_t length = 0;
  uint16_t nameSize = 0;
  if (!r.Raw(magic, 8) || !r.U16(h.version) || !r.U16(h.flags) || !r.U32(length) ||
      !r.U8(h.aead) || !r.U8(h.kdf) || !r.U8(slotCount) || !r.U8(h.passwordKeyLen) ||
      !r.U32(h.chunkSize) || !r.U32(h.kdfParams.passes) || !r.U32(h.kdfParams.memoryKiB) ||
      !r.U32(h.kdfParams.lanes) || !r.Raw(h.salt.data(), h.salt.size()) ||
      !r.Raw(h.noncePrefix.data(), h.noncePrefix.size()) || !r.U8(reserved) || !r.U64(h.size) ||
      !r.U64(h.modified) || !r.U16(nameSize))
    return false;
  // The MAC covers the header as written, with the reserved byte 0; any other
  // value would be a change that nothing detects.
  if (reserved != 0) return false;
  if ((h.flags & ~kKnownFlags) || !crypto::IsKnownAead(h.aead) || h.kdf != kKdfArgon2id ||
      slotCount < 1 || slotCount > (h.version >= kVersion ? kMaxSlots : 2) || h.passwordKeyLen > 64 ||
      h.chunkSize == 0 || h.chunkSize > kMaxChunkSize || nameSize > kMaxNameBytes)
    return false;
  h.name.resize(nameSize);
  if (!r.Raw(reinterpret_cast<uint8_t*>(h.name.data()), nameSize)) return false;
  if (h.version >= kVersion2 &&
      (!r.Raw(h.passwordSalt.data(), h.passwordSalt.size()) || !r.U32(h.keyStoreId)))
    return false;
  if (h.version == kVersion2 && !r.Raw(h.sealedAttributes.data(), h.sealedAttributes.size())) return false;
  if (h.version >= kVersion &&
      (!r.U32(h.metadataLength) || h.metadataLength < crypto::kAeadTagSize ||
       h.metadataLength > kMaxMetadataSize + crypto::kAeadTagSize))
    return false;
  // Earlier versions knew no stream form; a stream records no size.
  if ((h.flags & kFlagStream) && (h.version < kVersion || h.size != 0)) return false;
  h.slots.resize(slotCount);
  for (Slot& s : h.slots) {
    uint8_t kind = 0;
    if (!r.U8(kind)) return false;
    // A recipient slot in an older header is damage: those readers knew no
    // such kind, and no writer of those versions made one.
    const bool recipient = kind == static_cast<uint8_t>(SlotKind::kRecipient) && h.version >= kVersion;
    if (kind != static_cast<uint8_t>(SlotKind::kPassword) &&
        kind != static_cast<uint8_t>(SlotKind::kStoredKey) && !recipient)
      return false;
    if (recipient && !r.Raw(s.ephemeral.data(), s.ephemeral.size())) return false;
    if (!r.Raw(s.wrapped.data(), s.wrapped.size())) return false;
    s.kind = static_cast<SlotKind>(kind);
  }
  if (!r.Raw(h.mac.data(), h.mac.size())) return false;
  return r.pos() == bytes.size() - kChecksumSize;  // nothing left unaccounted
}

}  // namespace

std::vector<uint8_t> MacInput(const Header& header) {
  std::vector<uint8_t> body = Body(header);
  body[kFlagsOffset] &= static_cast<uint8_t>(~kFlagLocked);
  return body;
}

std::vector<uint8_t> Serialise(const Header& header) {
  std::vector<uint8_t> out = Body(header);
  out.insert(out.end(), header.mac.begin(), header.mac.end());
  AppendChecksum(out);
  return out;
}

std::optional<uint32_t> HeaderLength(crypto::Bytes prefix) {
  if (prefix.size() < kPrefixSize || !std::equal(kMagic.begin(), kMagic.end(), prefix.begin()))
    return std::nullopt;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(prefix[12 + i]) << (8 * i);
  return length;
}

ParseResult Parse(crypto::Bytes bytes, Header& header) {
  auto length = HeaderLength(bytes);
  if (!length) return ParseResult::kNotOurs;
  if (*length != bytes.size() || *length < kPrefixSize + kChecksumSize ||
      *length > kMaxHeaderSize)
    return ParseResult::kDamaged;
  // Locking writes the flag alone, so the checksum reads it as clear. Earlier
  // releases renewed the checksum with the flag set, in the same write; a
  // crash could tear that write either way, so a checksum of either state is
  // accepted and the flag as stored decides.
  crypto::Bytes covered = bytes.first(bytes.size() - kChecksumSize);
  if (!crypto::Equal(Checksum(covered, false), bytes.last(kChecksumSize)) &&
      !crypto::Equal(Checksum(covered, true), bytes.last(kChecksumSize)))
    return ParseResult::kDamaged;
  uint16_t version = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  if (version != kVersion1 && version != kVersion2 && version != kVersion) return ParseResult::kUnknownVersion;
  return ParseFields(bytes, header) ? ParseResult::kOk : ParseResult::kDamaged;
}

uint8_t LockedFlagsByte(crypto::Bytes header) {
  return static_cast<uint8_t>(header[kFlagsOffset] | kFlagLocked);
}

std::array<uint8_t, crypto::kAeadNonceSize> ChunkNonce(const Header& header, uint32_t index,
                                                      bool last) {
  std::array<uint8_t, crypto::kAeadNonceSize> nonce{};
  std::copy(header.noncePrefix.begin(), header.noncePrefix.end(), nonce.begin());
  for (int i = 0; i < 4; ++i) nonce[kNoncePrefixSize + i] = static_cast<uint8_t>(index >> (24 - 8 * i));
  nonce[11] = last ? 1 : 0;
  return nonce;
}

std::array<uint8_t, crypto::kAeadNonceSize> SideNonce(const Header& header, uint8_t tag) {
  std::array<uint8_t, crypto::kAeadNonceSize> nonce{};
  std::copy(header.noncePrefix.begin(), header.noncePrefix.end(), nonce.begin());
  std::fill(nonce.begin() + kNoncePrefixSize, nonce.end() - 1, 0xFF);
  nonce.back() = tag;
  return nonce;
}

IoPlan PlanIo(uint64_t size, uint32_t chunkSize, uint64_t count) {
  const uint64_t perIo = std::max<uint64_t>(1, std::min<uint64_t>(ChunksPerIo(chunkSize), count));
  const uint64_t plain = std::min<uint64_t>(perIo * chunkSize, std::max<uint64_t>(size, 1));
  const uint64_t calls = (count + perIo - 1) / perIo;
  return {static_cast<size_t>(perIo), static_cast<size_t>(plain), calls > 1 ? size_t{3} : size_t{1}};
}

uint64_t ChunkCount(uint64_t size, uint32_t chunkSize) {
  return size == 0 ? 1 : size / chunkSize + (size % chunkSize != 0);
}

std::optional<uint64_t> StreamSize(uint64_t bodyBytes, uint32_t chunkSize) {
  const uint64_t sealedChunk = uint64_t{chunkSize} + crypto::kAeadTagSize;
  // Every chunk but the last is whole; the last holds 0 to chunkSize bytes
  // and its tag, so a body ending on a whole chunk ends with a full last one.
  uint64_t whole = bodyBytes / sealedChunk, rest = bodyBytes % sealedChunk;
  if (rest == 0) {
    if (whole == 0) return std::nullopt;
    return whole * chunkSize;
  }
  if (rest < crypto::kAeadTagSize) return std::nullopt;
  return whole * chunkSize + (rest - crypto::kAeadTagSize);
}

bool IsStream(const Header& header) { return (header.flags & kFlagStream) != 0; }

std::array<uint8_t, kTrailerSize> Trailer(uint64_t payloadOffset) {
  std::array<uint8_t, kTrailerSize> t{};
  std::copy(kTrailerMagic.begin(), kTrailerMagic.end(), t.begin());
  for (int i = 0; i < 8; ++i) t[8 + i] = static_cast<uint8_t>(payloadOffset >> (8 * i));
  return t;
}

std::optional<uint64_t> TrailerOffset(crypto::Bytes trailer) {
  if (trailer.size() != kTrailerSize ||
      !std::equal(kTrailerMagic.begin(), kTrailerMagic.end(), trailer.begin()))
    return std::nullopt;
  uint64_t offset = 0;
  for (int i = 0; i < 8; ++i) offset |= static_cast<uint64_t>(trailer[8 + i]) << (8 * i);
  return offset;
}

crypto::Bytes Stub() { return crypto::AsBytes(kStub); }

namespace {

// Characters Windows refuses in a name. Hosts map them to U+F000 plus the
// character on the way in, so a stored name never holds them raw.
bool IsForbiddenCharacter(WCHAR c) {
  return c < 0x20 || c == 0x7F || c == u'\\' || c == u'/' || c == u':' || c == u'<' || c == u'>' ||
         c == u'"' || c == u'|' || c == u'?' || c == u'*';
}

WCHAR Upper(WCHAR c) { return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c; }

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (with the superscript digits Windows
// also counts) name devices whatever the extension: "nul.txt" is the device.
bool IsDeviceName(WStringView name) {
  WStringView stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  if (stem.size() != 3 && stem.size() != 4) return false;
  WString upper;
  for (WCHAR c : stem) upper.push_back(Upper(c));
  if (upper == WTEXT("CON") || upper == WTEXT("PRN") || upper == WTEXT("AUX") || upper == WTEXT("NUL"))
    return true;
  if (upper.size() != 4 || (upper.substr(0, 3) != WTEXT("COM") && upper.substr(0, 3) != WTEXT("LPT")))
    return false;
  WCHAR digit = upper[3];
  return (digit >= u'0' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

bool IsSafeName(WStringView name) {
  if (name.empty() || name.size() > 255 || name == WTEXT(".") || name == WTEXT(".."))
    return false;
  // Windows drops a trailing dot or space, so the file would land under
  // another name than the one stored.
  if (name.back() == u'.' || name.back() == u' ') return false;
  return std::none_of(name.begin(), name.end(), IsForbiddenCharacter) && !IsDeviceName(name);
}

}  // namespace halvex::cipher::format
