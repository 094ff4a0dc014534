// Cipher library: encrypts, decrypts and tests files; transcodes passwords.
#pragma once

#include <cstdint>

#include "halvex/codes.h"
#include "platform/export.h"
#include "platform/win32.h"

typedef unsigned char BYTE;

// Percent done (0 to 100); a non-zero answer stops the file.
typedef int32_t (*ZQCA_ProgressProc)(int32_t percent);

// Its result codes are in halvex/codes.h (ZQCA_ERR_...), with every other code.

extern "C" {

// Key material of keyLen bytes from the password (Argon2id), freed with
// ZQCA_FreeMemory; *error is 0 on success.
SUITE_API BYTE* ZQCA_PasswordTranscodeW(const WCHAR* password, uint32_t length, uint32_t keyLen,
                                        uint32_t* error);
// destination: a buffer of 260 characters holding the requested output path;
// afterwards it names the output (or, for code 10, the file in the way).
SUITE_API uint32_t ZQCA_DualPasswordFileEncryptW(const WCHAR* source, WCHAR* destination,
                                                 const BYTE* firstKey, const BYTE* secondKey,
                                                 uint32_t keyLen, bool selfExtract,
                                                 ZQCA_ProgressProc progress);
// Restores the original name into folder; output (260 characters) receives
// its path. *flag becomes 1 when the password, not the second key, opened it.
SUITE_API uint32_t ZQCA_DualPasswordFileDecryptW(const WCHAR* source, const WCHAR* folder,
                                                 const WCHAR* password, uint32_t passwordLength,
                                                 const BYTE* secondKey, uint32_t keyLen,
                                                 WCHAR* output, BYTE* flag,
                                                 ZQCA_ProgressProc progress);
SUITE_API bool ZQCA_CheckEncryptedFileW(const WCHAR* path);
SUITE_API bool ZQCA_CheckSelfExtractEncryptedFile(const WCHAR* path);
SUITE_API uint32_t ZQCA_LockFileW(const WCHAR* path);
SUITE_API bool ZQCA_CheckLockedFileW(const WCHAR* path);
SUITE_API void ZQCA_FreeMemory(void* p);

}  // extern "C"
