// -j on Windows: one batch, as before. Starting this program again with its
// handles inherited and its console questions relayed is not done here yet.
#include "cli/jobs.h"

#include "cli/report.h"

namespace halvex::cli {

std::optional<BatchReport> RunInPlaceSideBySide(const Options&, const std::vector<InputFile>&, const WString*,
                                                InPlaceMode) {
  return std::nullopt;
}

int ServeJob(const Options&) { return kExitUsage; }

}  // namespace halvex::cli
