// The interactive batch (type 0): encrypts or decrypts every listed file in
// place, with prompts, retries, replacement and cancel.
#include <algorithm>
#include <atomic>

#include "halvex/host.h"

#include "batch/drivers.h"
#include "batch/events.h"
#include "batch/frame.h"
#include "batch/outcome.h"
#include "batch/progress.h"
#include "batch/state.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/krvdevice.h"
#include "suite/zq.h"

namespace {

// Room for settings value 25, in characters.
constexpr uint32_t kVaultSettingChars = 256;

// Settings value 25 is read for every file, so a change during a batch
// counts from the next file on.
void NoteVaultDrive(const WString& path) {
  BatchState& s = State();
  s.strVaultDrive.clear();
  WCHAR buffer[kVaultSettingChars] = {};
  uint32_t size = kVaultSettingChars;
  ZQ_ReadINIFileW(ZQ_SETTING_VAULT_DRIVE, buffer, &size);
  // A value that fills the buffer without a terminator is cut, not overrun.
  const WCHAR* end = std::find(buffer, buffer + kVaultSettingChars - 1, WCHAR{0});
  s.strVaultDrive.assign(buffer, static_cast<size_t>(end - buffer));
  if (!s.strVaultDrive.empty() && !path.empty() && path[0] == s.strVaultDrive[0]) s.bOnVaultDrive = 1;
}

bool VaultDriveGone() {
  CKRVDevice device(0, 0);
  return device.IsShow() == 0;
}

// HalvexSetLinkPolicy: whether a file with other names is encrypted in place.
std::atomic<bool> g_encryptLinkedFiles{false};

// An in-place encryption deletes the plain file by one name only: under its
// other names the content would stay readable, so such a file is refused
// unless the host allows it.
bool RefusedForOtherNames(const WString& path) {
  if (State().cryptoFile.m_nOutputKind != PROGRESS_ENC || g_encryptLinkedFiles) return false;
  const auto identity = halvex::platform::GetFileIdentity(path.c_str());
  if (!identity || identity->links <= 1) return false;
  State().cryptoFile.SetFesErrCode(FES_HARD_LINKED);
  State().cryptoFile.SetApiErrCode(0);
  return true;
}

bool Encrypting() {
  int32_t kind = State().cryptoFile.m_nOutputKind;
  return kind == PROGRESS_ENC || kind == PROGRESS_ENC_SELFX;
}

// System files are never encrypted; hidden ones only if the user agrees.
Next CheckBeforeEncrypting(tagCRYPTOPARAMS* request, uint32_t i, const WString& path) {
  const CFESUtil::SystemHidden kind = State().cryptoFile.m_FESUtil.CheckIsSystemOrHiddenFile(path.c_str());
  if (kind.system)
    return NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_SYSTEM_FILE), Next::kNextFile;
  if (RefusedForOtherNames(path))
    return NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_HARD_LINKS), Next::kNextFile;
  if (!kind.hidden) return Next::kProcess;
  const Next answer = AskHiddenFile(request, i);
  if (answer == Next::kNextFile) NotifyOutcome(request, i, HALVEX_OUTCOME_SKIPPED, HALVEX_REASON_HIDDEN_FILE);
  if (answer == Next::kStop) NotifyOutcome(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_HIDDEN_FILE);
  return answer;
}

// One turn of the loop for entry i.
Next ProcessEntry(tagCRYPTOPARAMS* request, uint32_t i) {
  BatchState& s = State();
  WString path = request->pFileList->m_vecFiles[i];
  PollCancel();
  if (s.bCancel == 1) return NotifyOutcome(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_NOT_STARTED), Next::kStop;
  {
    // The existence check, the system and hidden check and the engine's
    // checks share their looks (the listener is told not to change the file).
    halvex::platform::LookScope looks;
    if (!s.cryptoFile.m_FESUtil.ChkFileExist(path.c_str()))
      return NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_MISSING), Next::kNextFile;
    NoteVaultDrive(path);
    NotifyStarted(request, i);
    SetProgressFile(request, i);
    if (Encrypting()) {
      Next before = CheckBeforeEncrypting(request, i, path);
      if (before != Next::kProcess) return before;
      s.cryptoFile.EncryptFileW(request, i);
    } else {
      s.cryptoFile.DecryptFileW(request, i);
    }
  }
  uint32_t rc = request->dwErrCode;
  PollCancel();
  if (rc != 0) {
    if (s.cryptoFile.GetApiErrCode() != 0) DiscardOutput(request);
  } else if (CommitOutput(i, request)) {
    return Next::kNextFile;
  }
  if (s.bCancel) return NotifyOutcome(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_WHILE_RUNNING), Next::kStop;
  // Once the batch has touched the vault drive, a failure while it is
  // hidden ends the batch quietly: the user locked it on purpose.
  if (s.bOnVaultDrive && VaultDriveGone())
    return NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_FAILED, HALVEX_REASON_NONE), Next::kStop;
  return DispatchOutcome(i, request);
}

void RunLoop(tagCRYPTOPARAMS* request) {
  // The count is read afresh each turn: the host's list is the batch's.
  for (uint32_t i = 0; i < request->pFileList->m_nFileCount && i < request->pFileList->m_vecFiles.size();) {
    const Next next = ProcessEntry(request, i);
    if (next == Next::kStop) return NotifyNotStarted(request, i + 1);
    if (next != Next::kRetry) ++i;
  }
}

// After a decryption the list holds the files that stayed encrypted.
void HandBackRemaining(CFileList* list) {
  BatchState& s = State();
  list->m_vecFiles.clear();
  list->m_vecFiles.insert(list->m_vecFiles.end(), s.vecRemaining.begin(), s.vecRemaining.end());
  list->m_nFileCount = static_cast<uint32_t>(s.vecRemaining.size());
  s.vecRemaining.clear();
}

}  // namespace

void RunInteractiveBatch(tagCRYPTOPARAMS* request) {
  if (!StartBatch(request)) return;
  if (request->pFileList->m_nFileCount != 0) RunLoop(request);
  EndBatch(request);
  if (request->pOptions->dwAction == 0) HandBackRemaining(request->pFileList);
  BatchState& s = State();
  if (s.bCancel == 1) {
    request->pOptions->dwStatus = 1;
    s.bCancel = 0;
  }
}

extern "C" int HalvexSetLinkPolicy(int policy) {
  if (policy != HALVEX_LINKS_REFUSE && policy != HALVEX_LINKS_ENCRYPT) return HALVEX_INVALID_ARGUMENT;
  g_encryptLinkedFiles = policy == HALVEX_LINKS_ENCRYPT;
  return HALVEX_OK;
}
