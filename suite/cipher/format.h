// The encrypted file's layout: header, key slots, chunks and the trailer of a
// self-extracting file. FORMAT.md beside this file describes it in prose.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"

namespace halvex::cipher::format {

constexpr std::array<uint8_t, 8> kMagic = {0x89, 'H', 'V', 'X', '\r', '\n', 0x1a, '\n'};
constexpr std::array<uint8_t, 8> kTrailerMagic = {0x89, 'H', 'V', 'X', 'S', 'F', 'X', '\n'};
// Version 2 added a password salt per transcoding, the key store's
// identifier and the sealed attributes; version 3 the stream form, the
// sealed metadata in place of those attributes, and recipient slots, whose
// body is longer than the others'. Versions 1 and 2 are still read.
constexpr uint16_t kVersion = 3;
constexpr uint16_t kVersion2 = 2;
constexpr uint16_t kVersion1 = 1;

constexpr uint16_t kFlagSelfExtracting = 0x0001;
constexpr uint16_t kFlagLocked = 0x0002;
// Written where the size was not known in advance (a pipe): the header
// records size 0 and the body runs to the end of the payload (version 3 on).
constexpr uint16_t kFlagStream = 0x0004;
constexpr uint16_t kKnownFlags = kFlagSelfExtracting | kFlagLocked | kFlagStream;

// Every version starts with magic, version, flags and header length, and
// ends its header with a SHA-256 of all bytes before it, so corruption is
// told apart from a wrong key, and an unknown version from damage.
constexpr size_t kPrefixSize = 16;
constexpr size_t kChecksumSize = crypto::kSha256Size;
constexpr size_t kMacSize = crypto::kSha256Size;
// Room for a version 3 header with every recipient slot allowed (kMaxSlots
// of 81 bytes and the longest name come to about 11 KiB). Headers of
// versions 1 and 2 stay under 4 KiB; their parse refuses anything longer.
constexpr size_t kMaxHeaderSize = 16384;
constexpr size_t kFlagsOffset = 10;

constexpr uint32_t kChunkSize = 64 * 1024;
constexpr uint32_t kMaxChunkSize = 1024 * 1024;  // what a reader accepts
// Bytes moved per read or write: 1 MiB rather than one 64 KiB chunk keeps
// the system-call overhead out of the throughput; memory stays fixed.
constexpr size_t kIoBytes = 1024 * 1024;
inline size_t ChunksPerIo(uint32_t chunkSize) { return kIoBytes / chunkSize; }
// Through a pipe, whose buffer holds 64 KiB, a chunk at a time keeps the
// processes on either side busy at once: each chunk is sealed or opened and
// passed on while the next one arrives. Measured with 1 GiB through
// encrypt | decrypt | cmp: 1 MiB steps took 3.9 s, 256 KiB 3.4 s, 64 KiB 2.6 s.
constexpr size_t kStreamIoBytes = 64 * 1024;
inline size_t ChunksPerStreamStep(uint32_t chunkSize) { return std::max<size_t>(1, kStreamIoBytes / chunkSize); }

// How a body of size bytes in count chunks is read and written: whole chunks
// per system call, but buffers no larger than the file, and a writer thread
// only when there is more than one call's worth to overlap.
struct IoPlan {
  size_t chunksPerIo;    // chunks per read and write
  size_t plainBytes;     // room for that many chunks' plain bytes
  size_t writerBuffers;  // 1: write inline; more: on a second thread
};
IoPlan PlanIo(uint64_t size, uint32_t chunkSize, uint64_t count);
constexpr size_t kSaltSize = 32;
constexpr size_t kNoncePrefixSize = 7;
constexpr size_t kFileKeySize = 32;
constexpr size_t kWrappedKeySize = kFileKeySize + crypto::kAeadTagSize;
constexpr uint8_t kKdfArgon2id = 1;
constexpr size_t kX25519Size = 32;
// Slots a header may hold: the password and stored-key slots beside the
// recipients (cipher.h: kMaxRecipients). Versions 1 and 2 hold 1 or 2.
constexpr size_t kMaxSlots = 2 + kMaxRecipients;
constexpr size_t kMaxNameBytes = 255 * 3;  // 255 UTF-16 units, 3 bytes each at most

constexpr size_t kTrailerSize = 16;  // trailer magic, payload offset (u64)

constexpr size_t kPasswordSaltSize = 16;
// The attributes the body key seals inside the header (version 2 on):
// which ones are recorded (u32) and the POSIX mode bits (u32), then the tag.
constexpr size_t kAttributesPlainSize = 8;
constexpr size_t kSealedAttributesSize = kAttributesPlainSize + crypto::kAeadTagSize;
constexpr uint32_t kRecordedMode = 0x1;

// Version 3 seals the metadata (time, mode, owner, extended attributes) in a
// block of its own right after the header: its length is in the header, so
// the MAC covers it, and a reader refuses more than this much.
constexpr uint32_t kMaxMetadataSize = 1024 * 1024;

struct Attributes {
  bool hasMode = false;
  uint32_t mode = 0;  // permission bits, 0777 at most
};

enum class SlotKind : uint8_t {
  kPassword = 1,  // the key is a transcoded password (the header's KDF applies)
  kStoredKey = 2, // the key is random key material given as it is
  kRecipient = 3, // an X25519 public key's: the slot carries an ephemeral public key (version 3 on)
};

struct Slot {
  SlotKind kind;
  std::array<uint8_t, kWrappedKeySize> wrapped;
  std::array<uint8_t, kX25519Size> ephemeral{};  // kRecipient only
};

struct Header {
  uint16_t version = kVersion;
  uint16_t flags = 0;
  uint8_t aead = 0;
  uint8_t kdf = kKdfArgon2id;
  uint8_t passwordKeyLen = 0;
  uint32_t chunkSize = kChunkSize;
  KdfParams kdfParams{};
  std::array<uint8_t, kSaltSize> salt{};
  std::array<uint8_t, kNoncePrefixSize> noncePrefix{};
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME: 100-ns intervals since 1601
  std::string name;       // UTF-8, one component
  // Version 2 on: the password transcoding's salt (version 1 had one fixed
  // salt), which key store a stored-key slot needs (0: none), attributes.
  std::array<uint8_t, kPasswordSaltSize> passwordSalt{};
  uint32_t keyStoreId = 0;
  std::array<uint8_t, kSealedAttributesSize> sealedAttributes{};  // version 2 only
  // Version 3 on: the length of the sealed metadata block after the header,
  // its tag included.
  uint32_t metadataLength = 0;
  std::vector<Slot> slots;
  std::array<uint8_t, kMacSize> mac{};
};

// Bytes [0, end) of the serialised header that the header MAC covers: all
// but the MAC and checksum, with the lock flag read as clear so that locking
// in place keeps the MAC valid. The checksum, too, reads the lock flag as
// clear, so locking changes one byte and a torn write cannot damage a header.
std::vector<uint8_t> MacInput(const Header& header);
// The header as stored, checksum included.
std::vector<uint8_t> Serialise(const Header& header);

enum class ParseResult { kOk, kNotOurs, kDamaged, kUnknownVersion };

// From the first kPrefixSize bytes: the whole header's length, or nothing
// when the magic is not ours.
std::optional<uint32_t> HeaderLength(crypto::Bytes prefix);
// The whole header (length from HeaderLength): checksum, version, fields.
ParseResult Parse(crypto::Bytes bytes, Header& header);
// The byte locking changes (at this offset from the header's start) and its
// locked value, for a valid serialised header.
uint8_t LockedFlagsByte(crypto::Bytes header);

// Chunk nonce: prefix || counter (big-endian) || last-chunk flag.
std::array<uint8_t, crypto::kAeadNonceSize> ChunkNonce(const Header& header, uint32_t index,
                                                      bool last);
// The nonce of a message sealed beside the chunks under the body key:
// prefix || FF FF FF FF || tag. Chunk nonces end in 0 or 1, so a tag of 2 or
// more never meets one (2: version 2's attributes, 3: the metadata block).
std::array<uint8_t, crypto::kAeadNonceSize> SideNonce(const Header& header, uint8_t tag);
// Number of chunks a plaintext of size bytes is sealed in (an empty file has one).
uint64_t ChunkCount(uint64_t size, uint32_t chunkSize);
// The plaintext size of a stream-form body of bodyBytes bytes: nothing when
// no sequence of chunks has that length (the last one shorter than a tag).
std::optional<uint64_t> StreamSize(uint64_t bodyBytes, uint32_t chunkSize);
bool IsStream(const Header& header);

std::array<uint8_t, kTrailerSize> Trailer(uint64_t payloadOffset);
std::optional<uint64_t> TrailerOffset(crypto::Bytes trailer);

// The placeholder that precedes the payload of a self-extracting file.
crypto::Bytes Stub();

// A stored name that is one plain file name on every system: not empty, not
// "." or "..", at most 255 UTF-16 units, no separator, control character or
// other character Windows refuses (: < > " | ? *), no trailing dot or space,
// no device name (CON, NUL, COM1, LPT1 ..., with any extension).
bool IsSafeName(WStringView name);

}  // namespace halvex::cipher::format
