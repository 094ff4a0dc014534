// What a host program tells the progress library: the cancel button, how
// questions are answered when nobody is at a terminal, and whether one is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/wide.h"

namespace halvex::progress {

// On Windows the windows and dialogs are real ones; a console host asks for
// this terminal behaviour instead (as HALVEX_UI=console does). Elsewhere the
// terminal behaviour is the only one.
void UseConsole(bool console);

// What the host knows of the next batch, for the progress line's rate and
// time left: the bytes of all its files, before the batch; and, as each file
// starts (the listener's started event), its full path in the library's
// form, which the line then shows whole as far as the terminal is wide.
// Without them the line shows the name as the library cuts it, and no pace.
void SetBatchBytes(uint64_t bytes);
void SetRunningFile(const WCHAR* path);

// The cancel button of every window. Safe to call from a signal handler
// (a lock-free atomic store); stays set until the host clears it, so a
// cancelled batch is not resumed by a later check.
void SetCancel(bool pressed);
bool CancelRequested();

// Answers given without a terminal. The defaults lose nothing: skip.
enum class Choice {
  kSkip,   // leave the file as it is and go on (5)
  kYes,    // replace the destination / encrypt the hidden file (4)
  kStop,   // stop the batch (2)
};
enum class ErrorChoice {
  kSkip,       // go on with the next file (11)
  kStop,       // stop the batch (6)
  kRetryOnce,  // retry a file once (10), then skip it (11)
};
void SetPolicies(Choice onExists, Choice onHidden, ErrorChoice onError);

// Errors the host reports in its own way (for instance, many at once): they
// are answered "skip" without a question or a line. Empty: every error is
// shown.
using QuietSkip = std::function<bool(uint32_t fesCode, uint32_t apiCode)>;
void SetQuietSkip(QuietSkip which);

// Questions go to the terminal when stdin is one, unless forced either way.
void SetInteractive(bool interactive);
void ClearInteractiveOverride();

// Where interactive answers come from: given the question, one line typed by
// the user, or nothing at end of input (then the policy answers). By default
// the controlling terminal, else stdin. Tests put their own here; an empty
// function restores the default.
using AnswerSource = std::function<std::optional<std::string>(const std::string& question)>;
void SetAnswerSource(AnswerSource source);

// A host's own question, asked as the library asks its own: only when
// someone may be asked, and again until one of the offered letters or
// words is typed. Nothing when nobody may be asked or input ended.
struct Offered {
  const char* letter;
  const char* word;
  int32_t code;
};
std::optional<int32_t> AskHost(const std::string& question, const std::vector<Offered>& offered);

}  // namespace halvex::progress
