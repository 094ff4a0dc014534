// Looking at encrypted files without decrypting them, and locking them.
#include "suite/cipher/cipher.h"
#include "suite/cipher/container.h"
#include "suite/cipher/fileio.h"

namespace halvex::cipher {

bool IsEncrypted(const WCHAR* path) {
  fileio::File file;
  return container::Probe(path, file).has_value();
}

bool IsSelfExtracting(const WCHAR* path) {
  fileio::File file;
  auto payload = container::Probe(path, file);
  return payload && payload->selfExtracting;
}

bool IsLocked(const WCHAR* path) {
  fileio::File file;
  auto payload = container::Probe(path, file);
  format::Header header;
  return payload && container::ReadHeader(file, *payload, header) == ZQCA_OK &&
         (header.flags & format::kFlagLocked);
}

bool DescribeKeys(const WCHAR* path, KeyNeeds& needs) {
  fileio::File file;
  auto payload = container::Probe(path, file);
  format::Header header;
  if (!payload || container::ReadHeader(file, *payload, header) != ZQCA_OK) return false;
  needs = {};
  needs.password = header.passwordKeyLen != 0;
  for (const format::Slot& slot : header.slots) {
    needs.keyStore = needs.keyStore || slot.kind == format::SlotKind::kStoredKey;
    needs.recipients += slot.kind == format::SlotKind::kRecipient;
  }
  needs.keyStoreId = header.keyStoreId;
  return true;
}

// The lock flag lies outside what the header MAC and checksum cover, so
// setting it needs no key and changes one byte: a write torn by a crash
// leaves the file locked or unlocked, never damaged.
uint32_t Lock(const WCHAR* path) {
  if (!path) return ZQCA_ERR_ARGUMENT;
  if (!fileio::BoundedLength(path, MAX_PATH)) return ZQCA_ERR_PATH_TOO_LONG;
  uint32_t code = ZQCA_OK;
  fileio::File file = fileio::OpenExisting(path, GENERIC_READ | GENERIC_WRITE, 0, &code);
  if (!file.IsOpen()) return code;
  auto payload = container::Locate(file);
  if (!payload) return ZQCA_ERR_NOT_ENCRYPTED;
  format::Header header;
  std::vector<uint8_t> raw;
  if ((code = container::ReadHeader(file, *payload, header, &raw))) return code;
  if (header.flags & format::kFlagLocked) return ZQCA_OK;
  const uint8_t locked = format::LockedFlagsByte(raw);
  if (!file.Seek(payload->offset + format::kFlagsOffset) || !file.WriteAll({&locked, 1}))
    return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  if (!FlushFileBuffers(file.get())) return fileio::CodeFromLastError(ZQCA_ERR_WRITE);
  return file.Close() ? ZQCA_OK : fileio::CodeFromLastError(ZQCA_ERR_WRITE);
}

}  // namespace halvex::cipher
