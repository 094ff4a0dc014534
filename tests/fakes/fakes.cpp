// The scriptable suite: every suite call, recorded and answered from the script.
#include "tests/fakes/fakes.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string_view>

#include "suite/krvdevice.h"
#include "suite/msgbox.h"
#include "suite/progress.h"
#include "suite/zq.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"

#ifdef HALVEX_FAKES_REALCIPHER
#include "suite/cipher/cipher.h"
#endif

namespace halvex::fakes {
namespace {

constexpr std::string_view kEncMagic = "FAKEENC\n";
constexpr std::string_view kSfxMagic = "FAKESFX\n";
constexpr std::string_view kPartial = "PARTIAL\n";
constexpr size_t kPathBuffer = 260;  // the cipher calls' output buffers

struct State {
  Script script;
  std::vector<Call> calls;
  std::set<void*> cipherKeys;
  std::set<void*> storeKeys;
  std::set<void*> realKeys;  // cipher keys from the real transcoder, freed by it
  int badFrees = 0;
  unsigned char keySeed = 0;  // makes every handed-out key distinct
};

State& S() {
  static State state;
  return state;
}

int windowHandleTarget;  // its address is the fake window handle

// ---- Recording -----------------------------------------------------------

void Record(const char* name, std::vector<std::string> args = {}) {
  S().calls.push_back(Call{name, std::move(args)});
}

std::string Text(const WCHAR* s) { return s ? halvex::platform::ToUtf8(s) : "null"; }
std::string Text(const WCHAR* s, uint32_t length) {
  return s ? halvex::platform::ToUtf8(WStringView(s, length)) : "null";
}
std::string Num(int64_t n) { return std::to_string(n); }
std::string Ptr(const void* p) { return p ? "handle" : "null"; }
std::string Window(void** progress) { return progress ? Ptr(*progress) : "null"; }

// Where a key passed to a cipher call came from, so a test can see which key went where.
std::string KeyLabel(const BYTE* key) {
  void* p = const_cast<BYTE*>(key);
  if (!key) return "null";
  if (S().cipherKeys.count(p)) return "cipher-key";
  if (S().storeKeys.count(p)) return "store-key";
  return "key";
}

template <typename T>
T PopOr(std::deque<T>& queue, T fallback) {
  if (queue.empty()) return fallback;
  T value = queue.front();
  queue.pop_front();
  return value;
}

// ---- Files, through the platform layer -------------------------------------

bool Exists(const WString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Reads the whole file; on failure gives the platform's error.
bool ReadAll(const WString& path, std::string& content, DWORD& error) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  content.clear();
  char chunk[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, chunk, sizeof chunk, &got, nullptr)) && got > 0) content.append(chunk, got);
  if (!ok) error = GetLastError();
  CloseHandle(h);
  return ok;
}

// Creates path (never replacing) with content.
bool WriteNew(const WString& path, std::string_view content) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
            written == content.size();
  DWORD error = ok ? 0 : GetLastError();
  CloseHandle(h);
  if (!ok) {
    DeleteFileW(path.c_str());
    SetLastError(error);
  }
  return ok;
}

std::string Prefix(const WString& path, size_t n) {
  std::string content;
  DWORD error = 0;
  if (!ReadAll(path, content, error)) return {};
  return content.substr(0, n);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The cipher code for a source that could not be read.
uint32_t ReadFailure(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION: return ZQCA_ERR_SOURCE_BUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ZQCA_ERR_NOT_FOUND;
    case ERROR_ACCESS_DENIED: return ZQCA_ERR_ACCESS;
    default: return ZQCA_ERR_READ;
  }
}

// The cipher code for an output that could not be written.
uint32_t WriteFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ZQCA_ERR_NOT_FOUND;
    case ERROR_ACCESS_DENIED: return ZQCA_ERR_ACCESS;
    case ERROR_DISK_FULL: return ZQCA_ERR_DISK_FULL;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return ZQCA_ERR_OUTPUT_EXISTS;
    default: return ZQCA_ERR_WRITE;
  }
}

void Fill(WCHAR* buffer, size_t capacity, const WString& text) {
  if (!buffer || capacity == 0) return;
  size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
}

bool EndsWithNoCase(const WString& text, WStringView suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    WCHAR a = text[text.size() - suffix.size() + i];
    WCHAR b = suffix[i];
    auto lower = [](WCHAR c) { return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c + 32) : c; };
    if (lower(a) != lower(b)) return false;
  }
  return true;
}

// The restored name: the source's file name less its last suffix.
WString RestoredName(const WString& source) {
  size_t slash = source.find_last_of(WTEXT("\\/"));
  WString name = slash == WString::npos ? source : source.substr(slash + 1);
  for (WStringView suffix : {WStringView(WTEXT(".qelmenc")), WStringView(WTEXT(".qelmenx")),
                             WStringView(WTEXT(".exe")), WStringView(WTEXT("ENX"))}) {
    if (EndsWithNoCase(name, suffix) && name.size() > suffix.size()) return name.substr(0, name.size() - suffix.size());
  }
  size_t dot = name.find_last_of(WTEXT("."));
  if (dot != WString::npos && dot > 0) return name.substr(0, dot);
  return name + WTEXT(".out");
}

WString InFolder(const WString& folder, const WString& name) {
  if (folder.empty() || folder.back() == WTEXT('\\')) return folder + name;
  return folder + WTEXT("\\") + name;
}

// ---- One cipher file call ---------------------------------------------------

// What a cipher file call does once the default behaviour or the script chose
// its outcome: name the output, report progress, write or leave a partial file.
struct Outcome {
  uint32_t code = 0;
  WString output;         // the path the buffer receives
  std::string content;    // the full output, written on code 0
  std::vector<int32_t> percents;
  bool write = true;
  bool keepPartialOnCancel = false;
  std::function<void()> during;
};

uint32_t Carry(const Outcome& outcome, WCHAR* buffer, ZQCA_ProgressProc progress) {
  Fill(buffer, kPathBuffer, outcome.output);
  if (outcome.during) outcome.during();
  // A partial output stands at the output path while the cipher works.
  bool partial = outcome.write && !outcome.percents.empty() && WriteNew(outcome.output, kPartial);
  for (int32_t percent : outcome.percents) {
    if (progress && progress(percent) != 0) {
      if (partial && !outcome.keepPartialOnCancel) DeleteFileW(outcome.output.c_str());
      return ZQCA_ERR_CANCELLED;
    }
  }
  if (partial && outcome.code == 0) DeleteFileW(outcome.output.c_str());
  if (!outcome.write) return outcome.code;
  if (outcome.code == 0) {
    if (!WriteNew(outcome.output, outcome.content)) return WriteFailure(GetLastError());
  } else if (!partial) {
    WriteNew(outcome.output, kPartial);  // fails harmlessly where a file stands already
  }
  return outcome.code;
}

void ApplyStep(const CipherStep& step, Outcome& outcome) {
  outcome.code = step.code;
  if (step.output) outcome.output = *step.output;
  outcome.percents = step.percents;
  outcome.write = step.write;
  outcome.keepPartialOnCancel = step.keepPartialOnCancel;
  outcome.during = step.during;
}

uint32_t FakeEncrypt(const WString& source, WCHAR* destination, bool selfExtract, ZQCA_ProgressProc progress) {
  Outcome outcome;
  outcome.output = destination ? WString(destination) : WString();
  std::string plain;
  DWORD error = 0;
  bool readable = ReadAll(source, plain, error);
  outcome.content = std::string(selfExtract ? kSfxMagic : kEncMagic) + plain;
  auto& steps = S().script.encryptSteps;
  if (!steps.empty()) {
    ApplyStep(steps.front(), outcome);
    steps.pop_front();
  } else if (!destination) {
    return ZQCA_ERR_ARGUMENT;
  } else if (!readable) {
    return ReadFailure(error);
  } else if (Exists(outcome.output)) {
    return ZQCA_ERR_OUTPUT_EXISTS;
  }
  return Carry(outcome, destination, progress);
}

uint32_t FakeDecrypt(const WString& source, const WString& folder, WCHAR* output, BYTE* flag,
                     ZQCA_ProgressProc progress) {
  Outcome outcome;
  outcome.output = InFolder(folder, RestoredName(source));
  std::string encrypted;
  DWORD error = 0;
  bool readable = ReadAll(source, encrypted, error);
  bool isFake = StartsWith(encrypted, kEncMagic) || StartsWith(encrypted, kSfxMagic);
  if (isFake) outcome.content = encrypted.substr(kEncMagic.size());
  auto& steps = S().script.decryptSteps;
  if (!steps.empty()) {
    const CipherStep& step = steps.front();
    if (flag) *flag = step.flag.value_or(0);
    ApplyStep(step, outcome);
    steps.pop_front();
  } else {
    if (flag) *flag = 0;
    if (!readable) return ReadFailure(error);
    if (!isFake) return ZQCA_ERR_NOT_ENCRYPTED;
    if (Exists(outcome.output)) {
      Fill(output, kPathBuffer, outcome.output);
      return ZQCA_ERR_OUTPUT_EXISTS;
    }
  }
  return Carry(outcome, output, progress);
}

BYTE* HandOutKey(uint32_t keyLen, std::set<void*>& live) {
  size_t n = keyLen ? keyLen : 1;
  BYTE* key = new BYTE[n];
  unsigned char seed = ++S().keySeed;
  for (size_t i = 0; i < n; ++i) key[i] = static_cast<BYTE>(seed * 31 + i);
  live.insert(key);
  return key;
}

void Dispose(void* p) {
#ifdef HALVEX_FAKES_REALCIPHER
  if (S().realKeys.erase(p)) {
    halvex::cipher::FreeSecure(p);
    return;
  }
#endif
  delete[] static_cast<BYTE*>(p);
}

// A key freed through the wrong library stays live: it was not released properly.
void FreeKey(void* p, std::set<void*>& own) {
  if (!p) return;  // freeing nothing is harmless, as with free()
  if (own.erase(p)) {
    Dispose(p);
    return;
  }
  ++S().badFrees;
}

uint32_t AnswerSetting(const WString& value, WCHAR* buffer, uint32_t* size) {
  if (buffer && size) Fill(buffer, *size, value);
  return 0;
}

// ---- Progress windows ----------------------------------------------------------

void WindowCall(const char* name, void** progress, std::vector<std::string> args = {}) {
  args.push_back(Window(progress));
  Record(name, std::move(args));
}

void CreateFakeWindow(const char* name, void** progress) {
  WindowCall(name, progress);
  if (progress) *progress = FakeWindowHandle();
}

void CheckButton(const char* name, tagUIEXCHANGE* ui) {
  Record(name, {ui ? Ptr(ui->hWnd) : "null"});
  int32_t answer = PopOr(S().script.buttonResults, 0);
  if (ui) ui->nResult = answer;
}

}  // namespace

// ---- Test API --------------------------------------------------------------------

Script& script() { return S().script; }
const std::vector<Call>& calls() { return S().calls; }

void Reset() {
  State& s = S();
  for (void* p : s.cipherKeys) Dispose(p);
  for (void* p : s.storeKeys) Dispose(p);
  s.cipherKeys.clear();
  s.storeKeys.clear();
  s.realKeys.clear();
  s.calls.clear();
  s.script = Script{};
  s.badFrees = 0;
  s.keySeed = 0;
}

std::vector<std::string> CallNames(const std::string& prefix) {
  std::vector<std::string> names;
  for (const Call& c : S().calls)
    if (c.name.compare(0, prefix.size(), prefix) == 0) names.push_back(c.name);
  return names;
}

size_t CountOf(const std::string& name) {
  return static_cast<size_t>(std::count_if(S().calls.begin(), S().calls.end(),
                                           [&](const Call& c) { return c.name == name; }));
}

std::vector<Call> CallsOf(const std::string& name) {
  std::vector<Call> found;
  for (const Call& c : S().calls)
    if (c.name == name) found.push_back(c);
  return found;
}

int LiveCipherKeys() { return static_cast<int>(S().cipherKeys.size()); }
int LiveStoreKeys() { return static_cast<int>(S().storeKeys.size()); }
int BadFrees() { return S().badFrees; }
void* FakeWindowHandle() { return &windowHandleTarget; }

}  // namespace halvex::fakes

using namespace halvex::fakes;

// ---- Cipher ------------------------------------------------------------------------

extern "C" {

BYTE* ZQCA_PasswordTranscodeW(const WCHAR* password, uint32_t length, uint32_t keyLen, uint32_t* error) {
  Record("ZQCA_PasswordTranscodeW", {Text(password, password ? length : 0), Num(length), Num(keyLen)});
  const Script& sc = script();
  if (error) *error = sc.transcodeError;
  if (sc.transcodeReturnsNull) return nullptr;
#ifdef HALVEX_FAKES_REALCIPHER
  // The real cipher's files must open with the password later, so the key comes from its transcoder.
  if (sc.realCipher && sc.transcodeError == 0 && password) {
    BYTE* key = nullptr;
    uint32_t code = halvex::cipher::TranscodePassword(WStringView(password, length), keyLen, &key);
    if (error) *error = code;
    if (key) S().cipherKeys.insert(key), S().realKeys.insert(key);
    return key;
  }
#endif
  return HandOutKey(keyLen, S().cipherKeys);
}

uint32_t ZQCA_DualPasswordFileEncryptW(const WCHAR* source, WCHAR* destination, const BYTE* firstKey,
                                       const BYTE* secondKey, uint32_t keyLen, bool selfExtract,
                                       ZQCA_ProgressProc progress) {
  Record("ZQCA_DualPasswordFileEncryptW", {Text(source), Text(destination), KeyLabel(firstKey), KeyLabel(secondKey),
                                           Num(keyLen), Num(selfExtract ? 1 : 0), Ptr(reinterpret_cast<void*>(progress))});
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher)
    return halvex::cipher::EncryptFile(source, destination, firstKey, secondKey, keyLen, selfExtract, progress);
#endif
  return FakeEncrypt(source ? WString(source) : WString(), destination, selfExtract, progress);
}

uint32_t ZQCA_DualPasswordFileDecryptW(const WCHAR* source, const WCHAR* folder, const WCHAR* password,
                                       uint32_t passwordLength, const BYTE* secondKey, uint32_t keyLen,
                                       WCHAR* output, BYTE* flag, ZQCA_ProgressProc progress) {
  Record("ZQCA_DualPasswordFileDecryptW",
         {Text(source), Text(folder), Text(password), Num(passwordLength), KeyLabel(secondKey), Num(keyLen),
          Text(output), flag ? Num(*flag) : "null", Ptr(reinterpret_cast<void*>(progress))});
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher)
    return halvex::cipher::DecryptFile(source, folder, password, passwordLength, secondKey, keyLen, output, flag,
                                      progress);
#endif
  return FakeDecrypt(source ? WString(source) : WString(), folder ? WString(folder) : WString(), output, flag,
                     progress);
}

bool ZQCA_CheckEncryptedFileW(const WCHAR* path) {
  Record("ZQCA_CheckEncryptedFileW", {Text(path)});
  WString p = path ? WString(path) : WString();
  if (script().isEncrypted) return script().isEncrypted(p);
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher) return halvex::cipher::IsEncrypted(path);
#endif
  std::string head = Prefix(p, kEncMagic.size());
  return head == kEncMagic || head == kSfxMagic;
}

bool ZQCA_CheckSelfExtractEncryptedFile(const WCHAR* path) {
  Record("ZQCA_CheckSelfExtractEncryptedFile", {Text(path)});
  WString p = path ? WString(path) : WString();
  if (script().isSelfExtracting) return script().isSelfExtracting(p);
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher) return halvex::cipher::IsSelfExtracting(path);
#endif
  return Prefix(p, kSfxMagic.size()) == kSfxMagic;
}

uint32_t ZQCA_LockFileW(const WCHAR* path) {
  Record("ZQCA_LockFileW", {Text(path)});
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher) return halvex::cipher::Lock(path);
#endif
  return script().lockResult;
}

bool ZQCA_CheckLockedFileW(const WCHAR* path) {
  Record("ZQCA_CheckLockedFileW", {Text(path)});
  if (script().isLocked) return script().isLocked(path ? WString(path) : WString());
#ifdef HALVEX_FAKES_REALCIPHER
  if (script().realCipher) return halvex::cipher::IsLocked(path);
#endif
  return false;
}

void ZQCA_FreeMemory(void* p) {
  Record("ZQCA_FreeMemory", {KeyLabel(static_cast<BYTE*>(p))});
  FreeKey(p, S().cipherKeys);
}

// ---- Key store ---------------------------------------------------------------------

BYTE* ZQKM_GetKeyFromKeyStore(uint32_t reserved, uint32_t* value, uint32_t* error) {
  Record("ZQKM_GetKeyFromKeyStore", {Num(reserved)});
  if (value) *value = 0;
  const Script& sc = script();
  if (error) *error = sc.keystoreError;
  if (sc.keystoreReturnsNull) return nullptr;
  return HandOutKey(24, S().storeKeys);
}

void ZQKM_FreeMemory(void* p) {
  Record("ZQKM_FreeMemory", {KeyLabel(static_cast<BYTE*>(p))});
  FreeKey(p, S().storeKeys);
}

// ---- Settings ----------------------------------------------------------------------

uint32_t ZQ_ReadINIFileW(uint32_t id, WCHAR* buffer, uint32_t* size) {
  Record("ZQ_ReadINIFileW", {Num(id), size ? Num(*size) : "null"});
  return AnswerSetting(id == ZQ_SETTING_VAULT_DRIVE ? script().vaultDrive : WString(), buffer, size);
}

uint32_t ZQ_GetTempFolderPathW(WCHAR* buffer, uint32_t* size) {
  Record("ZQ_GetTempFolderPathW", {size ? Num(*size) : "null"});
  if (script().tempFolder.empty()) return 0;  // the caller's zero-filled buffer stays empty
  return AnswerSetting(script().tempFolder, buffer, size);
}

uint32_t ZQ_WriteLastSPWUseChgTime(uint32_t value) {
  Record("ZQ_WriteLastSPWUseChgTime", {Num(value)});
  return 0;
}

// ---- Progress windows and dialogs -------------------------------------------------

void Encryption_Progress_Create(void** progress) { CreateFakeWindow("Encryption_Progress_Create", progress); }
void Encryption_Progress_SetButtonDisable(void** progress) {
  WindowCall("Encryption_Progress_SetButtonDisable", progress);
}
void Encryption_Progress_SetTitle(void** progress) { WindowCall("Encryption_Progress_SetTitle", progress); }
void Encryption_Progress_Show(void** progress) { WindowCall("Encryption_Progress_Show", progress); }
void Encryption_Progress_Hide(void** progress) { WindowCall("Encryption_Progress_Hide", progress); }
void Encryption_Progress_ReleaseForm(void** progress) { WindowCall("Encryption_Progress_ReleaseForm", progress); }
void Encryption_Progress_SetFileName(const WCHAR* name, void** progress) {
  WindowCall("Encryption_Progress_SetFileName", progress, {Text(name)});
}
void Encryption_Progress_SetPercent(int32_t percent, void** progress) {
  WindowCall("Encryption_Progress_SetPercent", progress, {Num(percent)});
}
void Encryption_Progress_CheckButton(tagUIEXCHANGE* ui) { CheckButton("Encryption_Progress_CheckButton", ui); }

void Decryption_Progress_Create(void** progress) { CreateFakeWindow("Decryption_Progress_Create", progress); }
void Decryption_Progress_Show(void** progress) { WindowCall("Decryption_Progress_Show", progress); }
void Decryption_Progress_Hide(void** progress) { WindowCall("Decryption_Progress_Hide", progress); }
void Decryption_Progress_ReleaseForm(void** progress) { WindowCall("Decryption_Progress_ReleaseForm", progress); }
void Decryption_Progress_SetFileName(const WCHAR* name, void** progress) {
  WindowCall("Decryption_Progress_SetFileName", progress, {Text(name)});
}
void Decryption_Progress_SetPercent(int32_t percent, void** progress) {
  WindowCall("Decryption_Progress_SetPercent", progress, {Num(percent)});
}
void Decryption_Progress_CheckButton(tagUIEXCHANGE* ui) { CheckButton("Decryption_Progress_CheckButton", ui); }

int32_t FF_UI_InitMutex(int32_t value, tagUIEXCHANGE* ui) {
  Record("FF_UI_InitMutex", {Num(value)});
  if (ui) ui->nResult = script().mutexNResult;
  return script().mutexResult;
}

void FF_UI_ReleaseMutex(tagUIEXCHANGE* /*ui*/) { Record("FF_UI_ReleaseMutex"); }

void FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question, int32_t more,
                               tagUIEXCHANGE* ui) {
  Record("FF_ReplaceHiddenForm_Show", {Num(direction), Text(name), Num(question), Num(more)});
  int32_t answer = PopOr(script().promptAnswers, 0);
  if (ui) ui->nResult = answer;
}

void FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode, tagUIEXCHANGE* ui) {
  Record("FF_HandleErrorMsg_Show", {Text(name), Num(fesCode), Num(apiCode)});
  int32_t answer = PopOr(script().errorAnswers, 0);
  if (ui) ui->nResult = answer;
}

// ---- Message box ------------------------------------------------------------------

void ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags) {
  Record("ShowErrorMessage", {Num(reserved), Num(fesCode), Num(apiCode), Num(flags)});
}

}  // extern "C"

// ---- Drive admin ------------------------------------------------------------------

CKRVDevice::CKRVDevice(uint32_t reserved, unsigned long flags) {
  Record("CKRVDevice::CKRVDevice", {Num(reserved), Num(static_cast<int64_t>(flags))});
}

CKRVDevice::~CKRVDevice() { Record("CKRVDevice::~CKRVDevice"); }

int32_t CKRVDevice::IsShow() {
  Record("CKRVDevice::IsShow");
  return PopOr(script().isShowAnswers, 1);
}
