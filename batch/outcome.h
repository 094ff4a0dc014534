// Per-file outcome handling of the interactive batch (type 0). Results are
// indexes in unsigned 32-bit arithmetic: i - 1 retry/stop, i + 1 next, i stop.
#pragma once

#include <cstdint>

#include "halvex/records.h"

uint32_t AskHiddenFile(tagCRYPTOPARAMS* request, uint32_t i);
uint32_t CommitOutput(uint32_t i, tagCRYPTOPARAMS* request);
void DiscardOutput(tagCRYPTOPARAMS* request);
uint32_t ShowFileError(uint32_t i, tagCRYPTOPARAMS* request);
uint32_t AskReplaceExisting(uint32_t i, tagCRYPTOPARAMS* request);
uint32_t DispatchOutcome(uint32_t i, tagCRYPTOPARAMS* request);
