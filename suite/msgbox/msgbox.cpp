// The message box, for a terminal: one line on stderr.
#include <cstdio>

#include "suite/msgbox.h"
#include "suite/msgbox/messages.h"

extern "C" void ShowErrorMessage(uint32_t /*reserved*/, uint32_t fesCode, uint32_t apiCode, uint32_t /*flags*/) {
  std::string line = halvex::msgbox::Line(fesCode, apiCode) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}
