// halvex: the library's batches from a terminal or a script.
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/report.h"

int main(int argc, char** argv) {
  using namespace halvex::cli;
  ParseResult parsed = ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << "halvex: " << parsed.error << "\n";
    return kExitUsage;
  }
  const Options& o = parsed.options;
  if (o.version) {
    std::cout << "halvex " << HALVEX_VERSION << "\n";
    return kExitDone;
  }
  if (o.help) {
    std::cout << HelpText(o.command);
    return kExitDone;
  }
  return RunCommand(o);
}
