// The host calls the library exports itself: its version, a sentence for each
// code, and a UTF-8 password in the wide form a request takes.
#include <cstdio>
#include <string_view>

#include "halvex/codes.h"
#include "halvex/host.h"
#include "platform/wide.h"

namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

// Every value of halvex/codes.h once, with each of its meanings and where a
// host reads each. Request types are not codes and have no entry.
constexpr CodeText kCodes[] = {
    {ZQCA_OK,
     "Done: the file succeeded (as dwErrCode: the last file that reached the engine succeeded, or none did)."},
    {ZQCA_ERR_SOURCE_BUSY,
     "Two meanings. From the cipher: the source is held by another program (the library retries on a copy). "
     "From the key store: the key file cannot be read or fails its check."},
    {ZQKM_ERR_CREATE, "No key store existed and none could be made (its folder cannot be written); no file was touched."},
    {ERR_KEYSTORE_UNAVAILABLE,
     "The key store exists but cannot be read or is damaged; it is never replaced, and no file was touched."},
    {ERR_NO_MEMORY, "The library ran out of memory."},
    {ZQCA_ERR_OUTPUT_EXISTS, "The output file exists already and was left alone."},
    {ZQCA_ERR_PATH_TOO_LONG,
     "A path is too long: an encryption's destination would have more than 245 characters, or the cipher found "
     "a path too long for it."},
    {ZQCA_ERR_DISK_FULL, "The disk is full."},
    {ERR_NO_MSG_FOLDER, "No message folder could be made in the temporary folder."},
    {ERR_INVALID_REQUEST,
     "Invalid argument: the request had no file list, or no options record for a type that reads one; "
     "from a host call, a value outside its list (nothing changed)."},
    {ERR_BATCH_RUNNING, "Another batch is running in this process; nothing was touched."},
    {ZQCA_ERR_WRONG_KEY, "No key given opens the file: a wrong password, or another key store."},
    {FES_MOVE_ASIDE_FAILED, "The file in the output's way could not be moved aside."},
    {FES_OPEN_FAILED, "The file cannot be opened for reading."},
    {FES_FILE_IN_USE, "Another program holds the file."},
    {FES_ACCESS_DENIED,
     "Two meanings. As a file's code: access denied, the file's attributes may not be changed. "
     "In pdwFileResults (types 3, 4) for an entry that names no file: the entry is missing."},
    {FES_GET_ATTR_FAILED, "The file's attributes cannot be read."},
    {FES_SET_ATTR_FAILED, "The file's attributes cannot be set."},
    {FES_PATH_TOO_LONG, "The path of the file or of its output is too long: more than 245 characters."},
    {FES_DISK_FULL, "The disk is full."},
    {FES_FILE_NOT_FOUND, "The file does not exist."},
    {ZQCA_ERR_VERSION,
     "Two meanings. From the cipher: the file is encrypted in a format version this library cannot read. "
     "As the library's own code: encrypting the file failed (the cipher's code says why)."},
    {FES_DECRYPT_FAILED, "Decrypting the file failed (the cipher's code says why)."},
    {FES_LOCK_FAILED, "The file could not be locked against decryption."},
    {FES_READ_ATTR_FAILED, "A file's attributes could not be read."},
    {FES_RESET_ATTR_FAILED, "A file's attributes could not be cleared."},
    {FES_DELETE_FAILED, "The source could not be deleted after its output was finished; the output was removed again."},
    {ZQCA_ERR_NOT_ENCRYPTED, "The file is not an encrypted file (it cannot be locked or decrypted)."},
    {ZQCA_ERR_CANCELLED, "The file was abandoned by a cancel and left as it was."},
    {FES_DECRYPT_DELETE,
     "The encrypted source could not be deleted after its decryption; the output was removed again."},
    {FES_SOURCE_CHANGED,
     "The source changed or went while it was processed, or a newer file took its name: both it and the new "
     "output were kept."},
    {ZQCA_ERR_LOCKED,
     "Two meanings. As a file's code: the file is locked against decryption. In pdwFileResults (types 3, 4): "
     "the file is already a self-extracting encrypted file."},
    {FES_HARD_LINKED,
     "The file has other names (hard links), under which its content would stay readable: not encrypted."},
    {FES_NAME_TAKEN,
     "The encrypted file holds a file of another name than its own gives, and a file of that name exists: "
     "never replaced."},
    {ZQCA_ERR_DAMAGED, "The encrypted file is damaged or was tampered with."},
    {ZQCA_ERR_EMPTY_PASSWORD, "The password is empty; an empty password is never used as a key."},
    {ZQCA_ERR_NO_KEY, "No key at all: this request type needs a password."},
    {ZQCA_ERR_UNSAFE_NAME, "The name stored in the encrypted file is not one plain file name; nothing was written."},
    {ZQCA_ERR_READ, "Reading the source failed."},
    {ZQCA_ERR_WRITE, "Writing the output failed."},
    {ZQCA_ERR_ACCESS, "Access to the file or its folder was denied."},
    {ZQCA_ERR_NOT_FOUND, "The file or its folder does not exist."},
    {ZQCA_ERR_ARGUMENT, "The cipher was given a null or malformed argument."},
    {ZQCA_ERR_NO_MEMORY, "The cipher ran out of memory."},
    {ZQCA_ERR_KDF, "The password could not be turned into a key."},
    {ERR_INTERNAL, "An internal failure stopped the batch."},
    {FES_ALREADY_ENCRYPTED, "The file is already encrypted."},
    {FES_NOT_ENCRYPTED, "The file is not an encrypted file."},
};

}  // namespace

const char* HalvexVersion(int* major, int* minor, int* patch) {
  if (major) *major = HALVEX_VERSION_MAJOR;
  if (minor) *minor = HALVEX_VERSION_MINOR;
  if (patch) *patch = HALVEX_VERSION_PATCH;
  return HALVEX_VERSION_TEXT;
}

const char* HalvexDescribeCode(uint32_t code) {
  for (const CodeText& c : kCodes)
    if (c.code == code) return c.text;
  thread_local char unknown[sizeof "unknown code 4294967295"];
  std::snprintf(unknown, sizeof unknown, "unknown code %lu", static_cast<unsigned long>(code));
  return unknown;
}

size_t HalvexPasswordFromUtf8(const char* utf8, HALVEX_WCHAR* buffer, size_t capacity) {
  if (!utf8) return 0;
  return halvex::platform::FromUtf8Into(utf8, buffer, capacity);
}
