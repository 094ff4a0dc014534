// CCryptoFile: the keys of a batch, and one-file encrypt, decrypt, delete,
// lock and replace through the cipher library.
#pragma once

#include <cstdint>
#include <optional>

#include "halvex/records.h"
#include "platform/export.h"
#include "platform/identity.h"
#include "platform/wide.h"
#include "suite/zqca.h"
#include "util/fesutil.h"

// Which keys the engine owns and how UninitCrypto releases them.
enum : int32_t {
  KEYS_PASSWORD_AND_STORE = 0,  // transcoded password + stored key
  KEYS_RANDOM_AND_STORE = 1,    // m_byRandKey + stored key
  KEYS_PASSWORD_ONLY = 2,       // one transcoded key (or none) serving as both
};

constexpr uint32_t kKeyLen = 24;

// The batch's own steps that file replacement runs around its redo of a
// file: finishing the new output (1 when it was recorded) and cleaning up
// after a failed cipher call (setting the engine's codes).
typedef uint32_t (*PFN_COMMITOUTPUT)(uint32_t index, tagCRYPTOPARAMS* request);
typedef void (*PFN_DISCARDOUTPUT)(tagCRYPTOPARAMS* request);

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
  // Deletes a finished file's source, only while it is the file expected
  // describes. A source found changed is kept (FES_SOURCE_CHANGED), at its
  // name or, when that was taken again meanwhile, at m_strSourceKeptAt.
  int32_t DeleteSourceIfSame(const WCHAR* path, const halvex::platform::FileIdentity& expected);
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

  // What the batch running this engine hands it. An instance of a host's
  // own has none of it: its cipher calls never stop early, its outputs take
  // in-place names, and a replacement keeps the redone output as it is.
  int32_t m_nOutputKind;               // PROGRESS_..., chosen with the batch's window
  ZQCA_ProgressProc m_pfnProgress;     // the cipher calls' progress callback
  PFN_COMMITOUTPUT m_pfnCommitOutput;
  PFN_DISCARDOUTPUT m_pfnDiscardOutput;

  // What the last cipher call left, for the batch to finish the file with.
  WString m_strLastOutput;    // the output path (or, for code 10, the file in the way)
  int32_t m_bTempOutput;      // type 0: the decryption went into the temporary folder
  // The source as it was just before the call: a source is deleted only
  // while it is still that very file, unchanged.
  WString m_strSourceRead;
  std::optional<halvex::platform::FileIdentity> m_sourceIdentity;
  // Where the last DeleteSourceIfSame left the file it found changed, when
  // not at its name; else empty.
  WString m_strSourceKeptAt;
};
