// What the batch tells a registered listener (halvex/listener.h). Each call
// costs a null check when no host listens.
#pragma once

#include <cstdint>

#include "halvex/records.h"
#include "halvex/listener.h"
#include "platform/wide.h"

void NotifyStarted(const tagCRYPTOPARAMS* request, uint32_t index);
void NotifyPercent(int32_t percent);
// path: the file the question names (the entry, or the file in its output's way).
void NotifyQuestion(uint32_t question, int32_t answer, const WString& path);
void NotifyError(uint32_t fesCode, uint32_t apiCode, int32_t answer);
// An outcome decided without a code: done (with its output), missing, a
// question's answer, not started.
void NotifyOutcome(const tagCRYPTOPARAMS* request, uint32_t index, uint32_t outcome, uint32_t reason,
                   const WString* output = nullptr);
// An outcome with the engine's codes and the request's code for the entry;
// output: the file in its output's way, when that is why.
void NotifyOutcomeWithCodes(const tagCRYPTOPARAMS* request, uint32_t index, uint32_t outcome, uint32_t reason,
                            const WString* output = nullptr);
// Every entry from index on ends without its turn.
void NotifyNotStarted(const tagCRYPTOPARAMS* request, uint32_t index);
// An outcome for a file no question was asked about, from the code of its call.
uint32_t OutcomeOfCode(uint32_t code);
