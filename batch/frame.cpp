// The set-up and close-down around every driver's loop.
#include "batch/frame.h"

#include "batch/outcome.h"
#include "batch/progress.h"
#include "batch/state.h"
#include "records/output_kind.h"

void LinkEngineToBatch(CCryptoFile& engine) {
  engine.m_pfnProgress = OnProgressPercent;
  engine.m_pfnCommitOutput = CommitOutput;
  engine.m_pfnDiscardOutput = DiscardOutput;
}

bool StartBatch(tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  LinkEngineToBatch(s.cryptoFile);
  OpenProgress(request);
  ShowProgress(request);
  uint32_t rc = s.cryptoFile.InitCrypto(request);
  // The window chose the kind and the set-up may have made it self-extracting:
  // from here every CFESUtil of the process names destinations for it.
  halvex::records::SetBatchOutputKind(s.cryptoFile.m_nOutputKind);
  if (rc != 0) {
    request->dwErrCode = rc;
    EndBatch(request);
    return false;
  }
  s.cryptoFile.m_FESUtil.ListExtName();
  return true;
}

void EndBatch(tagCRYPTOPARAMS* request) {
  HideProgress(request);
  CloseProgress();
}
