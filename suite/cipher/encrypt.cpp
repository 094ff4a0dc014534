// Encrypting one file: header and key slots, then the body chunk by chunk
// into a temporary file that is renamed into place only when complete.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/permissions.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"
#include "suite/cipher/kdf.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/reporter.h"
#include "suite/cipher/stubs.h"

namespace halvex::cipher {
namespace {

Aead currentAead = Aead::kAes256Gcm;

struct Source {
  fileio::File file;
  uint64_t size = 0;
  uint64_t modified = 0;
  format::Attributes attributes;
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
  source.attributes.hasMode = facts.hasMode;
  source.attributes.mode = facts.mode;
  return ZQCA_OK;
}

// One slot per distinct key: the first key is a transcoded password (or a
// key the host made up in its place), the second a stored key.
uint32_t AddSlots(format::Header& header, crypto::Bytes fileKey, const BYTE* firstKey,
                  const BYTE* secondKey, uint32_t keyLen, crypto::Bytes spareSalt) {
  struct Given {
    format::SlotKind kind;
    crypto::Bytes key;
  };
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
  return ZQCA_OK;
}

uint32_t BuildHeader(const Source& source, WStringView name, bool selfExtract,
                     const BYTE* firstKey, const BYTE* secondKey, uint32_t keyLen,
                     crypto::SecureBuffer& fileKey, format::Header& header) {
  header.flags = selfExtract ? format::kFlagSelfExtracting : 0;
  header.aead = static_cast<uint8_t>(currentAead);
  header.size = source.size;
  header.modified = source.modified;
  header.name = platform::ToUtf8(name);
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
  if (!keys::SealAttributes(fileKey.view(), header, source.attributes)) return ZQCA_ERR_KDF;
  return keys::HeaderMac(fileKey.view(), header, header.mac) ? ZQCA_OK : ZQCA_ERR_KDF;
}

uint32_t WriteBody(Source& source, const format::Header& header, crypto::Bytes fileKey,
                   fileio::File& out, Reporter& reporter) {
  crypto::SecureBuffer bodyKey(crypto::kAeadKeySize);
  crypto::Aead aead;
  if (!bodyKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  if (!keys::BodyKey(fileKey, bodyKey.span()) ||
      !aead.Init(static_cast<crypto::AeadId>(header.aead), bodyKey.view()))
    return ZQCA_ERR_KDF;
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
  if (uint32_t code = BuildHeader(source, name, selfExtract, firstKey, secondKey, keyLen, fileKey,
                                  header))
    return code;

  Reporter reporter(progress, source.size);
  if (!reporter.Begin()) return ZQCA_ERR_CANCELLED;
  fileio::TempFile temp;
  if (uint32_t code = temp.Create(*folder)) return code;
  fileio::File& out = temp.file();
  const crypto::Bytes stub = selfExtract ? stubs::ForNewFile() : crypto::Bytes();
  uint64_t payloadOffset = stub.size();
  if ((selfExtract && !out.WriteAll(stub)) || !out.WriteAll(format::Serialise(header)))
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
