// BatchState: the library's one shared batch state, alive from load to unload:
// the window and prompt state of the running batch, and its engine, which
// holds what the engine itself decides (the output kind, the last output).
// One batch runs at a time per process; nothing here is locked.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/cryptofile.h"
#include "platform/wide.h"
#include "suite/uiexchange.h"

struct BatchState {
  tagUIEXCHANGE uiProgress{};  // the cancel-button check
  tagUIEXCHANGE uiError{};     // the per-file error dialog
  tagUIEXCHANGE uiPrompt{};    // hidden-file / destination-exists prompt, mutex of types 3, 4
  void* hProgress = nullptr;
  // From OpenProgress to CloseProgress: a window, COM on the thread, the
  // keys and (message batches) the UI mutex belong to the running batch.
  bool bFrameOpen = false;
  // The per-batch flags, cleared by Halvex at the start of every batch with
  // the engine's m_bTempOutput.
  int32_t bHiddenAnswerKept = 0;
  int32_t bReplaceAnswerKept = 0;
  int32_t bCancel = 0;
  int32_t bOnVaultDrive = 0;
  // The answer each prompt keeps once answered "for all" (16 or 17).
  int32_t nHiddenAnswer = 0;
  int32_t nReplaceAnswer = 0;
  CCryptoFile cryptoFile;
  WString strVaultDrive;
  std::vector<WString> vecRemaining;
  // The folders a source was deleted from in the running batch: each is
  // flushed once more before the batch returns (FlushFoldersOfDeletes).
  std::vector<WString> vecFoldersOfDeletes;
};

// The one instance.
BatchState& State();

// Notes the folder of a source just deleted, once.
void NoteDeleteIn(const WString& source);
// Flushes every folder noted since the batch began, once each, so that no
// deleted source comes back after a power cut once the batch has returned.
// Returns false when a flush failed (the deletes may then not last).
bool FlushFoldersOfDeletes();
