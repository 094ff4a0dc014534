// Records the error dialog's and the message box's arguments, then lets the
// real calls show them (they print one line each on stderr).
#include "tests/reliability/observer.h"

#include "platform/wide.h"
#include "suite/msgbox.h"
#include "suite/progress.h"

namespace halvex::reliability {

std::vector<Reported>& ReportedFailures() {
  static std::vector<Reported> reported;
  return reported;
}

}  // namespace halvex::reliability

extern "C" {

void __real_FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode, tagUIEXCHANGE* ui);
void __real_ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags);

void __wrap_FF_HandleErrorMsg_Show(const WCHAR* name, uint32_t fesCode, uint32_t apiCode, tagUIEXCHANGE* ui) {
  halvex::reliability::ReportedFailures().push_back(
      {name ? halvex::platform::ToUtf8(name) : std::string(), fesCode, apiCode});
  __real_FF_HandleErrorMsg_Show(name, fesCode, apiCode, ui);
}

void __wrap_ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags) {
  halvex::reliability::ReportedFailures().push_back({std::string(), fesCode, apiCode});
  __real_ShowErrorMessage(reserved, fesCode, apiCode, flags);
}

}  // extern "C"
