// Progress-window library: progress windows, prompts, the error dialog and
// the message batches' mutex. Every Encryption_/Decryption_ call but the
// button checks takes the address of the window handle last.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "platform/win32.h"
#include "suite/uiexchange.h"

extern "C" {

SUITE_API void Encryption_Progress_Create(void** progress);
SUITE_API void Encryption_Progress_SetButtonDisable(void** progress);
SUITE_API void Encryption_Progress_SetTitle(void** progress);
SUITE_API void Encryption_Progress_Show(void** progress);
SUITE_API void Encryption_Progress_Hide(void** progress);
SUITE_API void Encryption_Progress_ReleaseForm(void** progress);
SUITE_API void Encryption_Progress_SetFileName(const WCHAR* name, void** progress);
SUITE_API void Encryption_Progress_SetPercent(int32_t percent, void** progress);
SUITE_API void Encryption_Progress_CheckButton(tagUIEXCHANGE* ui);

SUITE_API void Decryption_Progress_Create(void** progress);
SUITE_API void Decryption_Progress_Show(void** progress);
SUITE_API void Decryption_Progress_Hide(void** progress);
SUITE_API void Decryption_Progress_ReleaseForm(void** progress);
SUITE_API void Decryption_Progress_SetFileName(const WCHAR* name, void** progress);
SUITE_API void Decryption_Progress_SetPercent(int32_t percent, void** progress);
SUITE_API void Decryption_Progress_CheckButton(tagUIEXCHANGE* ui);

// 0 with nResult 19: another holder has the mutex; the window stays hidden.
SUITE_API int32_t FF_UI_InitMutex(int32_t value, tagUIEXCHANGE* ui);
SUITE_API void FF_UI_ReleaseMutex(tagUIEXCHANGE* ui);
// direction 1 encryption, 2 decryption; question 1 destination exists, 2 hidden file;
// more 1 when later list entries follow. Modal; the answer is left in ui->nResult.
SUITE_API void FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question,
                                         int32_t more, tagUIEXCHANGE* ui);
// Modal error dialog for the code pair; the answer is left in ui->nResult.
SUITE_API void FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode,
                                      tagUIEXCHANGE* ui);
}
