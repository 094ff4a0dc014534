// Decrypting one file: open a key slot, check the header, then restore the
// body chunk by chunk under the stored name into a temporary file that is
// renamed into place only when every chunk has authenticated.
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/metadata.h"
#include "platform/permissions.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/container.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"
#include "suite/cipher/kdf.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/metadata.h"
#include "suite/cipher/recipients.h"
#include "suite/cipher/reporter.h"

namespace halvex::cipher {
namespace {

// The key-store's keys, as ZQKM_GetKeyFromKeyStore hands them out.
constexpr size_t kStoredKeySize = 24;
constexpr size_t kMaxStoredKeys = 255;
std::atomic<StoredKeySource> storedKeys{nullptr};
std::atomic<MetadataMissReport> missReport{nullptr};

struct Request {
  WString source;
  WString folder;  // ends with a backslash
  WStringView password;
  const BYTE* secondKey;
  uint32_t keyLen;
  ZQCA_ProgressProc progress;
};

bool MacHolds(const format::Header& header, crypto::MutableBytes fileKey) {
  std::array<uint8_t, format::kMacSize> mac;
  if (keys::HeaderMac(fileKey, header, mac) && crypto::Equal(mac, header.mac)) return true;
  crypto::Wipe(fileKey.data(), fileKey.size());
  return false;
}

// A slot counts as opened only when the file key it yields also verifies the
// header MAC. So a wrong key, a forged slot and a forged header all give one
// answer (no key opens the file): the codes tell an attacker who crafts
// files nothing about a key, not even with slots built to open under many.
bool TryAllSlots(const format::Header& header, crypto::Bytes key, crypto::MutableBytes fileKey) {
  for (size_t i = 0; i < header.slots.size(); ++i) {
    if (keys::UnwrapSlot(header, i, key, fileKey) && MacHolds(header, fileKey)) return true;
  }
  return false;
}

// The host's identities on the recipient slots, under the same rule. tried:
// whether there was any identity to try on any recipient slot.
bool TryIdentities(const format::Header& header, crypto::MutableBytes fileKey, bool& tried) {
  bool any = false;
  for (const format::Slot& slot : header.slots) any = any || slot.kind == format::SlotKind::kRecipient;
  if (!any) return false;
  return recipients::AnyIdentity([&](crypto::Bytes identity, crypto::Bytes publicKey) {
    tried = true;
    for (size_t i = 0; i < header.slots.size(); ++i)
      if (keys::UnwrapRecipientSlot(header, i, identity, publicKey, fileKey) && MacHolds(header, fileKey))
        return true;
    return false;
  });
}

bool HasStoredKeySlot(const format::Header& header) {
  for (const format::Slot& slot : header.slots)
    if (slot.kind == format::SlotKind::kStoredKey) return true;
  return false;
}

// Whether the given key is one of the user's stored keys. The batches that
// decrypt with the password alone hand its transcoding over as the second
// key: that must not open files through the key store.
bool IsStoredKey(StoredKeySource source, crypto::Bytes given, crypto::SecureBuffer& key) {
  const uint32_t id = keys::KeyStoreId(given);
  for (size_t i = 0; i < kMaxStoredKeys && source(id, i, key.data()); ++i)
    if (crypto::Equal(key.view(), given)) return true;
  return false;
}

// A file of another of the user's keys than the given one: the keys of the
// identifier it records, or every key when it records none (version 1).
bool TryOtherStoredKeys(const format::Header& header, crypto::Bytes given, crypto::MutableBytes fileKey) {
  StoredKeySource source = storedKeys.load();
  if (!source || given.size() != kStoredKeySize || !HasStoredKeySlot(header)) return false;
  if (header.keyStoreId != 0 && header.keyStoreId == keys::KeyStoreId(given)) return false;
  crypto::SecureBuffer key(kStoredKeySize);
  if (!key.Ok() || !IsStoredKey(source, given, key)) return false;
  for (size_t i = 0; i < kMaxStoredKeys && source(header.keyStoreId, i, key.data()); ++i)
    if (TryAllSlots(header, key.view(), fileKey)) return true;
  return false;
}

// The identities are tried first (one X25519 per recipient slot), then the second key
// (one HMAC), and the password last (an Argon2id). Every reader, whatever
// form the file takes, comes through here.
uint32_t OpenFileKey(const Request& request, const format::Header& header,
                     crypto::SecureBuffer& fileKey, bool* byPassword) {
  bool triedIdentity = false;
  if (TryIdentities(header, fileKey.span(), triedIdentity)) {
    *byPassword = false;
    return ZQCA_OK;
  }
  bool haveSecond = request.secondKey && request.keyLen > 0 && request.keyLen <= kdf::kMaxKeyLen;
  crypto::Bytes second = haveSecond ? crypto::Bytes{request.secondKey, request.keyLen} : crypto::Bytes{};
  if (haveSecond && (TryAllSlots(header, second, fileKey.span()) ||
                     TryOtherStoredKeys(header, second, fileKey.span()))) {
    *byPassword = false;
    return ZQCA_OK;
  }
  if (request.password.empty() || header.passwordKeyLen == 0)
    return haveSecond || triedIdentity || !request.password.empty() ? ZQCA_ERR_WRONG_KEY : ZQCA_ERR_NO_KEY;
  // Version 1 transcoded every password with one fixed salt (an empty salt
  // here); later versions record the transcoding's own.
  crypto::Bytes salt;
  if (header.version != format::kVersion1) salt = header.passwordSalt;
  crypto::SecureBuffer key;
  if (uint32_t code = kdf::Transcode(request.password, salt, header.kdfParams, header.passwordKeyLen, key))
    return code;
  if (!TryAllSlots(header, key.view(), fileKey.span())) return ZQCA_ERR_WRONG_KEY;
  *byPassword = true;
  return ZQCA_OK;
}

// What the restored file gets besides its bytes. Version 1 recorded nothing
// (a restored file stays private, 0600), version 2 the mode, version 3 the
// metadata block; the header's time serves where the block has none.
uint32_t ReadMetadata(const format::Header& header, crypto::Bytes fileKey, crypto::Bytes sealed,
                      platform::FileMetadata& m) {
  if (header.version >= format::kVersion) {
    std::vector<uint8_t> records;
    if (!metadata::Open(fileKey, header, sealed, records) || !metadata::Decode(records, m)) return ZQCA_ERR_DAMAGED;
  } else if (header.version == format::kVersion2) {
    format::Attributes attributes;
    if (!keys::OpenAttributes(fileKey, header, attributes)) return ZQCA_ERR_DAMAGED;
    m.hasMode = attributes.hasMode;
    m.mode = attributes.mode;
  }
  return ZQCA_OK;
}

// The sealed metadata block right after the header (version 3 on).
uint32_t ReadSealedMetadata(fileio::File& in, const format::Header& header, uint64_t room,
                            std::vector<uint8_t>& sealed) {
  if (header.version < format::kVersion) return ZQCA_OK;
  if (header.metadataLength > room) return ZQCA_ERR_DAMAGED;
  sealed.resize(header.metadataLength);
  return in.ReadExact(sealed) ? ZQCA_OK : fileio::CodeFromLastError(ZQCA_ERR_READ);
}

// The header's time first, then the recorded metadata over it. Returns what
// could not be applied; only a failure to set the header's time is fatal.
bool ApplyMetadata(fileio::File& file, const format::Header& header, const platform::FileMetadata& m,
                   std::vector<platform::MetadataMiss>& misses) {
  FILETIME modified{static_cast<DWORD>(header.modified), static_cast<DWORD>(header.modified >> 32)};
  if (!SetFileTime(file.get(), nullptr, nullptr, &modified)) return false;
  if (header.version < format::kVersion) return !m.hasMode || platform::SetPermissions(file.get(), m.mode);
  misses = platform::ApplyFileMetadata(file.get(), m);
  return true;
}

void ReportMisses(const WString& path, const std::vector<platform::MetadataMiss>& misses) {
  MetadataMissReport report = missReport.load();
  if (!report) return;
  for (const platform::MetadataMiss& miss : misses) report(path.c_str(), miss.what.c_str(), miss.error);
}

uint32_t OutputPath(const Request& request, const format::Header& header, WString& path) {
  auto name = platform::FromUtf8(header.name);
  if (!name || !format::IsSafeName(*name)) return ZQCA_ERR_UNSAFE_NAME;
  path = request.folder + *name;
  return path.size() > fileio::kMaxPath ? ZQCA_ERR_PATH_TOO_LONG : ZQCA_OK;
}

uint32_t RestoreBody(fileio::File& in, const container::Payload& payload,
                     const format::Header& header, uint64_t bodyStart, crypto::Bytes fileKey,
                     fileio::File& out, Reporter& reporter) {
  const uint64_t count = format::ChunkCount(header.size, header.chunkSize);
  // Truncation and extension show in the length before any chunk is read;
  // the chunk nonces catch them again should the length ever agree.
  if (count > UINT32_MAX || payload.end - bodyStart != header.size + count * crypto::kAeadTagSize)
    return ZQCA_ERR_DAMAGED;
  crypto::Aead aead;
  if (uint32_t code = keys::BodyAead(fileKey, header, aead)) return code;
  if (!in.Seek(bodyStart)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  const format::IoPlan io = format::PlanIo(header.size, header.chunkSize, count);
  const size_t chunksPerIo = io.chunksPerIo;
  fileio::PipelinedReader reader(in, payload.end - bodyStart, io.plainBytes + chunksPerIo * crypto::kAeadTagSize,
                                 io.writerBuffers);
  fileio::PipelinedWriter writer(out, io.plainBytes, io.writerBuffers);
  uint64_t done = 0;
  for (uint64_t first = 0; first < count; first += chunksPerIo) {
    uint64_t batch = std::min<uint64_t>(chunksPerIo, count - first);
    size_t bytes = static_cast<size_t>(std::min<uint64_t>(batch * header.chunkSize, header.size - done));
    const uint8_t* sealed = reader.Next(static_cast<size_t>(bytes + batch * crypto::kAeadTagSize));
    if (!sealed) return fileio::CodeFromLastError(ZQCA_ERR_READ);
    std::span<uint8_t> plain = writer.Buffer();
    size_t at = 0, outBytes = 0;
    for (uint64_t i = first; i < first + batch; ++i) {
      size_t want = std::min<size_t>(header.chunkSize, bytes - outBytes);
      auto nonce = format::ChunkNonce(header, static_cast<uint32_t>(i), i + 1 == count);
      if (!aead.Open(nonce, header.mac, {sealed + at, want}, {plain.data() + outBytes, want},
                     {sealed + at + want, crypto::kAeadTagSize}))
        return ZQCA_ERR_DAMAGED;
      at += want + crypto::kAeadTagSize;
      outBytes += want;
      if (!reporter.Advance(done + outBytes)) return ZQCA_ERR_CANCELLED;
    }
    if (!writer.Submit(outBytes)) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
    done += bytes;
  }
  return writer.Finish() ? ZQCA_OK : fileio::CodeFromLastError(ZQCA_ERR_WRITE);
}

uint32_t Decrypt(const Request& request, WString& outputPath, bool* byPassword) {
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  uint32_t code = ZQCA_OK;
  fileio::File in = fileio::OpenExisting(request.source, GENERIC_READ, FILE_SHARE_READ, &code);
  if (!in.IsOpen()) return code;
  auto payload = container::Locate(in);
  if (!payload) return ZQCA_ERR_NOT_ENCRYPTED;
  format::Header header;
  std::vector<uint8_t> raw, sealedMetadata;
  if ((code = container::ReadHeader(in, *payload, header, &raw))) return code;
  if (header.flags & format::kFlagLocked) return ZQCA_ERR_LOCKED;
  const uint64_t metadataStart = payload->offset + raw.size();
  if ((code = ReadSealedMetadata(in, header, payload->end - metadataStart, sealedMetadata))) return code;
  const uint64_t bodyStart = metadataStart + sealedMetadata.size();
  // A stream recorded no size: its body's length tells it.
  std::optional<uint64_t> streamSize;
  if (format::IsStream(header) && !(streamSize = format::StreamSize(payload->end - bodyStart, header.chunkSize)))
    return ZQCA_ERR_DAMAGED;

  crypto::SecureBuffer fileKey(format::kFileKeySize);
  if (!fileKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  if ((code = OpenFileKey(request, header, fileKey, byPassword))) return code;
  platform::FileMetadata kept;
  if ((code = ReadMetadata(header, fileKey.view(), sealedMetadata, kept))) return code;
  // Only now: the MAC and the metadata's seal cover the header as stored.
  if (streamSize) header.size = *streamSize;
  WString path;
  if ((code = OutputPath(request, header, path))) return code;
  if (fileio::Exists(path)) {
    outputPath = path;
    return ZQCA_ERR_OUTPUT_EXISTS;
  }

  Reporter reporter(request.progress, header.size);
  if (!reporter.Begin()) return ZQCA_ERR_CANCELLED;
  fileio::TempFile temp;
  if ((code = temp.Create(request.folder))) return code;
  if ((code = RestoreBody(in, *payload, header, bodyStart, fileKey.view(), temp.file(), reporter))) return code;
  std::vector<platform::MetadataMiss> misses;
  if (!ApplyMetadata(temp.file(), header, kept, misses)) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  in.Close();
  code = temp.Commit(request.folder, path);
  if (code == ZQCA_OK || code == ZQCA_ERR_OUTPUT_EXISTS) outputPath = path;
  if (code == ZQCA_OK) ReportMisses(path, misses);
  return code;
}

// ---- The stream form: read once, front to back, from a pipe. ----

// Reads exactly buffer's size; a stream that ends before is damaged.
uint32_t ReadWhole(ByteReader& in, std::span<uint8_t> buffer) {
  size_t got = 0;
  if (!in.Read(buffer, &got)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  return got == buffer.size() ? ZQCA_OK : ZQCA_ERR_DAMAGED;
}

uint32_t ReadStreamHeader(ByteReader& in, format::Header& header) {
  std::array<uint8_t, format::kPrefixSize> prefix;
  size_t got = 0;
  if (!in.Read(prefix, &got)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  auto length = format::HeaderLength(std::span(prefix).first(got));
  if (!length) return ZQCA_ERR_NOT_ENCRYPTED;
  if (*length < format::kPrefixSize + format::kChecksumSize || *length > format::kMaxHeaderSize)
    return ZQCA_ERR_DAMAGED;
  std::vector<uint8_t> bytes(*length);
  std::copy(prefix.begin(), prefix.end(), bytes.begin());
  if (uint32_t code = ReadWhole(in, std::span(bytes).subspan(prefix.size()))) return code;
  if (uint32_t code = container::CodeOf(format::Parse(bytes, header))) return code;
  // Found in the plain form: one made self-extracting had its stub cut off.
  if (header.flags & format::kFlagSelfExtracting) return ZQCA_ERR_DAMAGED;
  return header.flags & format::kFlagLocked ? ZQCA_ERR_LOCKED : ZQCA_OK;
}

// Opens the body's chunks from in until it ends, writing the plaintext to
// plainOut and the ciphertext as read to sealedCopy, either when given. One
// buffer is read ahead, so the chunks in hand are known to be the last.
uint32_t OpenStreamBody(ByteReader& in, ByteWriter* plainOut, ByteWriter* sealedCopy, const format::Header& header,
                        crypto::Aead& aead) {
  const size_t chunkSize = header.chunkSize, sealedChunk = chunkSize + crypto::kAeadTagSize;
  const size_t perIo = format::ChunksPerStreamStep(header.chunkSize), ioBytes = perIo * sealedChunk;
  std::vector<uint8_t> current(ioBytes), next(ioBytes), plain(perIo * chunkSize);
  size_t have = 0;
  if (!in.Read(current, &have)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  uint64_t index = 0, total = 0;
  for (;;) {
    size_t nextHave = 0;
    if (have == ioBytes && !in.Read(next, &nextHave)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
    const bool last = nextHave == 0;
    if (have == 0) return ZQCA_ERR_DAMAGED;  // every body has a chunk
    if (sealedCopy && !sealedCopy->Write({current.data(), have})) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
    size_t at = 0, outBytes = 0;
    for (; at < have; ++index) {
      const size_t length = std::min(sealedChunk, have - at);
      if (length < crypto::kAeadTagSize || index > UINT32_MAX) return ZQCA_ERR_DAMAGED;
      const size_t want = length - crypto::kAeadTagSize;
      auto nonce = format::ChunkNonce(header, static_cast<uint32_t>(index), last && at + length == have);
      if (!aead.Open(nonce, header.mac, {current.data() + at, want}, {plain.data() + outBytes, want},
                     {current.data() + at + want, crypto::kAeadTagSize}))
        return ZQCA_ERR_DAMAGED;
      at += length;
      outBytes += want;
    }
    total += outBytes;
    if (plainOut && outBytes > 0 && !plainOut->Write({plain.data(), outBytes}))
      return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
    if (last) break;
    std::swap(current, next);
    have = nextHave;
  }
  // A file of known size that authenticated to its last chunk has it; this
  // only guards a writer's fault.
  return format::IsStream(header) || total == header.size ? ZQCA_OK : ZQCA_ERR_DAMAGED;
}

// The given keys first, then what the prompt gives, three tries at most.
uint32_t OpenStreamFileKey(Request request, const format::Header& header, const PasswordPrompt& ask,
                           crypto::SecureBuffer& fileKey, bool* byPassword) {
  uint32_t code = OpenFileKey(request, header, fileKey, byPassword);
  for (int tries = 0; tries < 3 && ask && header.passwordKeyLen != 0 &&
                      (code == ZQCA_ERR_WRONG_KEY || code == ZQCA_ERR_NO_KEY);
       ++tries) {
    std::optional<WString> typed = ask(tries > 0);
    if (!typed) break;
    request.password = *typed;
    code = OpenFileKey(request, header, fileKey, byPassword);
    crypto::Wipe(typed->data(), typed->size() * sizeof(WCHAR));
  }
  return code;
}

uint32_t DecryptFromStream(ByteReader& in, ByteWriter& out, const Request& request, Spool* spool,
                           const PasswordPrompt& ask, bool* byPassword) {
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  format::Header header;
  if (uint32_t code = ReadStreamHeader(in, header)) return code;
  std::vector<uint8_t> sealedMetadata(header.version >= format::kVersion ? header.metadataLength : 0);
  if (uint32_t code = ReadWhole(in, sealedMetadata)) return code;
  crypto::SecureBuffer fileKey(format::kFileKeySize);
  if (!fileKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  if (uint32_t code = OpenStreamFileKey(request, header, ask, fileKey, byPassword)) return code;
  // A pipe takes no metadata, but the block must authenticate all the same.
  platform::FileMetadata unused;
  if (uint32_t code = ReadMetadata(header, fileKey.view(), sealedMetadata, unused)) return code;
  crypto::Aead aead;
  if (uint32_t code = keys::BodyAead(fileKey.view(), header, aead)) return code;
  if (!spool) return OpenStreamBody(in, &out, nullptr, header, aead);
  if (uint32_t code = OpenStreamBody(in, nullptr, spool, header, aead)) return code;
  if (!spool->Rewind()) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  return OpenStreamBody(*spool, &out, nullptr, header, aead);
}

void CopyOut(const WString& path, WCHAR* output) {
  std::memset(output, 0, MAX_PATH * sizeof(WCHAR));
  std::memcpy(output, path.data(), std::min<size_t>(path.size(), fileio::kMaxPath) * sizeof(WCHAR));
}

}  // namespace

void SetStoredKeySource(StoredKeySource source) { storedKeys = source; }
void SetMetadataMissReport(MetadataMissReport report) { missReport = report; }

uint32_t DecryptStream(ByteReader& in, ByteWriter& out, WStringView password, const BYTE* secondKey,
                       uint32_t keyLen, Spool* spool, bool* byPassword, const PasswordPrompt& askPassword) {
  Request request{WString(), WString(), password, secondKey, keyLen, nullptr};
  bool opened = false;
  uint32_t code = DecryptFromStream(in, out, request, spool, askPassword, &opened);
  if (byPassword) *byPassword = opened;
  return code;
}

uint32_t DecryptFile(const WCHAR* source, const WCHAR* folder, const WCHAR* password,
                     uint32_t passwordLength, const BYTE* secondKey, uint32_t keyLen,
                     WCHAR* output, BYTE* flag, ZQCA_ProgressProc progress) {
  if (!source || !folder || !output || (!password && passwordLength > 0)) return ZQCA_ERR_ARGUMENT;
  std::memset(output, 0, MAX_PATH * sizeof(WCHAR));
  auto sourceLength = fileio::BoundedLength(source, MAX_PATH);
  auto folderLength = fileio::BoundedLength(folder, MAX_PATH);
  if (!sourceLength || !folderLength) return ZQCA_ERR_PATH_TOO_LONG;
  if (*sourceLength == 0 || *folderLength == 0) return ZQCA_ERR_ARGUMENT;

  Request request{WString(source, *sourceLength), WString(folder, *folderLength),
                  password ? WStringView(password, passwordLength) : WStringView(), secondKey,
                  keyLen, progress};
  if (request.folder.back() != u'\\') request.folder.push_back(u'\\');
  WString outputPath;
  bool byPassword = false;
  uint32_t code = Decrypt(request, outputPath, &byPassword);
  // The password did open the file, even if writing the output failed later.
  if (byPassword && flag) *flag = 1;
  CopyOut(outputPath, output);
  return code;
}

}  // namespace halvex::cipher
