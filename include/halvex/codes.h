// Every number the library and its hosts exchange, each named once with its
// meaning: request types, the library's own failure codes (FES codes), the
// codes of the cipher and key-store calls (API codes), the other values a
// batch writes to dwErrCode or to a per-entry result, and the length limits.
//
// A value a host sees never changes. Two values carry two meanings each,
// told apart only by where they were read: 1015 and 1313 (see below).
#pragma once

#include <cstdint>

// ---- Request types: tagCRYPTOPARAMS::dwType ----
enum : uint32_t {
  REQ_IN_PLACE = 0,          // encrypt or decrypt every file in place, with prompts, retry and cancel
  REQ_COPY_OR_DECRYPT = 1,   // a self-extracting copy beside every file, all or nothing; or, with
                             // dwAction 1 and dwStatus 0, decryption beside every file
  REQ_COPY_OR_DECRYPT_2 = 2, // the same as 1; hosts use either
  REQ_MESSAGE = 3,           // encrypt into a new folder under "WLM\", one result per entry
  REQ_MESSAGE_COPY = 4,      // as 3 under "YAH\", self-extracting files copied as they are
  REQ_SELF_EXTRACT = 5,      // self-extracting copies, all or nothing; reads no options record
  REQ_COPY_OR_DECRYPT_TITLED = 6,  // as 1, under the window's alternative title
  REQ_LAST = REQ_COPY_OR_DECRYPT_TITLED,  // higher types are ignored and leave no trace
};

// ---- FES codes: the library's own verdict on a file ----
// The processability verdict of CFESUtil::CheckFileProcessable, passed on
// unchanged by the engine as its FES code and as dwErrCode.
enum tagFES_STATUS : uint32_t {
  FES_OK = 0,
  FES_OPEN_FAILED = 1013,      // opening for reading failed (not a sharing violation)
  FES_FILE_IN_USE = 1014,      // opening for reading met a sharing violation
  FES_ACCESS_DENIED = 1015,    // setting the attributes was refused (5); see RESULT_ENTRY_MISSING
  FES_GET_ATTR_FAILED = 1016,  // the attributes could not be read
  FES_SET_ATTR_FAILED = 1017,  // setting the attributes failed otherwise
  FES_PATH_TOO_LONG = 1021,    // the source path has more than kMaxPathChars characters
  FES_FILE_NOT_FOUND = 1026,   // no such file, a folder, or unreadable attributes
};

// The engine's and the outcome handling's FES codes.
enum : uint32_t {
  FES_MOVE_ASIDE_FAILED = 1008,   // moving the file in the output's way aside failed
  FES_DEST_TOO_LONG = 1021,       // the destination is too long, or the cipher said so (11); the
                                  // same value as FES_PATH_TOO_LONG: to the user it is one fault
  FES_DISK_FULL = 1022,           // the cipher call returned ZQCA_ERR_DISK_FULL
  FES_ENCRYPT_FAILED = 1301,      // an encryption failed; the API code says why
  FES_DECRYPT_FAILED = 1302,      // a decryption failed; the API code says why
  FES_LOCK_FAILED = 1303,         // the cipher library would not lock the file
  FES_READ_ATTR_FAILED = 1304,    // reading a file's attributes failed (delete, replace)
  FES_RESET_ATTR_FAILED = 1305,   // setting a file's attributes to normal failed (delete, replace)
  FES_DELETE_FAILED = 1306,       // deleting a file failed
  FES_NOT_ENCRYPTED_LOCK = 1307,  // LockFile on a file that is not encrypted
  FES_DECRYPT_DELETE = 1311,      // a decryption returned FES_DELETE_FAILED
  FES_SOURCE_CHANGED = 1312,      // the source changed or went during the call: kept, with the output
  FES_HARD_LINKED = 1314,         // in-place encryption of a file with other names (hard links),
                                  // whose content would stay readable under them: refused, nothing
                                  // written (HalvexSetLinkPolicy allows it)
  FES_NAME_TAKEN = 1315,          // a decryption's stored name is not the one the encrypted file's own
                                  // name gives, and a file of that name exists: it is never replaced
  FES_ALREADY_ENCRYPTED = 8501,   // encryption of a file that is already encrypted
  FES_NOT_ENCRYPTED = 8502,       // decryption of a file that is not encrypted
};

// ---- API codes: results of the cipher library's calls ----
// The engine reacts to each of these; each comes from a real condition.
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
  ZQCA_ERR_LOCKED = 1313,          // the file is locked against decryption (ZQCA_LockFileW);
                                   // see ERR_SELF_EXTRACTOR
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

// ---- API codes: errors of the key store ----
enum : uint32_t {
  ZQKM_OK = 0,
  ZQKM_ERR_UNAVAILABLE = 1,  // the key file cannot be read, or fails its checksum (becomes ERR_KEYSTORE_UNAVAILABLE)
  ZQKM_ERR_CREATE = 2,       // no key file existed and none could be made
};

// ---- Other values a batch writes to dwErrCode ----
enum : uint32_t {
  ERR_KEYSTORE_UNAVAILABLE = 3,   // the key store reported ZQKM_ERR_UNAVAILABLE; type 0's error
                                  // dialog clears it once the user has been told
  ERR_DEST_TOO_LONG = 11,         // an encryption destination longer than kMaxPathChars characters
  ERR_NO_MSG_FOLDER = 82,         // types 3 and 4: no message folder could be made (cannot make)
  ERR_INVALID_REQUEST = 87,       // no file list, or no options record where the type reads one
                                  // (Win32's ERROR_INVALID_PARAMETER)
  ERR_BATCH_RUNNING = 170,        // another batch is running in this process (Win32's ERROR_BUSY)
  ERR_SELF_EXTRACTOR = 1313,      // types 3 and 4: already a self-extracting encrypted file; the
                                  // same value as ZQCA_ERR_LOCKED, which other types report
  ERR_INTERNAL = 1359,            // a driver failed in a way it did not report (Win32's ERROR_INTERNAL_ERROR)
  ERR_NO_MEMORY = 8,              // memory ran out during the batch (Win32's ERROR_NOT_ENOUGH_MEMORY)
};

// ---- Per-entry results of types 3 and 4 (pdwFileResults) ----
// An entry's result is 0, or what the entry's file left in dwErrCode, except:
enum : uint32_t {
  RESULT_ENTRY_MISSING = 1015,  // the entry names no file (or a folder); the same value as
                                // FES_ACCESS_DENIED, which only the checks of a file that exists give
};

// ---- Lengths ----
// Longest path the library hands to the cipher library, in UTF-16 code units.
constexpr uint32_t kMaxPathChars = 245;
// Characters of a path's tail shown to the user (after "...").
constexpr uint32_t kDisplayTail = 28;
// Characters of the zero-filled buffers outside calls write paths into.
constexpr uint32_t kPathBufferChars = 260;
