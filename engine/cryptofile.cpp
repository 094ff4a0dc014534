// CCryptoFile: construction, copying and destruction.
#include "engine/cryptofile.h"

#include <cstring>

#include "engine/internal.h"

using halvex::engine::SecureWipe;
using halvex::engine::WipeString;

namespace {

// Copies share the key store's and the cipher library's key buffers. The
// random key, though, lives inside the object: a copy pointing into its
// source would read freed memory once the source is gone, so it points at
// its own copy of the same bytes.
void AdoptOwnRandKey(CCryptoFile& self, const CCryptoFile& other) {
  if (other.m_pFirstKey == other.m_byRandKey) self.m_pFirstKey = self.m_byRandKey;
  if (other.m_pSecondKey == other.m_byRandKey) self.m_pSecondKey = self.m_byRandKey;
}

}  // namespace

CCryptoFile::CCryptoFile()
    : m_dwKeyLen(0),
      m_pFirstKey(nullptr),
      m_pSecondKey(nullptr),
      m_byRandKey{},
      m_bSelfExtract(0),
      m_uFesErrCode(0),
      m_uApiErrCode(0),
      m_nKeySource(0),
      m_nOutputKind(PROGRESS_NONE),
      m_pfnProgress(nullptr),
      m_pfnCommitOutput(nullptr),
      m_pfnDiscardOutput(nullptr),
      m_bTempOutput(0) {}

// Written out because of the random key (above) and the password, which an
// assignment wipes before it is replaced; every other member is copied as is.
CCryptoFile::CCryptoFile(const CCryptoFile& other)
    : m_dwKeyLen(other.m_dwKeyLen),
      m_pFirstKey(other.m_pFirstKey),
      m_pSecondKey(other.m_pSecondKey),
      m_strPassword(other.m_strPassword),
      m_bSelfExtract(other.m_bSelfExtract),
      m_uFesErrCode(other.m_uFesErrCode),
      m_uApiErrCode(other.m_uApiErrCode),
      m_nKeySource(other.m_nKeySource),
      m_FESUtil(other.m_FESUtil),
      m_nOutputKind(other.m_nOutputKind),
      m_pfnProgress(other.m_pfnProgress),
      m_pfnCommitOutput(other.m_pfnCommitOutput),
      m_pfnDiscardOutput(other.m_pfnDiscardOutput),
      m_strLastOutput(other.m_strLastOutput),
      m_bTempOutput(other.m_bTempOutput),
      m_strSourceRead(other.m_strSourceRead),
      m_sourceIdentity(other.m_sourceIdentity),
      m_strSourceKeptAt(other.m_strSourceKeptAt) {
  std::memcpy(m_byRandKey, other.m_byRandKey, sizeof m_byRandKey);
  AdoptOwnRandKey(*this, other);
}

CCryptoFile& CCryptoFile::operator=(const CCryptoFile& other) {
  if (this == &other) return *this;
  m_dwKeyLen = other.m_dwKeyLen;
  m_pFirstKey = other.m_pFirstKey;
  m_pSecondKey = other.m_pSecondKey;
  std::memcpy(m_byRandKey, other.m_byRandKey, sizeof m_byRandKey);
  WipeString(m_strPassword);
  m_strPassword = other.m_strPassword;
  m_bSelfExtract = other.m_bSelfExtract;
  m_uFesErrCode = other.m_uFesErrCode;
  m_uApiErrCode = other.m_uApiErrCode;
  m_nKeySource = other.m_nKeySource;
  m_FESUtil = other.m_FESUtil;
  m_nOutputKind = other.m_nOutputKind;
  m_pfnProgress = other.m_pfnProgress;
  m_pfnCommitOutput = other.m_pfnCommitOutput;
  m_pfnDiscardOutput = other.m_pfnDiscardOutput;
  m_strLastOutput = other.m_strLastOutput;
  m_bTempOutput = other.m_bTempOutput;
  m_strSourceRead = other.m_strSourceRead;
  m_sourceIdentity = other.m_sourceIdentity;
  m_strSourceKeptAt = other.m_strSourceKeptAt;
  AdoptOwnRandKey(*this, other);
  return *this;
}

CCryptoFile::~CCryptoFile() {
  // Keys are released only by UninitCrypto; what this object holds itself is
  // wiped here.
  WipeString(m_strPassword);
  SecureWipe(m_byRandKey, sizeof m_byRandKey);
}
