// Halvex: the exported entry. Clears the per-batch flags and hands the
// request to the driver of its type.
#include "halvex/halvex.h"

#include <atomic>
#include <new>

#include "batch/drivers.h"
#include "batch/progress.h"
#include "batch/state.h"

namespace {

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
  return request.dwType == REQ_SELF_EXTRACT || request.pOptions != nullptr;
}

// Flushes the folders the batch deleted sources from on every way out:
// one flush per folder, not per file, before the host hears the batch ended.
// Until then a power cut may bring a deleted source back beside its output
// (never lose one); once the batch returned, none comes back.
class DeletesFlushed {
 public:
  DeletesFlushed() = default;
  ~DeletesFlushed() {
    try {
      FlushFoldersOfDeletes();
    } catch (...) {
      // Nothing may unwind into the host.
    }
  }
  DeletesFlushed(const DeletesFlushed&) = delete;
  DeletesFlushed& operator=(const DeletesFlushed&) = delete;
};

void ClearPerBatchFlags(BatchState& state) {
  state.bHiddenAnswerKept = 0;
  state.bReplaceAnswerKept = 0;
  state.bCancel = 0;
  state.cryptoFile.m_bTempOutput = 0;
  state.bOnVaultDrive = 0;
  // The answers kept "for all" belong to the flags above.
  state.nHiddenAnswer = 0;
  state.nReplaceAnswer = 0;
  state.vecFoldersOfDeletes.clear();
}

void Dispatch(tagCRYPTOPARAMS* request) {
  switch (request->dwType) {
    case REQ_IN_PLACE: RunInteractiveBatch(request); break;
    case REQ_COPY_OR_DECRYPT:
    case REQ_COPY_OR_DECRYPT_2:
    case REQ_COPY_OR_DECRYPT_TITLED: RunSelfExtractOrDecryptBatch(request); break;
    case REQ_MESSAGE: RunMessageBatch(request); break;
    case REQ_MESSAGE_COPY: RunMessageCopyBatch(request); break;
    case REQ_SELF_EXTRACT: RunSelfExtractBatch(request); break;
    default: break;
  }
}

}  // namespace

extern "C" void Halvex(tagCRYPTOPARAMS* request) {
  if (!request) return;
  if (request->dwType > REQ_LAST) return;  // unknown types leave no trace
  if (!HasWhatItsTypeReads(*request)) {
    request->dwErrCode = ERR_INVALID_REQUEST;
    return;
  }
  RunningBatch batch;
  if (!batch.Owned()) {
    request->dwErrCode = ERR_BATCH_RUNNING;
    return;
  }
  // Nothing may unwind into the host, which knows only result codes.
  try {
    DeletesFlushed flushed;
    FrameTearDown tearDown(request);
    ClearPerBatchFlags(State());
    Dispatch(request);
  } catch (const std::bad_alloc&) {
    request->dwErrCode = ERR_NO_MEMORY;
  } catch (...) {
    request->dwErrCode = ERR_INTERNAL;
  }
}
