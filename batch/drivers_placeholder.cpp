// Driver slots not built yet do nothing.
#include "batch/drivers.h"

void RunInteractiveBatch(tagCRYPTOPARAMS*) {}
void RunSelfExtractOrDecryptBatch(tagCRYPTOPARAMS*) {}
void RunMessageBatch(tagCRYPTOPARAMS*) {}
void RunMessageCopyBatch(tagCRYPTOPARAMS*) {}
void RunSelfExtractBatch(tagCRYPTOPARAMS*) {}
