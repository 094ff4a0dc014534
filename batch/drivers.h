// One driver per group of request types.
#pragma once

#include "halvex/records.h"

void RunInteractiveBatch(tagCRYPTOPARAMS* request);           // REQ_IN_PLACE
void RunSelfExtractOrDecryptBatch(tagCRYPTOPARAMS* request);  // REQ_COPY_OR_DECRYPT, _2, _TITLED
void RunMessageBatch(tagCRYPTOPARAMS* request);               // REQ_MESSAGE
void RunMessageCopyBatch(tagCRYPTOPARAMS* request);           // REQ_MESSAGE_COPY
void RunSelfExtractBatch(tagCRYPTOPARAMS* request);           // REQ_SELF_EXTRACT
