// The prompts and the error dialog: real dialogs on Windows (window.h), else
// asked on the terminal when someone is there, answered by the host's
// policies otherwise.
#include <cctype>
#include <cstdio>
#include <set>
#include <string>

#include "platform/wide.h"
#include "suite/msgbox/messages.h"
#include "suite/msgbox/windowed.h"
#include "suite/progress.h"
#include "suite/progress/dialogs.h"
#include "suite/progress/host.h"
#include "suite/progress/terminal.h"
#include "suite/progress/window.h"

namespace halvex::progress {
namespace {

struct Policies {
  Choice onExists = Choice::kSkip;
  Choice onHidden = Choice::kSkip;
  ErrorChoice onError = ErrorChoice::kSkip;
};

Policies& Current() {
  static Policies policies;
  return policies;
}

std::optional<bool>& InteractiveOverride() {
  static std::optional<bool> forced;
  return forced;
}

AnswerSource& Source() {
  static AnswerSource source;
  return source;
}

// Names already retried once under the retry-once policy, this batch.
std::set<std::string>& Retried() {
  static std::set<std::string> retried;
  return retried;
}

bool Interactive() {
  if (InteractiveOverride()) return *InteractiveOverride();
  return terminal::StdinIsTerminal();
}

std::optional<std::string> AskUser(const std::string& question) {
  if (Source()) return Source()(question);
  return terminal::Ask(question);
}

int32_t CodeOf(Choice choice) {
  switch (choice) {
    case Choice::kYes: return UI_REPLACE;
    case Choice::kStop: return UI_CANCEL;
    case Choice::kSkip: break;
  }
  return UI_SKIP;
}

int32_t PolicyError(const std::string& name) {
  switch (Current().onError) {
    case ErrorChoice::kStop: return UI_STOP;
    case ErrorChoice::kRetryOnce: return Retried().insert(name).second ? UI_RETRY : UI_SKIP_ERROR;
    case ErrorChoice::kSkip: break;
  }
  return UI_SKIP_ERROR;
}

// Asks until one of the offered letters is typed; nothing at end of input.
template <typename Map>
std::optional<int32_t> AskLetter(const std::string& question, Map map) {
  for (;;) {
    std::optional<std::string> line = AskUser(question);
    if (!line) return std::nullopt;
    size_t at = line->find_first_not_of(" \t");
    if (at == std::string::npos) continue;
    if (std::optional<int32_t> code = map(static_cast<char>(std::tolower(static_cast<unsigned char>((*line)[at])))))
      return code;
  }
}

std::optional<int32_t> PromptLetter(char c) {
  switch (c) {
    case 'y': return UI_REPLACE;
    case 'n': return UI_SKIP;
    case 'a': return UI_YES_TO_ALL;
    case 's': return UI_SKIP_ALL;
    case 'c': return UI_CANCEL;
  }
  return std::nullopt;
}

std::optional<int32_t> ErrorLetter(char c) {
  switch (c) {
    case 'r': return UI_RETRY;
    case 's': return UI_SKIP_ERROR;
    case 'c': return UI_STOP;
  }
  return std::nullopt;
}

std::string PromptQuestion(int32_t direction, const std::string& name, int32_t question, int32_t more) {
  std::string text = question == 2
      ? name + " is a hidden file. " + (direction == 2 ? "Decrypt" : "Encrypt") + " it?"
      : name + " exists already. Replace it?";
  text += more ? " [y]es, [n]o, yes to [a]ll, [s]kip all, [c]ancel: " : " [y]es, [n]o, [c]ancel: ";
  return text;
}

}  // namespace

void SetPolicies(Choice onExists, Choice onHidden, ErrorChoice onError) {
  Current() = Policies{onExists, onHidden, onError};
}
void SetInteractive(bool interactive) { InteractiveOverride() = interactive; }
void ClearInteractiveOverride() { InteractiveOverride().reset(); }
void SetAnswerSource(AnswerSource source) { Source() = std::move(source); }
void ForgetRetries() { Retried().clear(); }

}  // namespace halvex::progress

using namespace halvex::progress;

extern "C" {

void FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question, int32_t more,
                               tagUIEXCHANGE* ui) {
  std::string text = name ? halvex::platform::ToUtf8(name) : std::string();
  Choice policy = question == 2 ? Current().onHidden : Current().onExists;
  std::optional<int32_t> answer;
  if (halvex::msgbox::Windowed()) answer = window::Prompt(direction, name, question, more != 0);
  if (!answer && Interactive()) answer = AskLetter(PromptQuestion(direction, text, question, more), PromptLetter);
  if (ui) ui->nResult = answer ? *answer : CodeOf(policy);
}

void FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode, tagUIEXCHANGE* ui) {
  std::string text = name ? halvex::platform::ToUtf8(name) : std::string();
  std::string line = halvex::msgbox::Line(fesCode, apiCode) + ": " + text;
  std::optional<int32_t> answer;
  if (halvex::msgbox::Windowed()) answer = window::ErrorDialog(name, halvex::msgbox::Describe(fesCode, apiCode));
  if (!answer && Interactive()) answer = AskLetter(line + ". [r]etry, [s]kip, [c]ancel: ", ErrorLetter);
  if (!answer) {
    answer = PolicyError(text);
    const char* what = *answer == UI_RETRY ? "retrying" : *answer == UI_STOP ? "stopping" : "skipped";
    std::fprintf(stderr, "%s (%s)\n", line.c_str(), what);
    std::fflush(stderr);
  }
  if (ui) ui->nResult = *answer;
}

}  // extern "C"
