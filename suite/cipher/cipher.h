// The cipher library's own C++ interface. suite/cipher/api.cpp exposes it as
// the ZQCA_* calls of suite/zqca.h; tests and the benchmark call it directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32.h"
#include "platform/wide.h"
#include "suite/zqca.h"

namespace halvex::cipher {

// Argon2id cost. Each encrypted file records the values its password slot was
// made with, so the default can be raised later without breaking old files.
struct KdfParams {
  uint32_t passes;     // t
  uint32_t memoryKiB;  // m
  uint32_t lanes;      // p
  bool operator==(const KdfParams&) const = default;
};

// Measured on the development machine (x86-64, 2 cores, libgcrypt 1.10.1):
// 128 MiB and 3 passes take 0.39-0.45 s on one lane (4 passes took
// 0.47-0.56 s, too long a wait per password). Memory is the part that costs
// an attacker most, so a pass went rather than memory. 128 MiB rather than
// more because the library also runs as a 32-bit DLL, whose address space is
// small and fragmented. Two lanes fill the same memory with the same work
// for an attacker, but each lane runs on its own thread: about half the
// wait on a machine with two cores.
constexpr KdfParams kDefaultKdfParams{3, 128 * 1024, 2};

// What new transcodings use. Tests lower it to keep many derivations cheap;
// files made meanwhile record the lower values and still open.
KdfParams CurrentKdfParams();
void SetKdfParams(KdfParams params);
// How many Argon2id derivations this process has run (cache hits excluded).
uint64_t KdfRunCount();
// Forgets the cached transcoding (wiping it).
void ClearTranscodeCache();

// Password -> keyLen bytes of key material in secure memory, to be freed with
// FreeSecure. Returns a ZQCA_* code; on failure *key is null.
uint32_t TranscodePassword(WStringView password, uint32_t keyLen, BYTE** key);
// Wipes and frees memory from TranscodePassword; accepts null.
void FreeSecure(void* p);

// One file in, one file out; the contracts are those of
// ZQCA_DualPasswordFileEncryptW and ZQCA_DualPasswordFileDecryptW.
uint32_t EncryptFile(const WCHAR* source, WCHAR* destination, const BYTE* firstKey,
                     const BYTE* secondKey, uint32_t keyLen, bool selfExtract,
                     ZQCA_ProgressProc progress);
uint32_t DecryptFile(const WCHAR* source, const WCHAR* folder, const WCHAR* password,
                     uint32_t passwordLength, const BYTE* secondKey, uint32_t keyLen,
                     WCHAR* output, BYTE* flag, ZQCA_ProgressProc progress);

// The stream form, for pipes: no size in advance and no seeking. A host
// gives its own reading and writing.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Fills buffer unless the stream ends first; *got says how much was read
  // (less than asked: the end). False on a read error, the last error set.
  virtual bool Read(std::span<uint8_t> buffer, size_t* got) = 0;
};
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  // Writes all of data; false on an error, the last error set.
  virtual bool Write(std::span<const uint8_t> data) = 0;
};
// Private scratch room (a file no one else can open) for what decryption
// holds back until the last chunk has authenticated: written once, then
// read back from the start.
class Spool : public ByteReader, public ByteWriter {
 public:
  virtual bool Rewind() = 0;
};

// Encrypts everything in comes with into out, in the stream form, under
// the given keys as EncryptFile does; name is what a decryption to a
// folder restores it as. Returns a ZQCA code; out holds garbage on failure.
uint32_t EncryptStream(ByteReader& in, ByteWriter& out, const BYTE* firstKey, const BYTE* secondKey,
                       uint32_t keyLen, WStringView name);
// Decrypts an encrypted file read from in (any form but a self-extracting
// one, whose payload cannot be found without seeking) into out. With a
// spool, nothing reaches out before every chunk has authenticated: the
// ciphertext is held in the spool and opened again from there. Without
// one, each chunk is written as soon as it authenticates, and a cut or
// altered stream leaves what came before it written. *byPassword as the
// flag of DecryptFile. When no key given opens a file a password would,
// askPassword (if given) is asked, up to three times; nothing ends the asking.
using PasswordPrompt = std::function<std::optional<WString>(bool again)>;
uint32_t DecryptStream(ByteReader& in, ByteWriter& out, WStringView password, const BYTE* secondKey,
                       uint32_t keyLen, Spool* spool, bool* byPassword, const PasswordPrompt& askPassword = {});

// What could not be put back on a restored file (an extended attribute the
// file system refuses, an owner only the superuser may give): path is the
// restored file, what names the part, error a Win32 code. The restore goes
// on. Null (the default): not reported.
using MetadataMissReport = void (*)(const WCHAR* path, const char* what, uint32_t error);
void SetMetadataMissReport(MetadataMissReport report);

// Where decryption finds the other stored keys of the user, beyond the one it
// is given: source(id, index, key) copies the index-th key (0, 1, ...) whose
// key-store identifier is id (0: any key) into key (24 bytes), false when
// there is none. When the given key is one of them (a stored key, not a
// password's), a file recording another identifier is tried with the keys of
// that one. Null (the default, and the self-extractor's): none.
using StoredKeySource = bool (*)(uint32_t keyStoreId, size_t index, uint8_t* key);
void SetStoredKeySource(StoredKeySource source);

// What opens an encrypted file, for a host's message when no key it gave did.
struct KeyNeeds {
  bool password = false;    // a slot a password opens
  bool keyStore = false;    // a slot a stored key opens
  uint32_t keyStoreId = 0;  // which key store (0: not recorded, as in version 1)
  size_t recipients = 0;    // slots an identity opens
};
// False when path is no encrypted file whose header reads.
bool DescribeKeys(const WCHAR* path, KeyNeeds& needs);

bool IsEncrypted(const WCHAR* path);
bool IsSelfExtracting(const WCHAR* path);
bool IsLocked(const WCHAR* path);
uint32_t Lock(const WCHAR* path);

// Which AEAD seals new files: the faster one here (AES-256-GCM, measured at
// about 4.9 GiB/s against 3.0 GiB/s for ChaCha20-Poly1305 with AES-NI and
// VPCLMULQDQ). Both are read.
enum class Aead : uint8_t { kAes256Gcm = 1, kChaCha20Poly1305 = 2 };
Aead CurrentAead();
void SetAead(Aead aead);  // for tests and the benchmark

// Public-key recipients. A recipient is an X25519 public key; the identity
// is its private key. Both are set by the host, never by the batch: the
// batch goes on handing over its password and stored keys as before.
using X25519Key = std::array<uint8_t, 32>;
// At most this many recipients per file, so one header stays small (FORMAT.md).
constexpr size_t kMaxRecipients = 128;

// Every file encrypted from now on also gets one slot per recipient. With
// recipientsOnly it gets nothing else: the keys the batch hands over (its
// password's, the key store's) are not written, so neither opens the file.
// False (nothing changed) when there are more than kMaxRecipients. An empty
// list clears the recipients, and recipientsOnly with it.
bool SetRecipients(std::span<const X25519Key> recipients, bool recipientsOnly);
// Every file decrypted from now on is tried with these private keys first.
// False (nothing changed) for a key whose public key is unusable.
bool AddIdentity(const X25519Key& identity);
void ClearIdentities();

// The one-line text forms (FORMAT.md: Text forms): "halvex1" and 58
// lower-case base32 characters for a recipient, "HALVEX-SECRET-KEY-1" and 58
// upper-case ones for an identity, each holding the key and a checksum.
// Surrounding blanks are ignored; anything else that does not fit is refused.
std::optional<X25519Key> ParseRecipient(std::string_view line);
std::optional<X25519Key> ParseIdentity(std::string_view line);
std::string RecipientText(const X25519Key& publicKey);
std::string IdentityText(const X25519Key& identity);
// A new private key from the strong generator, and the public key of one.
bool NewIdentity(X25519Key& identity);
bool PublicKeyOf(const X25519Key& identity, X25519Key& publicKey);

}  // namespace halvex::cipher
