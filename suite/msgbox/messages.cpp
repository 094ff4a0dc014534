// The message table for FES codes and cipher result codes.
#include "suite/msgbox/messages.h"

#include "suite/zqca.h"

namespace halvex::msgbox {
namespace {

struct Entry {
  uint32_t code;
  const char* text;
};

// The engine's own verdicts.
constexpr Entry kFes[] = {
    {1008, "could not move the file in the way aside"},
    {1013, "could not open the file"},
    {1014, "the file is in use by another program"},
    {1015, "access to the file was denied"},
    {1016, "could not read the file's attributes"},
    {1017, "could not change the file's attributes"},
    {1021, "the path is too long"},
    {1022, "the disk is full"},
    {1026, "the file does not exist"},
    {1301, "could not encrypt the file"},
    {1302, "could not decrypt the file"},
    {1303, "could not lock the file"},
    {1304, "could not read the file's attributes"},
    {1305, "could not clear the file's attributes"},
    {1306, "could not delete the source file"},
    {1307, "the file is not an encrypted file"},
    {1311, "the decrypted file could not be finished"},
    {1312, "the file changed while it was read: it was kept, and so was the new output"},
    {8501, "the file is already encrypted"},
    {8502, "the file is not an encrypted file"},
};

// The cipher's result codes (suite/zqca.h), and 3: the key store could not be read.
constexpr Entry kApi[] = {
    {3, "the stored key cannot be read (damaged or unreadable key file)"},
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

template <size_t N>
const char* Find(const Entry (&table)[N], uint32_t code) {
  for (const Entry& e : table)
    if (e.code == code) return e.text;
  return nullptr;
}

// FES codes that only say which direction failed; the cipher's code says why.
bool IsGeneral(uint32_t fes) { return fes == 1301 || fes == 1302; }

}  // namespace

const char* DescribeFes(uint32_t fes) { return Find(kFes, fes); }
const char* DescribeApi(uint32_t api) { return Find(kApi, api); }

const char* Describe(uint32_t fes, uint32_t api) {
  const char* own = DescribeFes(fes);
  if (own && !IsGeneral(fes)) return own;
  if (const char* reason = DescribeApi(api)) return reason;
  if (own) return own;
  return "an unexpected error occurred";
}

std::string Line(uint32_t fes, uint32_t api) {
  return std::string("halvex: ") + Describe(fes, api) + " (" + std::to_string(fes) + ", " + std::to_string(api) + ")";
}

}  // namespace halvex::msgbox
