// Every failure a batch reports to the user, as the suite's error dialog and
// message box were asked to show it (the calls are linked through here).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace halvex::reliability {

struct Reported {
  std::string name;  // as the dialog shows it; empty for the message box
  uint32_t fes;
  uint32_t api;
};

std::vector<Reported>& ReportedFailures();

}  // namespace halvex::reliability
