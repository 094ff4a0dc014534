// The prompts and the error dialog: real dialogs on Windows (window.h), else
// asked on the terminal when someone is there, answered by the host's
// policies otherwise.
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/msgbox/lines.h"
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

QuietSkip& Quiet() {
  static QuietSkip quiet;
  return quiet;
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
  return platform::StdinIsTerminal();
}

// A host that said nobody may be asked gets no dialog either: a service has
// nobody in front of its windows.
bool DialogsAllowed() { return halvex::msgbox::Windowed() && InteractiveOverride().value_or(true); }

std::optional<std::string> AskUser(const std::string& question) {
  if (Source()) return Source()(question);
  return platform::AskLine(question, [] { return CancelRequested(); });
}

int32_t CodeOf(Choice choice) {
  switch (choice) {
    case Choice::kYes: return UI_REPLACE;
    case Choice::kStop: return UI_CANCEL;
    case Choice::kSkip: break;
  }
  return UI_SKIP;
}

int32_t PolicyError(const std::string& name, bool retryMayHelp) {
  switch (Current().onError) {
    case ErrorChoice::kStop: return UI_STOP;
    case ErrorChoice::kRetryOnce:
      return retryMayHelp && Retried().insert(name).second ? UI_RETRY : UI_SKIP_ERROR;
    case ErrorChoice::kSkip: break;
  }
  return UI_SKIP_ERROR;
}

using Answer = Offered;

// "please answer y (yes), n (no) or c (cancel)", said before the question is
// asked again.
std::string Choices(const std::vector<Answer>& offered) {
  std::string text = "please answer ";
  for (size_t i = 0; i < offered.size(); ++i) {
    if (i) text += i + 1 == offered.size() ? " or " : ", ";
    text += std::string(offered[i].letter) + " (" + offered[i].word + ")";
  }
  return text + "\n";
}

// The offered answer that cancels, for a Ctrl-C pressed before or while the
// question waits: the user has answered it already.
std::optional<int32_t> CancelAnswer(const std::vector<Answer>& offered) {
  if (!CancelRequested()) return std::nullopt;
  for (const Answer& a : offered)
    if (a.word == std::string("cancel")) return a.code;
  return std::nullopt;
}

// Asks until the whole answer is one of the offered letters or words; Enter
// alone takes no default, and any other answer is told the choices. Nothing
// at end of input.
std::optional<int32_t> AskChoice(const std::string& question, const std::vector<Answer>& offered) {
  for (std::string asked = question;; asked = Choices(offered) + question) {
    if (auto cancelled = CancelAnswer(offered)) return cancelled;
    std::optional<std::string> line = AskUser(asked);
    if (auto cancelled = CancelAnswer(offered)) return cancelled;
    if (!line) return std::nullopt;
    const size_t first = line->find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    std::string typed = line->substr(first, line->find_last_not_of(" \t\r") + 1 - first);
    for (char& c : typed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Answer& a : offered)
      if (typed == a.letter || typed == a.word) return a.code;
  }
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
void SetQuietSkip(QuietSkip which) { Quiet() = std::move(which); }
void ForgetRetries() { Retried().clear(); }

std::optional<int32_t> AskHost(const std::string& question, const std::vector<Offered>& offered) {
  if (!Interactive()) return std::nullopt;
  return AskChoice(question, offered);
}

}  // namespace halvex::progress

using namespace halvex::progress;

extern "C" {

void FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question, int32_t more,
                               tagUIEXCHANGE* ui) {
  std::string text = name ? halvex::platform::DisplayPath(name) : std::string();
  Choice policy = question == 2 ? Current().onHidden : Current().onExists;
  std::optional<int32_t> answer;
  if (DialogsAllowed()) answer = window::Prompt(direction, name, question, more != 0);
  if (!answer && Interactive()) {
    std::vector<Answer> offered{{"y", "yes", UI_REPLACE}, {"n", "no", UI_SKIP}, {"c", "cancel", UI_CANCEL}};
    if (more) offered.insert(offered.end() - 1, {{"a", "yes to all", UI_YES_TO_ALL}, {"s", "skip all", UI_SKIP_ALL}});
    answer = AskChoice(PromptQuestion(direction, text, question, more), offered);
  }
  if (ui) ui->nResult = answer ? *answer : CodeOf(policy);
}

void FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode, tagUIEXCHANGE* ui) {
  if (Quiet() && Quiet()(fesCode, apiCode)) {
    if (ui) ui->nResult = UI_SKIP_ERROR;
    return;
  }
  std::string key = name ? halvex::platform::ToUtf8(name) : std::string();
  std::string line = halvex::msgbox::Line(fesCode, apiCode) + ": " + (name ? halvex::platform::DisplayPath(name) : "");
  // A damaged file or a format the cipher refuses meets the same verdict
  // again: retry is offered only where the cause may clear.
  const bool retry = halvex::msgbox::RetryMayHelp(fesCode, apiCode);
  std::optional<int32_t> answer;
  if (DialogsAllowed()) answer = window::ErrorDialog(name, halvex::msgbox::Describe(fesCode, apiCode));
  if (!answer && Interactive()) {
    std::vector<Answer> offered{{"s", "skip", UI_SKIP_ERROR}, {"c", "cancel", UI_STOP}};
    if (retry) offered.insert(offered.begin(), {"r", "retry", UI_RETRY});
    answer = AskChoice(line + (retry ? ". [r]etry, [s]kip, [c]ancel: " : ". [s]kip, [c]ancel: "), offered);
  }
  if (!answer) {
    answer = PolicyError(key, retry);
    const char* what = *answer == UI_RETRY ? "retrying" : *answer == UI_STOP ? "stopping" : "skipped";
    if (!halvex::msgbox::Quiet()) halvex::msgbox::WriteLines(line + " (" + what + ")\n");
  }
  if (ui) ui->nResult = *answer;
}

}  // extern "C"
