// The host controls of include/halvex/host.h: plain C calls over the
// progress library's own (host.h beside this file) and the platform's paths.
#include "halvex/host.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/msgbox/windowed.h"
#include "suite/progress/host.h"

static_assert(sizeof(HALVEX_WCHAR) == sizeof(WCHAR), "the host's wide character is the library's");

namespace {

using halvex::progress::Choice;
using halvex::progress::ErrorChoice;

std::optional<Choice> ChoiceOf(int answer) {
  switch (answer) {
    case HALVEX_ANSWER_SKIP: return Choice::kSkip;
    case HALVEX_ANSWER_YES: return Choice::kYes;
    case HALVEX_ANSWER_STOP: return Choice::kStop;
    default: return std::nullopt;
  }
}

std::optional<ErrorChoice> ErrorChoiceOf(int answer) {
  switch (answer) {
    case HALVEX_ON_ERROR_SKIP: return ErrorChoice::kSkip;
    case HALVEX_ON_ERROR_STOP: return ErrorChoice::kStop;
    case HALVEX_ON_ERROR_RETRY_ONCE: return ErrorChoice::kRetryOnce;
    default: return std::nullopt;
  }
}

// Copies text and its NUL when it fits; the size it needs either way.
template <typename Char>
size_t Hand(const std::basic_string<Char>& text, Char* buffer, size_t capacity) {
  const size_t needed = text.size() + 1;
  if (buffer && capacity >= needed) std::copy(text.c_str(), text.c_str() + needed, buffer);
  return needed;
}

}  // namespace

extern "C" {

int HalvexSetInteractive(int mode) {
  switch (mode) {
    case HALVEX_ASK_AUTO: halvex::progress::ClearInteractiveOverride(); return HALVEX_OK;
    case HALVEX_ASK_NEVER: halvex::progress::SetInteractive(false); return HALVEX_OK;
    case HALVEX_ASK_USER: halvex::progress::SetInteractive(true); return HALVEX_OK;
    default: return HALVEX_INVALID_ARGUMENT;
  }
}

int HalvexSetPolicies(int onExists, int onHidden, int onError) {
  const auto exists = ChoiceOf(onExists);
  const auto hidden = ChoiceOf(onHidden);
  const auto error = ErrorChoiceOf(onError);
  if (!exists || !hidden || !error) return HALVEX_INVALID_ARGUMENT;
  halvex::progress::SetPolicies(*exists, *hidden, *error);
  return HALVEX_OK;
}

void HalvexCancel(void) { halvex::progress::SetCancel(true); }
void HalvexResetCancel(void) { halvex::progress::SetCancel(false); }
int HalvexCancelRequested(void) { return halvex::progress::CancelRequested() ? 1 : 0; }

void HalvexSetQuiet(int quiet) { halvex::msgbox::SetQuiet(quiet != 0); }

size_t HalvexFromNativePath(const char* native, HALVEX_WCHAR* buffer, size_t capacity) {
  if (!native) return 0;
  const std::optional<WString> path = halvex::platform::FromNativePath(native);
  if (!path || path->empty()) return 0;
  return Hand(*path, reinterpret_cast<WCHAR*>(buffer), capacity);
}

size_t HalvexToNativePath(const HALVEX_WCHAR* path, char* buffer, size_t capacity) {
  if (!path) return 0;
  const std::optional<std::string> native = halvex::platform::ToNativePath(reinterpret_cast<const WCHAR*>(path));
  if (!native || native->empty()) return 0;
  return Hand(*native, buffer, capacity);
}

}  // extern "C"
