// The bridge between the batch code and the progress-window library.
#pragma once

#include <cstdint>

#include "halvex/records.h"
#include "platform/wide.h"

void OpenProgress(tagCRYPTOPARAMS* request);
void ShowProgress(tagCRYPTOPARAMS* request);
void SetProgressFile(tagCRYPTOPARAMS* request, uint32_t index);
void HideProgress(tagCRYPTOPARAMS* request);
void CloseProgress();
// direction 1 encryption, 2 decryption; question 1 destination exists, 2 hidden file.
void AskReplaceHidden(int32_t direction, const WString& path, int32_t question, int32_t more);
// The cipher library's progress callback: 1 stops the running file.
int32_t OnProgressPercent(int32_t percent);
void PollCancel();
