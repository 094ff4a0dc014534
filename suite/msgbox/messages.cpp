// The message table for FES codes and cipher result codes.
#include "suite/msgbox/messages.h"

#include "halvex/codes.h"

namespace halvex::msgbox {
namespace {

struct Entry {
  uint32_t code;
  const char* text;
};

// The library's own verdicts (FES codes).
constexpr Entry kFes[] = {
    {FES_MOVE_ASIDE_FAILED, "could not move the file in the way aside"},
    {FES_OPEN_FAILED, "could not open the file"},
    {FES_FILE_IN_USE, "the file is in use by another program"},
    {FES_ACCESS_DENIED, "access to the file was denied"},
    {FES_GET_ATTR_FAILED, "could not read the file's attributes"},
    {FES_SET_ATTR_FAILED, "could not change the file's attributes"},
    {FES_PATH_TOO_LONG, "the path is too long"},  // also FES_DEST_TOO_LONG
    {FES_DISK_FULL, "the disk is full"},
    {FES_FILE_NOT_FOUND, "the file does not exist"},
    {FES_ENCRYPT_FAILED, "could not encrypt the file"},
    {FES_DECRYPT_FAILED, "could not decrypt the file"},
    {FES_LOCK_FAILED, "could not lock the file"},
    {FES_READ_ATTR_FAILED, "could not read the file's attributes"},
    {FES_RESET_ATTR_FAILED, "could not clear the file's attributes"},
    {FES_DELETE_FAILED, "could not delete the source file"},
    {FES_NOT_ENCRYPTED_LOCK, "the file is not an encrypted file"},
    {FES_DECRYPT_DELETE, "the decrypted file could not be finished"},
    {FES_SOURCE_CHANGED, "the file changed while it was read: it was kept, and so was the new output"},
    {FES_HARD_LINKED, "the file has other names (hard links); its content would stay readable under them"},
    {FES_NAME_TAKEN, "it holds a file of another name, and a file of that name exists: never replaced"},
    {FES_ALREADY_ENCRYPTED, "the file is already encrypted"},
    {FES_NOT_ENCRYPTED, "the file is not an encrypted file"},
};

// The cipher's result codes, and the key store's failure as the batch reports it.
constexpr Entry kApi[] = {
    {ERR_KEYSTORE_UNAVAILABLE, "the stored key cannot be read (damaged or unreadable key file)"},
    {ZQCA_ERR_SOURCE_BUSY, "the file is in use by another program"},
    {ZQCA_ERR_OUTPUT_EXISTS, "the output file exists already"},
    {ZQCA_ERR_PATH_TOO_LONG, "the path is too long"},
    {ZQCA_ERR_DISK_FULL, "the disk is full"},
    {ZQCA_ERR_WRONG_KEY, "no key given opens the file (neither the password nor the key store)"},
    {ZQCA_ERR_VERSION, "the file was made by a newer version and cannot be read"},
    {ZQCA_ERR_NOT_ENCRYPTED, "the file is not an encrypted file"},
    {ZQCA_ERR_CANCELLED, "cancelled"},
    {ZQCA_ERR_LOCKED, "the file is locked against decryption"},
    {ZQCA_ERR_DAMAGED, "the encrypted file is damaged or has been tampered with"},
    {ZQCA_ERR_EMPTY_PASSWORD, "an empty password cannot be used"},
    {ZQCA_ERR_NO_KEY, "no password or key was given"},
    {ZQCA_ERR_UNSAFE_NAME, "the encrypted file holds an unsafe file name"},
    {ZQCA_ERR_READ, "could not read the file"},
    {ZQCA_ERR_WRITE, "could not write the output file"},
    {ZQCA_ERR_ACCESS, "access to the file or its folder was denied"},
    {ZQCA_ERR_NOT_FOUND, "the file or its folder does not exist"},
    {ZQCA_ERR_ARGUMENT, "invalid argument"},
    {ZQCA_ERR_NO_MEMORY, "out of memory"},
    {ZQCA_ERR_KDF, "the password could not be turned into a key"},
};

// The values of a message batch's per-entry result whose meaning there
// differs from the same number in the FES and API tables.
constexpr Entry kEntryResult[] = {
    {RESULT_ENTRY_MISSING, "the file does not exist"},
    {ERR_SELF_EXTRACTOR, "the file is already a self-extracting encrypted file"},
    {ERR_DEST_TOO_LONG, "the path of the encrypted file would be too long"},
};

// Verdicts on the file itself, which a second try meets again.
constexpr uint32_t kLastingFes[] = {FES_PATH_TOO_LONG, FES_NOT_ENCRYPTED_LOCK, FES_HARD_LINKED,
                                    FES_ALREADY_ENCRYPTED, FES_NOT_ENCRYPTED};
constexpr uint32_t kLastingApi[] = {ZQCA_ERR_PATH_TOO_LONG, ZQCA_ERR_WRONG_KEY,     ZQCA_ERR_VERSION,
                                    ZQCA_ERR_NOT_ENCRYPTED, ZQCA_ERR_LOCKED,        ZQCA_ERR_DAMAGED,
                                    ZQCA_ERR_EMPTY_PASSWORD, ZQCA_ERR_NO_KEY,       ZQCA_ERR_UNSAFE_NAME,
                                    ZQCA_ERR_ARGUMENT,      ZQCA_ERR_KDF};

template <size_t N>
bool Holds(const uint32_t (&codes)[N], uint32_t code) {
  for (uint32_t c : codes)
    if (c == code) return true;
  return false;
}

template <size_t N>
const char* Find(const Entry (&table)[N], uint32_t code) {
  for (const Entry& e : table)
    if (e.code == code) return e.text;
  return nullptr;
}

// FES codes that only say which direction failed; the cipher's code says why.
bool IsGeneral(uint32_t fes) { return fes == FES_ENCRYPT_FAILED || fes == FES_DECRYPT_FAILED; }

}  // namespace

const char* DescribeFes(uint32_t fes) { return Find(kFes, fes); }
const char* DescribeApi(uint32_t api) { return Find(kApi, api); }

const char* DescribeEntryResult(uint32_t result) {
  if (const char* own = Find(kEntryResult, result)) return own;
  // Otherwise the entry's file left its code: the cipher's (first: 1301 and
  // 1307 there are the cipher's reasons), or a check's verdict.
  if (const char* api = DescribeApi(result)) return api;
  if (const char* fes = DescribeFes(result)) return fes;
  return "an unexpected error occurred";
}

const char* Describe(uint32_t fes, uint32_t api) {
  const char* own = DescribeFes(fes);
  if (own && !IsGeneral(fes)) return own;
  if (const char* reason = DescribeApi(api)) return reason;
  if (own) return own;
  return "an unexpected error occurred";
}

bool RetryMayHelp(uint32_t fes, uint32_t api) { return !Holds(kLastingFes, fes) && !Holds(kLastingApi, api); }

std::string Line(uint32_t fes, uint32_t api) {
  return std::string("halvex: ") + Describe(fes, api) + " (" + std::to_string(fes) + ", " + std::to_string(api) + ")";
}

}  // namespace halvex::msgbox
