// The pass-through of the suite calls that tell about a file (see observe.h).
#include "cli/observe.h"

#include <cstdint>

#include "suite/msgbox.h"
#include "suite/progress.h"

namespace halvex::cli {
namespace {

BatchObserver* g_observer = nullptr;

void Notify(const SuiteEvent& event) {
  if (g_observer) g_observer->OnEvent(event);
}

WStringView ViewOf(const WCHAR* text) { return text ? WStringView(text) : WStringView(); }

}  // namespace

void SetBatchObserver(BatchObserver* observer) { g_observer = observer; }

}  // namespace halvex::cli

using halvex::cli::Notify;
using halvex::cli::SuiteEvent;
using halvex::cli::ViewOf;

// The linker sends the library's calls to __wrap_X and makes __real_X the
// suite's own X.
extern "C" {
void __real_Encryption_Progress_SetFileName(const WCHAR* name, void** progress);
void __real_Decryption_Progress_SetFileName(const WCHAR* name, void** progress);
void __real_FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question,
                                      int32_t more, tagUIEXCHANGE* ui);
void __real_FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode,
                                   tagUIEXCHANGE* ui);
void __real_ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags);

void __wrap_Encryption_Progress_SetFileName(const WCHAR* name, void** progress) {
  Notify({SuiteEvent::Kind::kFileName, ViewOf(name)});
  __real_Encryption_Progress_SetFileName(name, progress);
}

void __wrap_Decryption_Progress_SetFileName(const WCHAR* name, void** progress) {
  Notify({SuiteEvent::Kind::kFileName, ViewOf(name)});
  __real_Decryption_Progress_SetFileName(name, progress);
}

void __wrap_FF_ReplaceHiddenForm_Show(int32_t direction, const WCHAR* name, int32_t question,
                                      int32_t more, tagUIEXCHANGE* ui) {
  __real_FF_ReplaceHiddenForm_Show(direction, name, question, more, ui);
  SuiteEvent e{SuiteEvent::Kind::kQuestion, ViewOf(name)};
  e.question = question;
  e.answer = ui ? ui->nResult : 0;
  Notify(e);
}

void __wrap_FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode,
                                   tagUIEXCHANGE* ui) {
  __real_FF_HandleErrorMsg_Show(name, fesCode, apiCode, ui);
  SuiteEvent e{SuiteEvent::Kind::kError, ViewOf(name)};
  e.fes = fesCode;
  e.api = apiCode;
  e.answer = ui ? ui->nResult : 0;
  Notify(e);
}

void __wrap_ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags) {
  __real_ShowErrorMessage(reserved, fesCode, apiCode, flags);
  SuiteEvent e{SuiteEvent::Kind::kMessage, {}};
  e.fes = fesCode;
  e.api = apiCode;
  Notify(e);
}
}
