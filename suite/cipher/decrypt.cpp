// Decrypting one file: open a key slot, check the header, then restore the
// body chunk by chunk under the stored name into a temporary file that is
// renamed into place only when every chunk has authenticated.
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/permissions.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/container.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"
#include "suite/cipher/kdf.h"
#include "suite/cipher/keys.h"
#include "suite/cipher/reporter.h"

namespace halvex::cipher {
namespace {

// The key-store's keys, as ZQKM_GetKeyFromKeyStore hands them out.
constexpr size_t kStoredKeySize = 24;
constexpr size_t kMaxStoredKeys = 255;
std::atomic<StoredKeySource> storedKeys{nullptr};

struct Request {
  WString source;
  WString folder;  // ends with a backslash
  WStringView password;
  const BYTE* secondKey;
  uint32_t keyLen;
  ZQCA_ProgressProc progress;
};

// A slot counts as opened only when the file key it yields also verifies the
// header MAC. So a wrong key, a forged slot and a forged header all give one
// answer (no key opens the file): the codes tell an attacker who crafts
// files nothing about a key, not even with slots built to open under many.
bool TryAllSlots(const format::Header& header, crypto::Bytes key, crypto::MutableBytes fileKey) {
  for (size_t i = 0; i < header.slots.size(); ++i) {
    if (!keys::UnwrapSlot(header, i, key, fileKey)) continue;
    std::array<uint8_t, format::kMacSize> mac;
    if (keys::HeaderMac(fileKey, header, mac) && crypto::Equal(mac, header.mac)) return true;
    crypto::Wipe(fileKey.data(), fileKey.size());
  }
  return false;
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

// The second key is tried first: it costs one HMAC, the password an Argon2id.
uint32_t OpenFileKey(const Request& request, const format::Header& header,
                     crypto::SecureBuffer& fileKey, bool* byPassword) {
  bool haveSecond = request.secondKey && request.keyLen > 0 && request.keyLen <= kdf::kMaxKeyLen;
  crypto::Bytes second = haveSecond ? crypto::Bytes{request.secondKey, request.keyLen} : crypto::Bytes{};
  if (haveSecond && (TryAllSlots(header, second, fileKey.span()) ||
                     TryOtherStoredKeys(header, second, fileKey.span()))) {
    *byPassword = false;
    return ZQCA_OK;
  }
  if (request.password.empty() || header.passwordKeyLen == 0)
    return haveSecond || !request.password.empty() ? ZQCA_ERR_WRONG_KEY : ZQCA_ERR_NO_KEY;
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

// Version 1 recorded no attributes; a restored file is then private (0600).
uint32_t ReadAttributes(const format::Header& header, crypto::Bytes fileKey, format::Attributes& attributes) {
  if (header.version == format::kVersion1) return ZQCA_OK;
  return keys::OpenAttributes(fileKey, header, attributes) ? ZQCA_OK : ZQCA_ERR_DAMAGED;
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
  crypto::SecureBuffer bodyKey(crypto::kAeadKeySize);
  crypto::Aead aead;
  if (!bodyKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  if (!keys::BodyKey(fileKey, bodyKey.span()) ||
      !aead.Init(static_cast<crypto::AeadId>(header.aead), bodyKey.view()))
    return ZQCA_ERR_KDF;
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
  std::vector<uint8_t> raw;
  if ((code = container::ReadHeader(in, *payload, header, &raw))) return code;
  if (header.flags & format::kFlagLocked) return ZQCA_ERR_LOCKED;

  crypto::SecureBuffer fileKey(format::kFileKeySize);
  if (!fileKey.Ok()) return ZQCA_ERR_NO_MEMORY;
  if ((code = OpenFileKey(request, header, fileKey, byPassword))) return code;
  format::Attributes attributes;
  if ((code = ReadAttributes(header, fileKey.view(), attributes))) return code;
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
  if ((code = RestoreBody(in, *payload, header, payload->offset + raw.size(), fileKey.view(),
                          temp.file(), reporter)))
    return code;
  FILETIME modified{static_cast<DWORD>(header.modified),
                    static_cast<DWORD>(header.modified >> 32)};
  if (!SetFileTime(temp.file().get(), nullptr, nullptr, &modified) ||
      (attributes.hasMode && !platform::SetPermissions(temp.file().get(), attributes.mode)))
    return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  in.Close();
  code = temp.Commit(request.folder, path);
  if (code == ZQCA_OK || code == ZQCA_ERR_OUTPUT_EXISTS) outputPath = path;
  return code;
}

void CopyOut(const WString& path, WCHAR* output) {
  std::memset(output, 0, MAX_PATH * sizeof(WCHAR));
  std::memcpy(output, path.data(), std::min<size_t>(path.size(), fileio::kMaxPath) * sizeof(WCHAR));
}

}  // namespace

void SetStoredKeySource(StoredKeySource source) { storedKeys = source; }

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
