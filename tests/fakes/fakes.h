// Scriptable fakes of every suite call, for behaviour tests linked with
// halvex_core. Every call is recorded with its arguments, in order; every
// answer can be scripted per test. Reset() between tests.
//
// With no script, the fakes behave like a tiny, deterministic suite:
// - encryption writes "FAKEENC\n" (or "FAKESFX\n" when self-extracting)
//   followed by the source's bytes to the requested destination, and fails
//   with 10 when that exists;
// - decryption of such a file writes the bytes back under the source's name
//   less its last suffix (".qelmenc", "ENX", ".exe", ".qelmenx") in the folder
//   given, failing with 10 when that exists;
// - a file is "encrypted" when it starts with either magic and
//   "self-extracting" when it starts with "FAKESFX\n";
// - the key store and the transcoder answer 0 with fresh 24-byte keys.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/wide.h"

namespace halvex::fakes {

struct Call {
  std::string name;               // e.g. "ZQCA_DualPasswordFileEncryptW"
  std::vector<std::string> args;  // each argument as text (wide strings as UTF-8, numbers in decimal)
};
// How arguments are written:
// - pointers that are handles (windows, callbacks): "handle" or "null"; the
//   address of a window handle is recorded as the handle it holds on entry,
//   after the call's other arguments; a button check records ui->hWnd;
// - dialog calls record their arguments but not the exchange block;
// - keys: "cipher-key" (from ZQCA_PasswordTranscodeW), "store-key" (from the
//   key store), "key" (any other buffer) or "null";
// - buffers the call fills are recorded as they were on entry (the output
//   buffer as its text, the decryption flag as its number, sizes as numbers);
// - the drive-admin class records "CKRVDevice::CKRVDevice" (reserved, flags),
//   "CKRVDevice::IsShow" and "CKRVDevice::~CKRVDevice".

// One scripted answer of a cipher file call.
struct CipherStep {
  uint32_t code = 0;               // the call's result
  std::optional<WString> output;   // what the output buffer receives (default: as the default behaviour names it)
  bool write = true;               // on code 0: write the output as the default behaviour does;
                                   // on another code: create a partial file at the output path
  std::vector<int32_t> percents;   // progress callbacks made before finishing; a non-zero answer ends the call with 1310
  std::optional<uint8_t> flag;     // decryption: the one-byte flag (default 0)
  bool keepPartialOnCancel = false;  // a cancelled call leaves its partial output behind
  std::function<void()> during;    // runs mid-call, after the source was read (another program at work)
};

struct Script {
  // Progress windows and dialogs.
  std::deque<int32_t> buttonResults;  // nResult of each *_CheckButton (empty: 0)
  std::deque<int32_t> promptAnswers;  // nResult of each FF_ReplaceHiddenForm_Show (empty: 0)
  std::deque<int32_t> errorAnswers;   // nResult of each FF_HandleErrorMsg_Show (empty: 0)
  int32_t mutexResult = 1;            // FF_UI_InitMutex result
  int32_t mutexNResult = 0;           // ... and the nResult it leaves
  // Cipher.
  std::deque<CipherStep> encryptSteps;  // each ZQCA_DualPasswordFileEncryptW (empty: default behaviour)
  std::deque<CipherStep> decryptSteps;  // each ZQCA_DualPasswordFileDecryptW (empty: default behaviour)
  uint32_t transcodeError = 0;          // ZQCA_PasswordTranscodeW error
  bool transcodeReturnsNull = false;    // ... and whether it returns no key with it
  uint32_t lockResult = 0;              // ZQCA_LockFileW
  std::function<bool(const WString&)> isEncrypted;      // overrides ZQCA_CheckEncryptedFileW
  std::function<bool(const WString&)> isSelfExtracting;  // overrides ZQCA_CheckSelfExtractEncryptedFile
  std::function<bool(const WString&)> isLocked;          // overrides ZQCA_CheckLockedFileW (default false)
  // Key store.
  uint32_t keystoreError = 0;
  bool keystoreReturnsNull = false;
  // Settings.
  WString vaultDrive;   // settings value 25
  WString tempFolder;   // ZQ_GetTempFolderPathW; empty: the string stays empty
  // Drive admin.
  std::deque<int32_t> isShowAnswers;  // each CKRVDevice::IsShow (empty: 1)
  // Forward the cipher's calls (transcoding, file calls, tests, lock) to the
  // project's real cipher library; the is*/lockResult scripts still win where
  // set, and the transcode scripts where they ask for a failure (the tests
  // linking halvex_fakes_realcipher only).
  bool realCipher = false;
};

Script& script();
const std::vector<Call>& calls();
void Reset();

// Names of the recorded calls, in order, optionally only those starting with prefix.
std::vector<std::string> CallNames(const std::string& prefix = "");
size_t CountOf(const std::string& name);
// The recorded calls of one function, in order.
std::vector<Call> CallsOf(const std::string& name);

// Key buffers handed out by ZQCA_PasswordTranscodeW and ZQKM_GetKeyFromKeyStore
// and not yet freed with the matching free function.
int LiveCipherKeys();
int LiveStoreKeys();
// A free with the wrong library's function, or of a pointer never handed out.
int BadFrees();

// The window handle value the create calls store.
void* FakeWindowHandle();

}  // namespace halvex::fakes
