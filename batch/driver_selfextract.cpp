// Self-extracting copy batches (types 1, 2, 5 and 6): an encrypted
// self-extracting copy beside every file, all or nothing; or, for types 1,
// 2 and 6 with one combination of options, decryption beside each file.
#include <algorithm>
#include <vector>

#include "batch/drivers.h"
#include "batch/events.h"
#include "batch/frame.h"
#include "batch/progress.h"
#include "batch/state.h"

namespace {

bool MakesCopies(int32_t kind) { return kind == PROGRESS_ENC_SELFX || kind == PROGRESS_ENC_HIDDEN; }

// Deletes the copies this batch made. Outputs listed before the batch began
// belong to earlier batches (a decryption's restored files among them) and
// are never touched. The entries stay listed, as the host expects.
void RollBack(const CFileList* list, uint32_t firstOwnOutput) {
  uint32_t count = std::min<uint32_t>(list->m_nOutCount, static_cast<uint32_t>(list->m_vecOutFiles.size()));
  for (uint32_t j = firstOwnOutput; j < count; ++j) ::DeleteFileW(list->m_vecOutFiles[j].c_str());
}

bool Exists(const WString& path) { return State().cryptoFile.m_FESUtil.ChkFileExist(path.c_str()) != 0; }

// Encrypts every existing file; the first failure undoes the batch's copies.
void CopyAll(tagCRYPTOPARAMS* request) {
  CFileList* list = request->pFileList;
  uint32_t firstOwnOutput = list->m_nOutCount;
  std::vector<uint32_t> copied;  // entries whose copy a later failure removes
  for (uint32_t i = 0; i < list->m_nFileCount && i < list->m_vecFiles.size(); ++i) {
    if (!Exists(list->m_vecFiles[i])) {
      NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_MISSING);
      continue;
    }
    NotifyStarted(request, i);
    SetProgressFile(request, i);
    State().cryptoFile.EncryptFileW(request, i);
    if (request->dwErrCode == 0) {
      NotifyOutcome(request, i, HALVEX_OUTCOME_DONE, HALVEX_REASON_NONE, &list->m_vecOutFiles.back());
      copied.push_back(i);
      continue;
    }
    NotifyOutcomeWithCodes(request, i, HALVEX_OUTCOME_FAILED, HALVEX_REASON_NONE);
    RollBack(list, firstOwnOutput);
    for (uint32_t j : copied) NotifyOutcome(request, j, HALVEX_OUTCOME_ROLLED_BACK, HALVEX_REASON_NONE);
    NotifyNotStarted(request, i + 1);
    return;
  }
}

// Decrypts every existing file beside it; failures do not stop the batch.
void DecryptAll(tagCRYPTOPARAMS* request) {
  CFileList* list = request->pFileList;
  for (uint32_t i = 0; i < list->m_nFileCount && i < list->m_vecFiles.size(); ++i) {
    if (!Exists(list->m_vecFiles[i])) {
      NotifyOutcome(request, i, HALVEX_OUTCOME_REFUSED, HALVEX_REASON_MISSING);
      continue;
    }
    NotifyStarted(request, i);
    SetProgressFile(request, i);
    State().cryptoFile.DecryptFileW(request, i);
    if (request->dwErrCode == 0) {
      NotifyOutcome(request, i, HALVEX_OUTCOME_DONE, HALVEX_REASON_NONE, &list->m_vecOutFiles.back());
    } else {
      NotifyOutcomeWithCodes(request, i, OutcomeOfCode(request->dwErrCode), HALVEX_REASON_NONE);
    }
  }
}

}  // namespace

void RunSelfExtractOrDecryptBatch(tagCRYPTOPARAMS* request) {
  if (!StartBatch(request)) return;
  if (MakesCopies(State().cryptoFile.m_nOutputKind)) {
    CopyAll(request);
  } else {
    DecryptAll(request);
  }
  EndBatch(request);
}

void RunSelfExtractBatch(tagCRYPTOPARAMS* request) {
  if (!StartBatch(request)) return;
  CopyAll(request);
  EndBatch(request);
}
