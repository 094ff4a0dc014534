// CCryptoFile: the keys of a batch, and one-file encrypt, decrypt, delete,
// lock and replace through the cipher library.
#pragma once

#include <cstdint>

#include "batch/records.h"
#include "platform/export.h"
#include "platform/wide.h"
#include "util/fesutil.h"

// The engine's own codes for a failure (the FES code).
enum : uint32_t {
  FES_MOVE_ASIDE_FAILED = 1008,   // moving the file in the output's way aside failed
  FES_DEST_TOO_LONG = 1021,       // a path longer than 245 characters, or cipher code 11
  FES_DISK_FULL = 1022,           // cipher code 12
  FES_ENCRYPT_FAILED = 1301,
  FES_DECRYPT_FAILED = 1302,
  FES_LOCK_FAILED = 1303,         // the cipher library would not lock the file
  FES_READ_ATTR_FAILED = 1304,
  FES_RESET_ATTR_FAILED = 1305,
  FES_DELETE_FAILED = 1306,
  FES_NOT_ENCRYPTED_LOCK = 1307,  // LockFile on a file that is not encrypted
  FES_DECRYPT_DELETE = 1311,      // a decryption returned 1306
  FES_SOURCE_CHANGED = 1312,      // the source changed or went during the call: kept, with the output
  FES_ALREADY_ENCRYPTED = 8501,
  FES_NOT_ENCRYPTED = 8502,
};

// Codes the engine writes to dwErrCode besides the FES codes and cipher codes.
enum : uint32_t {
  ERR_KEYSTORE_UNAVAILABLE = 3,   // the key store reported 1
  ERR_DEST_TOO_LONG = 11,         // an encryption destination longer than 245 characters
  ERR_NO_MSG_FOLDER = 82,         // types 3 and 4: no message folder could be made (cannot make)
  ERR_SELF_EXTRACTOR = 1313,      // types 3 and 4: already a self-extracting encrypted file
};

// Which keys the engine owns and how UninitCrypto releases them.
enum : int32_t {
  KEYS_PASSWORD_AND_STORE = 0,  // transcoded password + stored key
  KEYS_RANDOM_AND_STORE = 1,    // m_byRandKey + stored key
  KEYS_PASSWORD_ONLY = 2,       // one transcoded key (or none) serving as both
};

constexpr uint32_t kKeyLen = 24;

class HALVEX_API CCryptoFile {
 public:
  CCryptoFile();
  CCryptoFile(const CCryptoFile& other);
  CCryptoFile& operator=(const CCryptoFile& other);
  ~CCryptoFile();

  uint32_t InitCrypto(tagCRYPTOPARAMS* request);
  void GenerateRandKey();
  void UninitCrypto();

  void EncryptFileW(tagCRYPTOPARAMS* request, uint32_t index);
  void DecryptFileW(tagCRYPTOPARAMS* request, uint32_t index);

  int32_t DeleteFileW(const WCHAR* path);
  int32_t LockFile(const WCHAR* path);
  int32_t CheckFileLocked(const WCHAR* path);
  int32_t CheckFileEncrypted(const WCHAR* path);

  int32_t DoFileReplacement(tagCRYPTOPARAMS* request, uint32_t index);

  void SetFesErrCode(uint32_t code) { m_uFesErrCode = code; }
  void SetApiErrCode(uint32_t code) { m_uApiErrCode = code; }
  uint32_t GetFesErrCode() const { return m_uFesErrCode; }
  uint32_t GetApiErrCode() const { return m_uApiErrCode; }

  uint32_t m_dwKeyLen;
  BYTE* m_pFirstKey;
  BYTE* m_pSecondKey;
  BYTE m_byRandKey[kKeyLen];
  WString m_strPassword;
  int32_t m_bSelfExtract;
  uint32_t m_uFesErrCode;
  uint32_t m_uApiErrCode;
  int32_t m_nKeySource;
  CFESUtil m_FESUtil;
};
