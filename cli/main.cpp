// halvex: the library's batches from a terminal or a script.
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/report.h"
#include "halvex/host.h"

#ifdef _WIN32
#include "platform/wide.h"
#include "platform/win32.h"

#include <shellapi.h>
#endif

namespace {

// The arguments as UTF-8. Windows hands main() the ANSI code page's version,
// which loses every name outside it; the UTF-16 command line keeps them.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(halvex::platform::ToUtf8(wide[i]));
    LocalFree(wide);
    return args;
  }
#endif
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halvex::cli;
  ParseResult parsed = ParseArgs(Arguments(argc, argv));
  if (!parsed.error.empty()) {
    std::cerr << "halvex: " << parsed.error << "\n";
    return kExitUsage;
  }
  const Options& o = parsed.options;
  if (o.version) {
    std::cout << "halvex " << HalvexVersion(nullptr, nullptr, nullptr) << "\n";
    return kExitDone;
  }
  if (o.help) {
    std::cout << HelpText(o.command);
    return kExitDone;
  }
  return RunCommand(o);
}
