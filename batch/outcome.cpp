// Per-file outcome handling of the interactive batch: finishing or cleaning
// up a file after its cipher call, and the dialogs that decide what comes next.
#include "batch/outcome.h"

#include "batch/events.h"
#include "batch/progress.h"
#include "batch/state.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/krvdevice.h"
#include "suite/msgbox.h"
#include "suite/progress.h"
#include "suite/uiexchange.h"
#include "suite/zqca.h"
#include "util/fesutil.h"

namespace {

// The prompt's questions and directions.
constexpr int32_t kDirectionEncrypt = 1;
constexpr int32_t kDirectionDecrypt = 2;
constexpr int32_t kQuestionDestinationExists = 1;
constexpr int32_t kQuestionHiddenFile = 2;

bool IsEncryption(const tagCRYPTOPARAMS* request) { return request->pOptions->dwAction != 0; }

int32_t Direction(const tagCRYPTOPARAMS* request) {
  return request->pOptions->dwAction == 1 ? kDirectionEncrypt : kDirectionDecrypt;
}

// 1 when later list entries follow entry i.
int32_t MoreFiles(const tagCRYPTOPARAMS* request, uint32_t i) {
  uint32_t count = request->pFileList->m_nFileCount;
  return count > 1 && i < count - 1 ? 1 : 0;
}

WString Entry(const tagCRYPTOPARAMS* request, uint32_t i) {
  const std::vector<WString>& files = request->pFileList->m_vecFiles;
  return i < files.size() ? files[i] : WString();
}

bool Exists(const WString& path) { return State().cryptoFile.m_FESUtil.ChkFileExist(path.c_str()) != 0; }

// Removes the last cipher call's output, if there is one.
void DeleteLastOutput() {
  BatchState& s = State();
  if (Exists(s.cryptoFile.m_strLastOutput)) s.cryptoFile.DeleteFileW(s.cryptoFile.m_strLastOutput.c_str());
}

void RecordOutput(tagCRYPTOPARAMS* request) {
  CFileList* list = request->pFileList;
  list->m_vecOutFiles.push_back(State().cryptoFile.m_strLastOutput);
  list->m_nOutCount += 1;
  request->pOptions->nSucceeded += 1;
}

// A success whose source cannot be removed is undone: the new output goes.
uint32_t UndoForUndeletableSource() {
  BatchState& s = State();
  s.cryptoFile.DeleteFileW(s.cryptoFile.m_strLastOutput.c_str());
  s.cryptoFile.SetFesErrCode(FES_DELETE_FAILED);
  s.cryptoFile.SetApiErrCode(0);
  return 0;
}

// Whether the source is still the very file the cipher call read, with the
// same size and times. A program that saved a new version over it (a new
// file renamed over the name) or wrote into it meanwhile would otherwise
// lose that version with the delete.
bool SourceUnchanged(const WString& source) {
  const CCryptoFile& engine = State().cryptoFile;
  if (!engine.m_sourceIdentity || engine.m_strSourceRead != source) return false;
  const auto now = halvex::platform::GetFileIdentity(source.c_str());
  return now && now->SameFileUnchanged(*engine.m_sourceIdentity);
}

// Deletes the source of a finished output. A changed (or vanished) source
// keeps both files: the output holds what was read, the source is newer.
// Either way a failure is reported, never a success.
uint32_t DeleteSourceOf(const WString& source) {
  BatchState& s = State();
  // The look that finds the source unchanged is the one the delete starts from.
  halvex::platform::LookScope looks;
  s.cryptoFile.m_strSourceKeptAt.clear();
  if (!SourceUnchanged(source)) {
    s.cryptoFile.SetFesErrCode(FES_SOURCE_CHANGED);
    s.cryptoFile.SetApiErrCode(0);
    return 0;
  }
  // The delete checks again that it removes that file and no newer one saved
  // over the name since.
  if (s.cryptoFile.DeleteSourceIfSame(source.c_str(), *s.cryptoFile.m_sourceIdentity)) {
    NoteDeleteIn(source);
    return 1;
  }
  if (s.cryptoFile.GetFesErrCode() == FES_SOURCE_CHANGED) return 0;
  return UndoForUndeletableSource();
}

uint32_t CancelledOutput() {
  DeleteLastOutput();
  return 0;
}

uint32_t CommitDecryption(uint32_t i, tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  if (s.cryptoFile.m_bTempOutput) SetFileAttributesW(s.cryptoFile.m_strLastOutput.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (s.bCancel) return CancelledOutput();
  WString source = Entry(request, i);
  // One look at the source answers the format check, the check that it is
  // unchanged and the delete's own looks.
  halvex::platform::LookScope looks;
  // A self-extracting source and a copy into the temporary folder keep the
  // encrypted original.
  if (s.cryptoFile.m_FESUtil.ChkIsSelfExtractorFile(source.c_str()) || s.cryptoFile.m_bTempOutput) {
    RecordOutput(request);
    return 1;
  }
  if (!DeleteSourceOf(source)) return 0;
  RecordOutput(request);
  return 1;
}

uint32_t CommitEncryption(uint32_t i, tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  if (s.bCancel) return CancelledOutput();
  if (request->pOptions->bSelfExtract == 0) {
    if (!DeleteSourceOf(Entry(request, i))) return 0;
  }
  RecordOutput(request);
  return 1;
}

bool IsPassedOverCode(uint32_t code) {
  return code == ZQCA_ERR_WRONG_KEY || code == ZQCA_ERR_VERSION || code == ZQCA_ERR_LOCKED;
}

// Codes after which a decryption's output path names a file worth keeping.
bool KeepsDecryptionOutput(uint32_t code) { return code == ZQCA_ERR_OUTPUT_EXISTS || IsPassedOverCode(code); }

// Hands a file that stays encrypted back to the host at the end of a decryption.
void KeepRemaining(tagCRYPTOPARAMS* request, uint32_t i) {
  if (IsEncryption(request)) return;
  WString entry = Entry(request, i);
  if (Exists(entry)) State().vecRemaining.push_back(entry);
}

// Asks the drive-admin library; a fresh object for every question.
bool VaultDriveShown() {
  CKRVDevice device(0, 0);
  return device.IsShow() != 0;
}

void ReshowProgress(tagCRYPTOPARAMS* request, uint32_t i) {
  ShowProgress(request);
  SetProgressFile(request, i);
}

// The replacement the user agreed to.
Next ReplaceExisting(uint32_t i, tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  if (!Exists(Entry(request, i)))
    return NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_MISSING), Next::kNextFile;
  if (s.cryptoFile.DoFileReplacement(request, i)) return Next::kNextFile;
  if (s.bCancel) return NotifyOutcome(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_WHILE_RUNNING), Next::kStop;
  KeepRemaining(request, i);
  NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_FAILED, HALVEX_REASON_OUTPUT_EXISTS);
  if (s.bOnVaultDrive && !VaultDriveShown()) return Next::kNextFile;
  HideProgress(request);
  ShowErrorMessage(0, s.cryptoFile.GetFesErrCode(), s.cryptoFile.GetApiErrCode(), 0);
  ReshowProgress(request, i);
  return Next::kNextFile;
}

}  // namespace

Next AskHiddenFile(tagCRYPTOPARAMS* request, uint32_t i) {
  BatchState& s = State();
  // The file may change while the user thinks: what follows looks afresh.
  halvex::platform::EndLookScopes();
  int32_t answer = s.nHiddenAnswer;
  if (!s.bHiddenAnswerKept) {
    HideProgress(request);
    AskReplaceHidden(Direction(request), Entry(request, i), kQuestionHiddenFile, MoreFiles(request, i));
    answer = s.uiPrompt.nResult;
    if (answer == UI_YES_TO_ALL || answer == UI_SKIP_ALL) {
      s.bHiddenAnswerKept = 1;
      s.nHiddenAnswer = answer;
    }
    if (answer == UI_CANCEL) return Next::kStop;
    if (answer != UI_STOP) ReshowProgress(request, i);
  }
  switch (answer) {
    case UI_CANCEL:
    case UI_STOP: return Next::kStop;
    case UI_SKIP:
    case UI_SKIP_ALL: return Next::kNextFile;
    default: return Next::kProcess;
  }
}

uint32_t CommitOutput(uint32_t i, tagCRYPTOPARAMS* request) {
  const uint32_t committed = IsEncryption(request) ? CommitEncryption(i, request) : CommitDecryption(i, request);
  if (committed) NotifyOutcome(request, i, HALVEX_OUTCOME_DONE, HALVEX_REASON_NONE, &State().cryptoFile.m_strLastOutput);
  return committed;
}

void DiscardOutput(tagCRYPTOPARAMS* request) {
  CCryptoFile& engine = State().cryptoFile;
  uint32_t code = request->dwErrCode;
  if (IsEncryption(request)) {
    // Code 10 names a file that was there before: never ours to delete.
    if (code != ZQCA_ERR_OUTPUT_EXISTS) DeleteLastOutput();
    engine.SetFesErrCode(FES_ENCRYPT_FAILED);
  } else {
    if (!KeepsDecryptionOutput(code)) DeleteLastOutput();
    engine.SetFesErrCode(FES_DECRYPT_FAILED);
    if (code == FES_DELETE_FAILED) {
      engine.SetFesErrCode(FES_DECRYPT_DELETE);
      engine.SetApiErrCode(FES_DELETE_FAILED);
      return;
    }
  }
  if (code == ZQCA_ERR_DISK_FULL) {
    engine.SetFesErrCode(FES_DISK_FULL);
  } else if (code == ZQCA_ERR_PATH_TOO_LONG) {
    engine.SetFesErrCode(FES_DEST_TOO_LONG);
  }
  engine.SetApiErrCode(code);
}

namespace {

// The error question about entry i, shown under name; blocking: the file in
// its output's way, when that is the error.
Next AskAfterError(uint32_t i, tagCRYPTOPARAMS* request, const WString& name, const WString* blocking) {
  BatchState& s = State();
  uint32_t api = s.cryptoFile.GetApiErrCode();
  FF_HandleErrorMsg_Show(name.c_str(), s.cryptoFile.GetFesErrCode(), api, &s.uiError);
  int32_t answer = s.uiError.nResult;
  NotifyError(s.cryptoFile.GetFesErrCode(), api, answer);
  if (answer != UI_STOP) ReshowProgress(request, i);
  // The key store could not be read; the user has been told, so the code is
  // not left behind for the host.
  if (request->dwErrCode == ERR_KEYSTORE_UNAVAILABLE) request->dwErrCode = 0;
  switch (answer) {
    case UI_RETRY: return Next::kRetry;
    case UI_SKIP_ERROR:
      request->pOptions->nSkipped += 1;
      NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_SKIPPED, HALVEX_REASON_ERROR_DIALOG, blocking);
      return Next::kNextFile;
    default:
      s.bCancel = 1;
      NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_FAILED, HALVEX_REASON_ERROR_DIALOG, blocking);
      return Next::kStop;
  }
}

// A decryption restores under the name stored in the file, which need not be
// the name the file came with: a file renamed, by its sender or by anybody
// who wants a file of the user's gone, must never replace one of another
// name, whatever the policy or an earlier "yes to all" says. The error
// question names both; retry serves once the file in the way has moved.
bool StoredNameIsForeign(uint32_t i, tagCRYPTOPARAMS* request) {
  return !IsEncryption(request) && !halvex::util::IsOwnPlainName(Entry(request, i), State().cryptoFile.m_strLastOutput);
}

Next RefuseForeignName(uint32_t i, tagCRYPTOPARAMS* request) {
  CCryptoFile& engine = State().cryptoFile;
  engine.SetFesErrCode(FES_NAME_TAKEN);
  engine.SetApiErrCode(0);
  const WString blocking = engine.m_strLastOutput;
  WString entry = Entry(request, i), shown = blocking;
  const WString name = engine.m_FESUtil.ShortFileName(entry, kDisplayTail) + WTEXT(" (holds ") +
                       engine.m_FESUtil.GetFileName(shown) + engine.m_FESUtil.GetExtName(shown) + WTEXT(")");
  HideProgress(request);
  return AskAfterError(i, request, name, &blocking);
}

}  // namespace

Next ShowFileError(uint32_t i, tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  uint32_t api = s.cryptoFile.GetApiErrCode();
  if (api == ZQCA_ERR_CANCELLED || api == ZQCA_ERR_NOT_ENCRYPTED)
    return NotifyOutcomeWithCodes(request, i, OutcomeOfCode(api), HALVEX_REASON_NONE), Next::kNextFile;
  HideProgress(request);
  WString name = Entry(request, i);
  return AskAfterError(i, request, s.cryptoFile.m_FESUtil.ShortFileName(name, kDisplayTail), nullptr);
}

Next AskReplaceExisting(uint32_t i, tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  int32_t answer = s.nReplaceAnswer;
  if (!s.bReplaceAnswerKept) {
    HideProgress(request);
    // The prompt names the file in the way, not the source.
    AskReplaceHidden(Direction(request), s.cryptoFile.m_strLastOutput, kQuestionDestinationExists, MoreFiles(request, i));
    answer = s.uiPrompt.nResult;
    if (answer != UI_CANCEL && answer != UI_STOP) ReshowProgress(request, i);
    if (answer == UI_YES_TO_ALL || answer == UI_SKIP_ALL) {
      s.bReplaceAnswerKept = 1;
      s.nReplaceAnswer = answer;
    }
  }
  switch (answer) {
    case UI_REPLACE:
    case UI_YES_TO_ALL: return ReplaceExisting(i, request);
    case UI_SKIP:
    case UI_SKIP_ALL:
      request->pOptions->nSkipped += 1;
      NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_SKIPPED, HALVEX_REASON_OUTPUT_EXISTS);
      return Next::kNextFile;
    default:
      s.bCancel = 1;
      NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_OUTPUT_EXISTS);
      return Next::kStop;
  }
}

Next DispatchOutcome(uint32_t i, tagCRYPTOPARAMS* request) {
  uint32_t api = State().cryptoFile.GetApiErrCode();
  if (IsPassedOverCode(api)) {
    request->pOptions->nPassedOver += 1;
    KeepRemaining(request, i);
    NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_PASSED_OVER, HALVEX_REASON_NONE);
    return Next::kNextFile;
  }
  if (api == ZQCA_ERR_OUTPUT_EXISTS)
    return StoredNameIsForeign(i, request) ? RefuseForeignName(i, request) : AskReplaceExisting(i, request);
  return ShowFileError(i, request);
}
