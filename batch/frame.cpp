// The set-up and close-down around every driver's loop.
#include "batch/frame.h"

#include "batch/progress.h"
#include "batch/state.h"

bool StartBatch(tagCRYPTOPARAMS* request) {
  BatchState& s = State();
  OpenProgress(request);
  ShowProgress(request);
  uint32_t rc = s.cryptoFile.InitCrypto(request);
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
