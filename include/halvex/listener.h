// The per-file listener: an optional callback a host registers before
// calling Halvex, told what happens to every list entry as the batch decides
// it. A plain C record and a cdecl function pointer, so the 32-bit DLL keeps
// one ABI whichever compiler built the host.
#pragma once

#include <cstdint>

#include "halvex/types.h"

#if defined(_WIN32)
#define HALVEX_CALLBACK __cdecl
#else
#define HALVEX_CALLBACK
#endif

// dwKind: what the event reports. Every event names the entry by dwIndex and
// pwszPath.
enum {
  HALVEX_EVENT_STARTED = 1,   // work on the entry begins (again, after a retry)
  HALVEX_EVENT_PERCENT = 2,   // nPercent of the running entry, as the cipher reports it
  HALVEX_EVENT_QUESTION = 3,  // dwQuestion was asked, nAnswer is how it was answered
  HALVEX_EVENT_ERROR = 4,     // the error dialog showed dwFesCode and dwApiCode; nAnswer
  HALVEX_EVENT_OUTCOME = 5,   // the entry's fate: dwOutcome, dwReason, the codes, pwszOutput
};

// dwQuestion, with the prompt's own numbers.
enum {
  HALVEX_QUESTION_OUTPUT_EXISTS = 1,  // pwszOutput names the file in the way
  HALVEX_QUESTION_HIDDEN_FILE = 2,
};

// dwOutcome. An entry gets one outcome per batch, except that a copy an
// all-or-nothing batch removes again is followed by HALVEX_OUTCOME_ROLLED_BACK.
enum {
  HALVEX_OUTCOME_DONE = 1,         // encrypted, decrypted or copied; pwszOutput names the result
  HALVEX_OUTCOME_SKIPPED = 2,      // left as it was by an answer (dwReason: to which question)
  HALVEX_OUTCOME_PASSED_OVER = 3,  // the cipher would not open it: dwApiCode 1001, 1301 or 1313
  HALVEX_OUTCOME_FAILED = 4,       // dwFesCode, dwApiCode and dwCode say why
  HALVEX_OUTCOME_REFUSED = 5,      // never handed to the cipher (dwReason: why)
  HALVEX_OUTCOME_CANCELLED = 6,    // cancel or a stop answer: while it ran, or before it began
  HALVEX_OUTCOME_ROLLED_BACK = 7,  // its copy was removed again: another entry failed
};

// dwReason of an outcome.
enum {
  HALVEX_REASON_NONE = 0,
  HALVEX_REASON_MISSING = 1,        // no such file (or a folder); types 3 and 4 report 1015 for it
  HALVEX_REASON_SYSTEM_FILE = 2,    // system files are never encrypted
  HALVEX_REASON_HIDDEN_FILE = 3,    // the hidden-file question
  HALVEX_REASON_OUTPUT_EXISTS = 4,  // the output-exists question, or the replacement it asked for
  HALVEX_REASON_ERROR_DIALOG = 5,   // the error dialog's answer
  HALVEX_REASON_NOT_STARTED = 6,    // the batch ended before this entry's turn
  HALVEX_REASON_WHILE_RUNNING = 7,  // cancelled during its cipher call; left as it was
  HALVEX_REASON_HARD_LINKS = 8,     // in-place encryption of a file with other names (dwFesCode 1314)
};

typedef struct tagHALVEXEVENT {
  uint32_t cbSize;         // sizeof(tagHALVEXEVENT); later versions only append fields
  uint32_t dwKind;         // HALVEX_EVENT_*
  uint32_t dwType;         // the request's type
  uint32_t dwIndex;        // the entry's index in the list
  const HALVEX_WCHAR* pwszPath;   // the entry as listed
  const HALVEX_WCHAR* pwszOutput; // DONE: the output; output-exists question, and an outcome with
                                  // dwFesCode 1315: the file in the way; an outcome with dwFesCode
                                  // 1312: the output, kept; else null
  int32_t nPercent;        // PERCENT
  uint32_t dwQuestion;     // QUESTION: HALVEX_QUESTION_*
  int32_t nAnswer;         // QUESTION, ERROR: the dialog's nResult
  uint32_t dwFesCode;      // ERROR, OUTCOME: the engine's code (0: none)
  uint32_t dwApiCode;      // ERROR, OUTCOME: the cipher's code (0: none)
  uint32_t dwOutcome;      // OUTCOME: HALVEX_OUTCOME_*
  uint32_t dwReason;       // OUTCOME: HALVEX_REASON_*
  uint32_t dwCode;         // OUTCOME: the code the request reports for the entry (dwErrCode; types 3, 4: its result)
  // OUTCOME with dwFesCode 1312: where the file found at the entry's name was
  // kept when a newer file took the name again while it was being checked
  // (a name beside it starting ".hvxdel-"); else null.
  const HALVEX_WCHAR* pwszKeptAt;
} tagHALVEXEVENT;

// Called on the thread running Halvex; event and its strings live for the
// call only. It must not call Halvex.
typedef void(HALVEX_CALLBACK* HALVEX_LISTENER)(void* context, const tagHALVEXEVENT* event);

// Registers the listener of the batches that follow; null removes it. Not to
// be called while a batch runs.
extern "C" HALVEX_API void HalvexSetListener(HALVEX_LISTENER listener, void* context);
