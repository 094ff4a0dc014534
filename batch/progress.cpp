// The progress-window bridge: picks, shows, labels, feeds and closes the
// batch's window, reads its cancel button and asks the two prompts.
#include "batch/progress.h"

#include <type_traits>

#include "batch/events.h"
#include "batch/state.h"
#include "suite/progress.h"
#include "suite/zqca.h"

// The cipher library calls this back directly, so it must stay a plain function.
static_assert(std::is_same_v<decltype(&OnProgressPercent), ZQCA_ProgressProc>);

namespace {

bool IsDecryptionWindow(int32_t kind) { return kind == PROGRESS_DEC_HIDDEN || kind == PROGRESS_DEC; }

bool IsEncryptionWindow(int32_t kind) {
  return kind == PROGRESS_ENC_HIDDEN || kind == PROGRESS_ENC || kind == PROGRESS_ENC_SELFX;
}

// Message batches share the window library's mutex with other processes.
bool IsMessageType(uint32_t type) { return type == REQ_MESSAGE || type == REQ_MESSAGE_COPY; }

WString ShortName(const WString& path) {
  WString copy = path;
  return State().cryptoFile.m_FESUtil.ShortFileName(copy, kDisplayTail);
}

// An encryption window without a cancel button, optionally with the
// alternative title.
void OpenLockedEncryptionWindow(BatchState& s, int32_t kind, bool alternativeTitle) {
  s.cryptoFile.m_nOutputKind = kind;
  Encryption_Progress_Create(&s.hProgress);
  Encryption_Progress_SetButtonDisable(&s.hProgress);
  if (alternativeTitle) Encryption_Progress_SetTitle(&s.hProgress);
}

void OpenInteractiveWindow(BatchState& s, const tagCRYPTOOPTIONS& options) {
  if (options.dwAction == 1) {
    s.cryptoFile.m_nOutputKind = PROGRESS_ENC;
    Encryption_Progress_Create(&s.hProgress);
  } else {
    s.cryptoFile.m_nOutputKind = PROGRESS_DEC;
    Decryption_Progress_Create(&s.hProgress);
  }
}

// Types 1, 2 and 6: dwAction 1 with dwStatus 0 decrypts; everything else
// makes self-extracting copies.
void OpenSelfExtractWindow(BatchState& s, uint32_t type, const tagCRYPTOOPTIONS& options) {
  if (options.dwAction == 1 && options.dwStatus == 0) {
    s.cryptoFile.m_nOutputKind = PROGRESS_DEC_HIDDEN;
    Decryption_Progress_Create(&s.hProgress);
  } else if (options.dwAction != 0) {
    OpenLockedEncryptionWindow(s, PROGRESS_ENC_HIDDEN, false);
  } else {
    OpenLockedEncryptionWindow(s, PROGRESS_ENC_SELFX, type == REQ_COPY_OR_DECRYPT_TITLED);
  }
}

// Reads the cancel button of the batch's window into bCancel.
void CheckCancelButton(BatchState& s) {
  s.uiProgress.hWnd = s.hProgress;
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Decryption_Progress_CheckButton(&s.uiProgress);
  } else {
    Encryption_Progress_CheckButton(&s.uiProgress);
  }
  s.bCancel = s.uiProgress.nResult == UI_STOP ? 1 : 0;
}

}  // namespace

void OpenProgress(tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  s.bFrameOpen = true;
  CoInitialize(nullptr);  // a failure here changes nothing for the batch
  switch (request->dwType) {
    case REQ_IN_PLACE: OpenInteractiveWindow(s, *request->pOptions); break;
    case REQ_COPY_OR_DECRYPT:
    case REQ_COPY_OR_DECRYPT_2:
    case REQ_COPY_OR_DECRYPT_TITLED: OpenSelfExtractWindow(s, request->dwType, *request->pOptions); break;
    case REQ_MESSAGE:
    case REQ_MESSAGE_COPY:
    case REQ_SELF_EXTRACT: OpenLockedEncryptionWindow(s, PROGRESS_ENC_SELFX, true); break;
    default: break;
  }
}

void ShowProgress(tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  if (IsMessageType(request->dwType)) {
    // Another process holding the mutex has its own window up: ours stays hidden.
    int32_t obtained = FF_UI_InitMutex(1, &s.uiPrompt);
    if (obtained != 0 || s.uiPrompt.nResult != UI_MUTEX_HELD) Encryption_Progress_Show(&s.hProgress);
    return;
  }
  switch (s.cryptoFile.m_nOutputKind) {
    case PROGRESS_ENC:
    case PROGRESS_ENC_SELFX: Encryption_Progress_Show(&s.hProgress); break;
    case PROGRESS_DEC: Decryption_Progress_Show(&s.hProgress); break;
    default: break;  // kinds 1 and 3 work without a visible window
  }
}

void SetProgressFile(tagCRYPTOPARAMS* request, uint32_t index) {
  BatchState& s = State();
  const std::vector<WString>& files = request->pFileList->m_vecFiles;
  if (index >= files.size()) return;
  WString name = ShortName(files[index]);
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Decryption_Progress_SetFileName(name.c_str(), &s.hProgress);
  } else if (IsEncryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Encryption_Progress_SetFileName(name.c_str(), &s.hProgress);
  }
}

void HideProgress(tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Decryption_Progress_Hide(&s.hProgress);
    return;
  }
  if (IsEncryptionWindow(s.cryptoFile.m_nOutputKind)) Encryption_Progress_Hide(&s.hProgress);
  if (IsMessageType(request->dwType)) FF_UI_ReleaseMutex(&s.uiPrompt);
}

void CloseProgress() {
  BatchState& s = State();
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Decryption_Progress_ReleaseForm(&s.hProgress);
  } else if (IsEncryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Encryption_Progress_ReleaseForm(&s.hProgress);
  }
  s.hProgress = nullptr;
  s.bFrameOpen = false;
  CoUninitialize();
  s.cryptoFile.UninitCrypto();
}

void AskReplaceHidden(int32_t direction, const WString& path, int32_t question, int32_t more) {
  WString name = ShortName(path);
  FF_ReplaceHiddenForm_Show(direction, name.c_str(), question, more, &State().uiPrompt);
  NotifyQuestion(static_cast<uint32_t>(question), State().uiPrompt.nResult, path);
}

int32_t OnProgressPercent(int32_t percent) {
  BatchState& s = State();
  NotifyPercent(percent);
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Decryption_Progress_SetPercent(percent, &s.hProgress);
    CheckCancelButton(s);
  } else if (IsEncryptionWindow(s.cryptoFile.m_nOutputKind)) {
    Encryption_Progress_SetPercent(percent, &s.hProgress);
    CheckCancelButton(s);
  }
  return s.bCancel != 0 ? 1 : 0;
}

void PollCancel() {
  BatchState& s = State();
  if (IsDecryptionWindow(s.cryptoFile.m_nOutputKind) || IsEncryptionWindow(s.cryptoFile.m_nOutputKind)) CheckCancelButton(s);
}
