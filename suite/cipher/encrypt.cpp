// Encrypting one file: header and key slots, then the body chunk by chunk
// into a temporary file that is renamed into place only when complete.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/identity.h"
#include "platform/metadata.h"
#include "platform/permissions.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"
#include "suite/cipher/kdf.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/metadata.h"
#include "suite/cipher/recipients.h"
#include "suite/cipher/reporter.h"
#include "suite/cipher/stubs.h"

namespace halvex::cipher {
namespace {

Aead currentAead = Aead::kAes256Gcm;

struct Source {
  fileio::File file;
  uint64_t size = 0;
  uint64_t modified = 0;
  std::vector<uint8_t> records;  // the metadata block's plain records
};

uint32_t OpenSource(const WString& path, Source& source) {
  uint32_t code = ZQCA_OK;
  // Others may read alongside us, but nobody may change the file meanwhile.
  source.file = fileio::OpenExisting(path, GENERIC_READ, FILE_SHARE_READ, &code);
  if (!source.file.IsOpen()) return code;
  platform::OpenFileFacts facts;
  if (!platform::DescribeOpenFile(source.file.get(), &facts)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  source.size = facts.size;
  source.modified = (static_cast<uint64_t>(facts.written.dwHighDateTime) << 32) | facts.written.dwLowDateTime;
  platform::FileMetadata kept;
  if (!platform::ReadFileMetadata(source.file.get(), &kept)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  auto records = metadata::Encode(kept);
  // Only a file with thousands of large extended attributes gets here.
  if (!records) return ZQCA_ERR_ARGUMENT;
  source.records = std::move(*records);
  return ZQCA_OK;
}

// One slot per distinct key: the first key is a transcoded password (or a
// key the host made up in its place), the second a stored key; then one per
// recipient the host set. When the host wants the recipients alone, the keys
// the batch hands over are left out: they would let the sender's password or
// key store open a file meant for the recipients.
uint32_t AddSlots(format::Header& header, crypto::Bytes fileKey, const BYTE* firstKey,
                  const BYTE* secondKey, uint32_t keyLen, crypto::Bytes spareSalt) {
  struct Given {
    format::SlotKind kind;
    crypto::Bytes key;
  };
  const recipients::Plan plan = recipients::Current();
  if (plan.only) firstKey = secondKey = nullptr;
  std::vector<Given> given;
  if (firstKey) given.push_back({format::SlotKind::kPassword, {firstKey, keyLen}});
  if (secondKey && !(firstKey && crypto::Equal({firstKey, keyLen}, {secondKey, keyLen}))) {
    given.push_back({format::SlotKind::kStoredKey, {secondKey, keyLen}});
    header.keyStoreId = keys::KeyStoreId({secondKey, keyLen});
  }
  // The password slot records how its key was transcoded, so the password
  // derives it again. A first key that is no transcoding of ours (a random
  // key in place of a password) records no password key length: no
  // password can open it, and none is derived in the attempt.
  kdf::Recipe recipe{CurrentKdfParams(), {}};
  if (firstKey && kdf::RecipeForKey({firstKey, keyLen}, recipe))
    header.passwordKeyLen = static_cast<uint8_t>(keyLen);
  else
    std::copy(spareSalt.begin(), spareSalt.end(), recipe.salt.begin());
  header.kdfParams = recipe.params;
  header.passwordSalt = recipe.salt;
  header.slots.resize(given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    header.slots[i].kind = given[i].kind;
    if (!keys::WrapSlot(header, i, given[i].key, fileKey, header.slots[i])) return ZQCA_ERR_KDF;
  }
  crypto::SecureBuffer ephemeral(crypto::kX25519Size);
  if (!ephemeral.Ok()) return ZQCA_ERR_NO_MEMORY;
  for (const X25519Key& recipient : plan.keys) {
    format::Slot& slot = header.slots.emplace_back();
    slot.kind = format::SlotKind::kRecipient;
    crypto::StrongRandom(ephemeral.span());
    if (!keys::WrapRecipientSlot(header, header.slots.size() - 1, recipient, ephemeral.view(), fileKey, slot))
      return ZQCA_ERR_KDF;
  }
  return ZQCA_OK;
}

// What a new file's header records of its plaintext.
struct Plaintext {
  uint64_t size;      // 0 for a stream
  uint64_t modified;  // FILETIME
  bool stream;
  crypto::Bytes records;
};

// The header, its MAC and the sealed metadata block that follows it.
uint32_t BuildHeader(const Plaintext& plain, WStringView name, bool selfExtract,
                     const BYTE* firstKey, const BYTE* secondKey, uint32_t keyLen,
                     crypto::SecureBuffer& fileKey, format::Header& header,
                     std::vector<uint8_t>& sealedMetadata) {
  header.flags = static_cast<uint16_t>((selfExtract ? format::kFlagSelfExtracting : 0) |
                                       (plain.stream ? format::kFlagStream : 0));
  header.aead = static_cast<uint8_t>(currentAead);
  header.size = plain.size;
  header.modified = plain.modified;
  header.name = platform::ToUtf8(name);
  header.metadataLength = static_cast<uint32_t>(plain.records.size() + crypto::kAeadTagSize);
  // Every random value a header needs, from one draw: a draw costs a call
  // into the kernel however few bytes it takes. The nonce prefix comes from
  // the strong generator with the rest, which is no weaker than its own.
  constexpr size_t kSalt = format::kSaltSize, kNonce = format::kNoncePrefixSize;
  const size_t keySize = fileKey.size(), spareSize = kdf::kSaltSize;
  crypto::SecureBuffer drawn(kSalt + kNonce + keySize + spareSize);
  if (!drawn.Ok()) return ZQCA_ERR_NO_MEMORY;
  crypto::StrongRandom(drawn.span());
  const uint8_t* next = drawn.data();
  std::copy_n(next, kSalt, header.salt.begin());
  std::copy_n(next += kSalt, kNonce, header.noncePrefix.begin());
  std::copy_n(next += kNonce, keySize, fileKey.data());
  const crypto::Bytes spareSalt{next + keySize, spareSize};
  if (uint32_t code = AddSlots(header, fileKey.view(), firstKey, secondKey, keyLen, spareSalt)) return code;
  if (!keys::HeaderMac(fileKey.view(), header, header.mac) ||
      !metadata::Seal(fileKey.view(), header, plain.records, sealedMetadata))
    return ZQCA_ERR_KDF;
  return ZQCA_OK;
}

uint32_t WriteBody(Source& source, const format::Header& header, crypto::Bytes fileKey,
                   fileio::File& out, Reporter& reporter) {
  crypto::Aead aead;
  if (uint32_t code = keys::BodyAead(fileKey, header, aead)) return code;
  const uint64_t count = format::ChunkCount(header.size, header.chunkSize);
  if (count > UINT32_MAX) return ZQCA_ERR_ARGUMENT;  // beyond the chunk counter
  const format::IoPlan io = format::PlanIo(header.size, header.chunkSize, count);
  const size_t chunksPerIo = io.chunksPerIo;
  fileio::PipelinedReader reader(source.file, header.size, io.plainBytes, io.writerBuffers);
  fileio::PipelinedWriter writer(out, io.plainBytes + chunksPerIo * crypto::kAeadTagSize, io.writerBuffers);
  uint64_t done = 0;
  for (uint64_t first = 0; first < count; first += chunksPerIo) {
    uint64_t batch = std::min<uint64_t>(chunksPerIo, count - first);
    size_t bytes = static_cast<size_t>(std::min<uint64_t>(batch * header.chunkSize, header.size - done));
    const uint8_t* plain = reader.Next(bytes);
    if (!plain) return fileio::CodeFromLastError(ZQCA_ERR_READ);
    std::span<uint8_t> sealed = writer.Buffer();
    size_t in = 0, outBytes = 0;
    for (uint64_t i = first; i < first + batch; ++i) {
      size_t want = std::min<size_t>(header.chunkSize, bytes - in);
      auto nonce = format::ChunkNonce(header, static_cast<uint32_t>(i), i + 1 == count);
      if (!aead.Seal(nonce, header.mac, {plain + in, want}, {sealed.data() + outBytes, want},
                     {sealed.data() + outBytes + want, crypto::kAeadTagSize}))
        return ZQCA_ERR_KDF;
      in += want;
      outBytes += want + crypto::kAeadTagSize;
      if (!reporter.Advance(done + in)) return ZQCA_ERR_CANCELLED;
    }
    if (!writer.Submit(outBytes)) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
    done += bytes;
  }
  if (!writer.Finish()) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  // A file that grew while we read it would be stored cut short.
  uint8_t extra;
  size_t got = 0;
  if (!source.file.ReadUpTo({&extra, 1}, &got)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  return got == 0 ? ZQCA_OK : ZQCA_ERR_READ;
}

// The stream form's body: the size is unknown until the input ends, so one
// buffer is read ahead to tell whether the chunks in hand are the last.
uint32_t WriteStreamBody(ByteReader& in, ByteWriter& out, const format::Header& header, crypto::Bytes fileKey) {
  crypto::Aead aead;
  if (uint32_t code = keys::BodyAead(fileKey, header, aead)) return code;
  const size_t chunkSize = header.chunkSize, perIo = format::ChunksPerStreamStep(header.chunkSize);
  const size_t plainBytes = perIo * chunkSize;
  std::vector<uint8_t> current(plainBytes), next(plainBytes), sealed(plainBytes + perIo * crypto::kAeadTagSize);
  size_t have = 0;
  if (!in.Read(current, &have)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
  for (uint64_t index = 0;;) {
    size_t nextHave = 0;
    if (have == plainBytes && !in.Read(next, &nextHave)) return fileio::CodeFromLastError(ZQCA_ERR_READ);
    const bool last = nextHave == 0;
    const size_t chunks = have == 0 ? 1 : (have + chunkSize - 1) / chunkSize;
    size_t at = 0, outBytes = 0;
    for (size_t c = 0; c < chunks; ++c, ++index) {
      if (index > UINT32_MAX) return ZQCA_ERR_ARGUMENT;  // beyond the chunk counter
      const size_t want = std::min(chunkSize, have - at);
      auto nonce = format::ChunkNonce(header, static_cast<uint32_t>(index), last && c + 1 == chunks);
      if (!aead.Seal(nonce, header.mac, {current.data() + at, want}, {sealed.data() + outBytes, want},
                     {sealed.data() + outBytes + want, crypto::kAeadTagSize}))
        return ZQCA_ERR_KDF;
      at += want;
      outBytes += want + crypto::kAeadTagSize;
    }
    if (!out.Write({sealed.data(), outBytes})) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
    if (last) return ZQCA_OK;
    std::swap(current, next);
    have = nextHave;
  }
}

uint32_t Encrypt(const WString& sourcePath, const WString& destination, const BYTE* firstKey,
                 const BYTE* secondKey, uint32_t keyLen, bool selfExtract,
                 ZQCA_ProgressProc progress) {
  auto folder = fileio::FolderOf(destination);
  if (!folder || fileio::NameOf(destination).empty()) return ZQCA_ERR_ARGUMENT;
  WStringView name = fileio::NameOf(sourcePath);
  // Decryption refuses such a name, so a file made with it could not be opened.
  if (!format::IsSafeName(name)) return ZQCA_ERR_UNSAFE_NAME;
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;

  Source source;
  if (uint32_t code = OpenSource(sourcePath, source)) return code;
  format::Header header;
  crypto::SecureBuffer fileKey(format::kFileKeySize);
  if (!fileKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  std::vector<uint8_t> sealedMetadata;
  if (uint32_t code = BuildHeader({source.size, source.modified, false, source.records}, name, selfExtract,
                                  firstKey, secondKey, keyLen, fileKey, header, sealedMetadata))
    return code;

  Reporter reporter(progress, source.size);
  if (!reporter.Begin()) return ZQCA_ERR_CANCELLED;
  fileio::TempFile temp;
  if (uint32_t code = temp.Create(*folder)) return code;
  fileio::File& out = temp.file();
  const crypto::Bytes stub = selfExtract ? stubs::ForNewFile() : crypto::Bytes();
  uint64_t payloadOffset = stub.size();
  if ((selfExtract && !out.WriteAll(stub)) || !out.WriteAll(format::Serialise(header)) ||
      !out.WriteAll(sealedMetadata))
    return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  if (uint32_t code = WriteBody(source, header, fileKey.view(), out, reporter)) return code;
  if (selfExtract && !out.WriteAll(format::Trailer(payloadOffset)))
    return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  source.file.Close();
  return temp.Commit(*folder, destination);
}

}  // namespace

Aead CurrentAead() { return currentAead; }
void SetAead(Aead aead) { currentAead = aead; }

uint32_t EncryptStream(ByteReader& in, ByteWriter& out, const BYTE* firstKey, const BYTE* secondKey,
                       uint32_t keyLen, WStringView name) {
  if (!firstKey && !secondKey) return ZQCA_ERR_NO_KEY;
  if (keyLen == 0 || keyLen > kdf::kMaxKeyLen) return ZQCA_ERR_ARGUMENT;
  if (!format::IsSafeName(name)) return ZQCA_ERR_UNSAFE_NAME;
  if (!crypto::EnsureInitialised()) return ZQCA_ERR_KDF;
  format::Header header;
  crypto::SecureBuffer fileKey(format::kFileKeySize);
  if (!fileKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  // A pipe has no time, mode or owner of its own: the stream records the
  // time it was made, which a restore to a folder gives the file.
  std::vector<uint8_t> sealedMetadata;
  const Plaintext plain{0, static_cast<uint64_t>(platform::FileClockNow()), true, {}};
  if (uint32_t code = BuildHeader(plain, name, false, firstKey, secondKey, keyLen, fileKey, header, sealedMetadata))
    return code;
  if (!out.Write(format::Serialise(header)) || !out.Write(sealedMetadata))
    return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  return WriteStreamBody(in, out, header, fileKey.view());
}

uint32_t EncryptFile(const WCHAR* source, WCHAR* destination, const BYTE* firstKey,
                     const BYTE* secondKey, uint32_t keyLen, bool selfExtract,
                     ZQCA_ProgressProc progress) {
  if (!source || !destination) return ZQCA_ERR_ARGUMENT;
  auto destinationLength = fileio::BoundedLength(destination, MAX_PATH);
  auto sourceLength = fileio::BoundedLength(source, MAX_PATH);
  if (!destinationLength || !sourceLength) return ZQCA_ERR_PATH_TOO_LONG;
  WString target(destination, *destinationLength);
  uint32_t code = ZQCA_OK;
  if (!firstKey && !secondKey) code = ZQCA_ERR_NO_KEY;
  else if (keyLen == 0 || keyLen > kdf::kMaxKeyLen) code = ZQCA_ERR_ARGUMENT;
  else if (target.empty() || *sourceLength == 0) code = ZQCA_ERR_ARGUMENT;
  // Checked before any work; the rename checks again, without replacing.
  else if (fileio::Exists(target)) return ZQCA_ERR_OUTPUT_EXISTS;
  else code = Encrypt(WString(source, *sourceLength), target, firstKey, secondKey, keyLen,
                      selfExtract, progress);
  // The buffer keeps the destination's name only for a success or for the
  // file in the way; otherwise it must not name a file this call did not make.
  if (code != ZQCA_OK && code != ZQCA_ERR_OUTPUT_EXISTS)
    std::memset(destination, 0, MAX_PATH * sizeof(WCHAR));
  return code;
}

}  // namespace halvex::cipher
