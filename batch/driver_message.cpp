// Message-folder batches (types 3 and 4): every file is encrypted into a new
// per-message folder, and every entry gets one result code and one output path.
#include "batch/drivers.h"
#include "batch/events.h"
#include "batch/frame.h"
#include "batch/progress.h"
#include "batch/state.h"

namespace {

void AppendOutput(CFileList* list, const WString& path) {
  list->m_vecOutFiles.push_back(path);
  list->m_nOutCount += 1;
}

void SetResult(tagCRYPTOPARAMS* request, uint32_t i, uint32_t code) {
  uint32_t* results = request->pOptions->pdwFileResults;
  if (results) results[i] = code;
}

// An already-encrypted self-extracting file goes into the message folder as
// it is, under its own name. An earlier copy of the same name is never
// replaced: another output entry names it. False when the copy failed.
bool CopySelfExtractor(const WString& path, WString& copyPath) {
  CFESUtil& util = State().cryptoFile.m_FESUtil;
  WString source = path;
  WString name = util.GetFileName(source) + util.GetExtName(source);
  copyPath = util.m_strMsgSubFolder + name;
  return CopyFileW(path.c_str(), copyPath.c_str(), TRUE) != FALSE;
}

// One entry: its result, and its one path in the output sequence.
void ProcessEntry(tagCRYPTOPARAMS* request, uint32_t i, bool copySelfExtractors) {
  BatchState& s = State();
  CFileList* list = request->pFileList;
  WString path = list->m_vecFiles[i];
  if (!s.cryptoFile.m_FESUtil.ChkFileExist(path.c_str())) {
    SetResult(request, i, RESULT_ENTRY_MISSING);
    AppendOutput(list, path);
    return NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_MISSING);
  }
  NotifyStarted(request, i);
  SetProgressFile(request, i);
  s.cryptoFile.EncryptFileW(request, i);
  uint32_t result = request->dwErrCode;
  WString copyPath;
  // dwErrCode keeps 1313 even when the copy succeeds; the result says 0.
  if (copySelfExtractors && result == ERR_SELF_EXTRACTOR && CopySelfExtractor(path, copyPath)) {
    result = 0;
    AppendOutput(list, copyPath);
  }
  SetResult(request, i, result);
  if (result != 0) AppendOutput(list, path);
  if (result == 0) NotifyOutcome(request, i, HALVEX_OUTCOME_DONE, HALVEX_REASON_NONE, &list->m_vecOutFiles.back());
  if (result != 0) NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_FAILED, HALVEX_REASON_NONE);
}

void RunMessageFolderBatch(tagCRYPTOPARAMS* request, bool copySelfExtractors) {
  if (!StartBatch(request)) return;
  CFileList* list = request->pFileList;
  for (uint32_t i = 0; i < list->m_nFileCount && i < list->m_vecFiles.size(); ++i)
    ProcessEntry(request, i, copySelfExtractors);
  HideProgress(request);
  CloseProgress();
}

}  // namespace

void RunMessageBatch(tagCRYPTOPARAMS* request) { RunMessageFolderBatch(request, false); }

void RunMessageCopyBatch(tagCRYPTOPARAMS* request) { RunMessageFolderBatch(request, true); }
