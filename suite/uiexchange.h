// The block through which the progress-window library hands back a dialog's answer.
#pragma once

#include <cstddef>
#include <cstdint>

struct tagUIEXCHANGE {
  unsigned char reserved[524];  // the window library's own
  int32_t nResult;              // the answer (codes below), written by the window library
  void* hWnd;                   // set to hProgress before every button check
};

// Answer codes in nResult.
enum : int32_t {
  UI_CANCEL = 2,         // cancel
  UI_REPLACE = 4,        // replace the destination / encrypt the hidden file
  UI_SKIP = 5,           // skip this file
  UI_STOP = 6,           // cancel button pressed, or stop
  UI_RETRY = 10,         // error dialog: retry
  UI_SKIP_ERROR = 11,    // error dialog: skip
  UI_YES_TO_ALL = 16,    // yes for this and all later files
  UI_SKIP_ALL = 17,      // skip this and all later files
  UI_MUTEX_HELD = 19,    // FF_UI_InitMutex: another holder has the mutex
};

static_assert(offsetof(tagUIEXCHANGE, nResult) == 524);
static_assert(offsetof(tagUIEXCHANGE, hWnd) == 528);
static_assert(sizeof(tagUIEXCHANGE) >= 532);
