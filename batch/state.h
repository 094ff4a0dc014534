// BatchState: the library's one shared batch state, alive from load to unload.
// One batch runs at a time per process; nothing here is locked.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/cryptofile.h"
#include "platform/identity.h"
#include "platform/wide.h"
#include "suite/uiexchange.h"

// Which progress window a batch uses; through it, whether the engine encrypts
// and which suffix it gives.
enum : int32_t {
  PROGRESS_NONE = 0,
  PROGRESS_ENC_HIDDEN = 1,   // types 1, 2, 6 encrypting: ".exe", never shown
  PROGRESS_ENC = 2,          // type 0 encryption: encrypted-file suffix
  PROGRESS_DEC_HIDDEN = 3,   // types 1, 2, 6 decrypting, never shown
  PROGRESS_DEC = 4,          // type 0 decryption
  PROGRESS_ENC_SELFX = 5,    // types 3, 4, 5, some of 1, 2, 6, type 0 self-extracting: ".exe"
};

struct BatchState {
  int32_t nProgressKind = 0;
  tagUIEXCHANGE uiProgress{};  // the cancel-button check
  tagUIEXCHANGE uiError{};     // the per-file error dialog
  tagUIEXCHANGE uiPrompt{};    // hidden-file / destination-exists prompt, mutex of types 3, 4
  void* hProgress = nullptr;
  // From OpenProgress to CloseProgress: a window, COM on the thread, the
  // keys and (message batches) the UI mutex belong to the running batch.
  bool bFrameOpen = false;
  // The five per-batch flags, cleared by Halvex at the start of every batch.
  int32_t bHiddenAnswerKept = 0;
  int32_t bReplaceAnswerKept = 0;
  int32_t bCancel = 0;
  int32_t bTempOutput = 0;
  int32_t bOnVaultDrive = 0;
  // The answer each prompt keeps once answered "for all" (16 or 17).
  int32_t nHiddenAnswer = 0;
  int32_t nReplaceAnswer = 0;
  WString strLastOutput;
  // The source of the last cipher call as it was just before the call. A
  // source is deleted only while it is still that very file, unchanged.
  WString strSourceRead;
  std::optional<halvex::platform::FileIdentity> sourceIdentity;
  CCryptoFile cryptoFile;
  WString strVaultDrive;
  std::vector<WString> vecRemaining;
};

// The one instance.
BatchState& State();
