// The batch request a host hands to Halvex, and its options and result record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "halvex/filelist.h"
#include "halvex/types.h"

// Options and results. In a 32-bit build the library uses its first 32 bytes.
struct tagCRYPTOOPTIONS {
  union {
    uint32_t dwStatus;         // type 0: 1 when the batch ended by cancel; types 1, 2, 6: in
    uint32_t* pdwFileResults;  // types 3, 4: one result code per list entry
  };
  uint32_t dwAction;        // type 0: 1 encrypt, 0 decrypt; types 1, 2, 6: selects the mode
  uint32_t bSelfExtract;    // type 0 encryption: self-extracting outputs, sources kept
  uint32_t dwReserved;      // never read or written
  uint32_t bDecryptToTemp;  // type 0 decryption: output into the temporary folder, source kept
  uint32_t nSkipped;        // files the user chose to skip
  uint32_t nSucceeded;      // files completed and recorded
  uint32_t nPassedOver;     // files refused by the cipher with 1001, 1301 or 1313
};

// The batch request. 20 bytes in a 32-bit build.
struct tagCRYPTOPARAMS {
  uint32_t dwType;              // 0 to 6
  const HALVEX_WCHAR* pwszPassword;    // may be null
  CFileList* pFileList;         // never null
  uint32_t dwErrCode;           // written by the library
  tagCRYPTOOPTIONS* pOptions;   // never null for types 0 to 4 and 6
};

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(tagCRYPTOPARAMS) == 20);
static_assert(offsetof(tagCRYPTOPARAMS, dwType) == 0);
static_assert(offsetof(tagCRYPTOPARAMS, pwszPassword) == 4);
static_assert(offsetof(tagCRYPTOPARAMS, pFileList) == 8);
static_assert(offsetof(tagCRYPTOPARAMS, dwErrCode) == 12);
static_assert(offsetof(tagCRYPTOPARAMS, pOptions) == 16);
static_assert(offsetof(tagCRYPTOOPTIONS, dwStatus) == 0);
static_assert(offsetof(tagCRYPTOOPTIONS, pdwFileResults) == 0);
static_assert(offsetof(tagCRYPTOOPTIONS, dwAction) == 4);
static_assert(offsetof(tagCRYPTOOPTIONS, bSelfExtract) == 8);
static_assert(offsetof(tagCRYPTOOPTIONS, bDecryptToTemp) == 16);
static_assert(offsetof(tagCRYPTOOPTIONS, nSkipped) == 20);
static_assert(offsetof(tagCRYPTOOPTIONS, nSucceeded) == 24);
static_assert(offsetof(tagCRYPTOOPTIONS, nPassedOver) == 28);
static_assert(sizeof(tagCRYPTOOPTIONS) == 32);
#endif
