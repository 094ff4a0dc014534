// Per-file outcome handling of the interactive batch (type 0). Each step
// answers what the batch loop does next.
#pragma once

#include <cstdint>

#include "halvex/records.h"

// What the loop does after a step for entry i.
enum class Next {
  kNextFile,  // entry i is settled: go on with the next one
  kRetry,     // process entry i again
  kStop,      // end the batch; the entries after i are not started
  kProcess,   // (before the cipher call) go ahead with entry i
};

// The hidden-file question: kProcess (encrypt it), kNextFile (skipped) or kStop.
Next AskHiddenFile(tagCRYPTOPARAMS* request, uint32_t i);
// 1 when the output was committed (the engine's commit hook).
uint32_t CommitOutput(uint32_t i, tagCRYPTOPARAMS* request);
void DiscardOutput(tagCRYPTOPARAMS* request);
Next ShowFileError(uint32_t i, tagCRYPTOPARAMS* request);
Next AskReplaceExisting(uint32_t i, tagCRYPTOPARAMS* request);
// After a failed cipher call or commit: passed over, the exists question or the error question.
Next DispatchOutcome(uint32_t i, tagCRYPTOPARAMS* request);
