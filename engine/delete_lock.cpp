// CCryptoFile: deleting whole files, and the cipher library's lock and tests.
#include "engine/cryptofile.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/zqca.h"

namespace {

int32_t Failed(CCryptoFile& engine, uint32_t fesCode, uint32_t apiCode = 0) {
  engine.SetFesErrCode(fesCode);
  engine.SetApiErrCode(apiCode);
  return 0;
}

bool Gone() { return GetLastError() == ERROR_FILE_NOT_FOUND; }

// A file that stays gets back the attributes the delete reset when it is the
// very file they were read from, at its name; a newer file saved over the
// name keeps its own.
void RestoreKeptAttributes(const WCHAR* path, const halvex::platform::FileIdentity& expected, DWORD attributes) {
  const auto now = halvex::platform::GetFileIdentity(path);
  if (now && now->volume == expected.volume && now->index == expected.index) SetFileAttributesW(path, attributes);
}

}  // namespace

int32_t CCryptoFile::DeleteFileW(const WCHAR* path) {
  if (!path) path = WTEXT("");
  // Read-only, hidden and system files are deleted too; a file that cannot
  // be deleted gets its attributes back, untouched. The attributes read
  // first answer the reset's own look.
  halvex::platform::LookScope looks;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(*this, FES_READ_ATTR_FAILED);
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) return Failed(*this, FES_RESET_ATTR_FAILED);
  if (!::DeleteFileW(path)) {
    SetFileAttributesW(path, attributes);
    return Failed(*this, FES_DELETE_FAILED);
  }
  return 1;
}

int32_t CCryptoFile::DeleteSourceIfSame(const WCHAR* path, const halvex::platform::FileIdentity& expected) {
  using halvex::platform::DeleteIfSame;
  m_strSourceKeptAt.clear();
  halvex::platform::LookScope looks;
  // A source gone since it was found unchanged is not a failure to delete
  // it: the output, then its only copy, stays.
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(*this, Gone() ? FES_SOURCE_CHANGED : FES_READ_ATTR_FAILED);
  if (!SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
    return Failed(*this, Gone() ? FES_SOURCE_CHANGED : FES_RESET_ATTR_FAILED);
  switch (halvex::platform::DeleteFileIfSame(path, expected, &m_strSourceKeptAt)) {
    case DeleteIfSame::kDeleted: return 1;
    case DeleteIfSame::kChanged:
      if (m_strSourceKeptAt.empty()) RestoreKeptAttributes(path, expected, attributes);
      return Failed(*this, FES_SOURCE_CHANGED);
    case DeleteIfSame::kFailed: break;
  }
  RestoreKeptAttributes(path, expected, attributes);
  return Failed(*this, FES_DELETE_FAILED);
}

int32_t CCryptoFile::LockFile(const WCHAR* path) {
  if (!path) path = WTEXT("");
  if (!ZQCA_CheckEncryptedFileW(path)) return Failed(*this, FES_NOT_ENCRYPTED_LOCK);
  const uint32_t code = ZQCA_LockFileW(path);
  if (code != 0) return Failed(*this, FES_LOCK_FAILED, code);
  return 1;
}

int32_t CCryptoFile::CheckFileLocked(const WCHAR* path) {
  return ZQCA_CheckLockedFileW(path ? path : WTEXT("")) ? 1 : 0;
}

int32_t CCryptoFile::CheckFileEncrypted(const WCHAR* path) {
  return ZQCA_CheckEncryptedFileW(path ? path : WTEXT("")) ? 1 : 0;
}
