// CCryptoFile: preparing and releasing the keys of a batch.
#include "halvex/codes.h"
#include "engine/cryptofile.h"
#include "engine/internal.h"
#include "platform/gcrypt.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"

using halvex::engine::SecureWipe;
using halvex::engine::WipeString;

namespace {

uint32_t Fail(tagCRYPTOPARAMS* request, uint32_t code) {
  request->dwErrCode = code;
  return code;
}

// Every other type than 0: one transcoded key (or none) serves as both keys;
// types 3 and 4 also need the batch's message folder.
uint32_t PrepareSharedKey(CCryptoFile& engine, tagCRYPTOPARAMS* request) {
  engine.m_bSelfExtract = 1;
  engine.m_pSecondKey = engine.m_pFirstKey;
  engine.m_nKeySource = KEYS_PASSWORD_ONLY;
  const WCHAR* folderName = nullptr;
  if (request->dwType == REQ_MESSAGE) folderName = WTEXT("WLM\\");
  if (request->dwType == REQ_MESSAGE_COPY) folderName = WTEXT("YAH\\");
  if (!folderName) return 0;
  WString folder = engine.m_FESUtil.CreateMsgSubFolder(folderName, nullptr);
  // A folder from an earlier batch is still a fine home for this batch's
  // outputs; with none at all they would land in the current folder.
  if (!folder.empty()) engine.m_FESUtil.m_strMsgSubFolder = folder;
  if (engine.m_FESUtil.m_strMsgSubFolder.empty()) return Fail(request, ERR_NO_MSG_FOLDER);
  return 0;
}

}  // namespace

uint32_t CCryptoFile::InitCrypto(tagCRYPTOPARAMS* request) {
  m_uFesErrCode = 0;
  m_uApiErrCode = 0;
  m_nKeySource = KEYS_PASSWORD_AND_STORE;
  m_pSecondKey = nullptr;
  m_pFirstKey = nullptr;
  m_bSelfExtract = 0;
  m_dwKeyLen = kKeyLen;

  const WCHAR* password = request->pwszPassword;
  WipeString(m_strPassword);
  if (password) {
    m_strPassword = password;
    uint32_t error = 0;
    m_pFirstKey = ZQCA_PasswordTranscodeW(password, static_cast<uint32_t>(lstrlenW(password)), m_dwKeyLen, &error);
    if (error != 0) return Fail(request, error);
  }

  if (request->dwType != REQ_IN_PLACE) return PrepareSharedKey(*this, request);

  if (!password) {
    GenerateRandKey();
    m_pFirstKey = m_byRandKey;
    m_nKeySource = KEYS_RANDOM_AND_STORE;
  }

  uint32_t ignored = 0;
  uint32_t error = 0;
  m_pSecondKey = ZQKM_GetKeyFromKeyStore(0, &ignored, &error);
  if (error != 0) return Fail(request, error == ZQKM_ERR_UNAVAILABLE ? ERR_KEYSTORE_UNAVAILABLE : error);

  const tagCRYPTOOPTIONS* options = request->pOptions;
  if (options && options->bSelfExtract != 0 && options->dwAction == 1) {
    m_nOutputKind = PROGRESS_ENC_SELFX;
    m_bSelfExtract = 1;
  }
  return 0;
}

void CCryptoFile::GenerateRandKey() {
  // A strong random key of the full byte range: a pseudo-random generator
  // nobody seeds would give every process the same key.
  halvex::platform::RandomBytes(m_byRandKey, sizeof m_byRandKey);
}

void CCryptoFile::UninitCrypto() {
  switch (m_nKeySource) {
    case KEYS_PASSWORD_AND_STORE:
      if (m_pFirstKey) ZQCA_FreeMemory(m_pFirstKey);
      if (m_pSecondKey) ZQKM_FreeMemory(m_pSecondKey);
      break;
    case KEYS_RANDOM_AND_STORE:
      if (m_pSecondKey) ZQKM_FreeMemory(m_pSecondKey);
      SecureWipe(m_byRandKey, sizeof m_byRandKey);
      break;
    default:
      if (m_pFirstKey) ZQCA_FreeMemory(m_pFirstKey);
      break;
  }
  m_pFirstKey = nullptr;
  m_pSecondKey = nullptr;
  // The batch is over: the typed password must not stay in memory until the
  // next one (the object lives as long as the library is loaded).
  WipeString(m_strPassword);
}
