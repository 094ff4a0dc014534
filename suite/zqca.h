// Cipher library: encrypts, decrypts and tests files; transcodes passwords.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "platform/win32.h"

typedef unsigned char BYTE;

// Percent done (0 to 100); a non-zero answer stops the file.
typedef int32_t (*ZQCA_ProgressProc)(int32_t percent);

// Result codes. The engine reacts to each of these; each comes from a real condition.
enum : uint32_t {
  ZQCA_OK = 0,
  ZQCA_ERR_SOURCE_BUSY = 1,        // the source is held elsewhere: the caller retries on a copy
  ZQCA_ERR_OUTPUT_EXISTS = 10,     // the output exists; the output buffer names it
  ZQCA_ERR_PATH_TOO_LONG = 11,     // a path (source, output or temporary) is too long
  ZQCA_ERR_DISK_FULL = 12,         // no space left for the output
  ZQCA_ERR_WRONG_KEY = 1001,       // no key given opens the file
  ZQCA_ERR_VERSION = 1301,         // an encrypted file of a format version this library cannot read
  ZQCA_ERR_NOT_ENCRYPTED = 1307,   // the file is not an encrypted file
  ZQCA_ERR_CANCELLED = 1310,       // the progress callback asked to stop
  ZQCA_ERR_LOCKED = 1313,          // the file is locked against decryption (ZQCA_LockFileW)
  ZQCA_ERR_DAMAGED = 1320,         // damaged or tampered: authentication failed
  ZQCA_ERR_EMPTY_PASSWORD = 1321,  // an empty password is never used as a key
  ZQCA_ERR_NO_KEY = 1322,          // the call was given no key at all
  ZQCA_ERR_UNSAFE_NAME = 1323,     // the stored name is not one plain file name
  ZQCA_ERR_READ = 1324,            // reading the source failed
  ZQCA_ERR_WRITE = 1325,           // writing the output failed (not for lack of space)
  ZQCA_ERR_ACCESS = 1326,          // the source or the output folder may not be opened
  ZQCA_ERR_NOT_FOUND = 1327,       // the source or the output folder does not exist
  ZQCA_ERR_ARGUMENT = 1328,        // a null or malformed argument
  ZQCA_ERR_NO_MEMORY = 1329,       // secure or ordinary memory ran out
  ZQCA_ERR_KDF = 1330,             // the key derivation failed
};

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
