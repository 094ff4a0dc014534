// Halvex: the exported entry. Clears the per-batch flags and hands the
// request to the driver of its type.
#include "batch/halvex.h"

#include <atomic>
#include <new>

#include "batch/drivers.h"
#include "batch/progress.h"
#include "batch/state.h"

namespace {

// Win32's ERROR_INTERNAL_ERROR: a driver failed in a way it did not report.
constexpr uint32_t kErrorInternal = 1359;
constexpr uint32_t kLastType = 6;
constexpr uint32_t kTypeWithoutOptions = 5;

// BatchState has no lock: one batch at a time, and a second caller is
// refused rather than allowed to share (and corrupt) the running batch.
std::atomic<bool> g_batchRunning{false};

class RunningBatch {
 public:
  RunningBatch() : owned_(!g_batchRunning.exchange(true, std::memory_order_acquire)) {}
  ~RunningBatch() {
    if (owned_) g_batchRunning.store(false, std::memory_order_release);
  }
  RunningBatch(const RunningBatch&) = delete;
  RunningBatch& operator=(const RunningBatch&) = delete;
  bool Owned() const { return owned_; }

 private:
  bool owned_;
};

// Ends the batch's frame on every way out of a batch. The drivers end it
// themselves; an exception that skipped their end would otherwise leave the
// window up, the UI mutex held and the keys in memory, and the next batch
// would drop the key pointers without wiping what they point to.
class FrameTearDown {
 public:
  explicit FrameTearDown(tagCRYPTOPARAMS* request) : request_(request) {}
  ~FrameTearDown() {
    if (!State().bFrameOpen) return;
    try {
      HideProgress(request_);
    } catch (...) {
      // Closing and the keys' release below must happen all the same.
    }
    try {
      CloseProgress();
    } catch (...) {
      // The keys go even when the window would not.
      State().bFrameOpen = false;
      try {
        State().cryptoFile.UninitCrypto();
      } catch (...) {
      }
    }
  }
  FrameTearDown(const FrameTearDown&) = delete;
  FrameTearDown& operator=(const FrameTearDown&) = delete;

 private:
  tagCRYPTOPARAMS* request_;
};

bool HasWhatItsTypeReads(const tagCRYPTOPARAMS& request) {
  if (!request.pFileList) return false;
  return request.dwType == kTypeWithoutOptions || request.pOptions != nullptr;
}

void ClearPerBatchFlags(BatchState& state) {
  state.bHiddenAnswerKept = 0;
  state.bReplaceAnswerKept = 0;
  state.bCancel = 0;
  state.bTempOutput = 0;
  state.bOnVaultDrive = 0;
  // The answers kept "for all" belong to the flags above.
  state.nHiddenAnswer = 0;
  state.nReplaceAnswer = 0;
}

void Dispatch(tagCRYPTOPARAMS* request) {
  switch (request->dwType) {
    case 0: RunInteractiveBatch(request); break;
    case 1:
    case 2:
    case 6: RunSelfExtractOrDecryptBatch(request); break;
    case 3: RunMessageBatch(request); break;
    case 4: RunMessageCopyBatch(request); break;
    case 5: RunSelfExtractBatch(request); break;
    default: break;
  }
}

}  // namespace

extern "C" void Halvex(tagCRYPTOPARAMS* request) {
  if (!request) return;
  if (request->dwType > kLastType) return;  // unknown types leave no trace
  if (!HasWhatItsTypeReads(*request)) {
    request->dwErrCode = ERROR_INVALID_PARAMETER;
    return;
  }
  RunningBatch batch;
  if (!batch.Owned()) {
    request->dwErrCode = ERROR_BUSY;
    return;
  }
  // Nothing may unwind into the host, which knows only result codes.
  try {
    FrameTearDown tearDown(request);
    ClearPerBatchFlags(State());
    Dispatch(request);
  } catch (const std::bad_alloc&) {
    request->dwErrCode = ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    request->dwErrCode = kErrorInternal;
  }
}
