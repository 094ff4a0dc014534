// One driver per group of request types.
#pragma once

#include "batch/records.h"

void RunInteractiveBatch(tagCRYPTOPARAMS* request);       // type 0
void RunSelfExtractOrDecryptBatch(tagCRYPTOPARAMS* request);  // types 1, 2, 6
void RunMessageBatch(tagCRYPTOPARAMS* request);           // type 3
void RunMessageCopyBatch(tagCRYPTOPARAMS* request);       // type 4
void RunSelfExtractBatch(tagCRYPTOPARAMS* request);       // type 5
