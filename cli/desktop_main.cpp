// halvex-desktop: what the file manager starts for its Encrypt, Decrypt,
// self-extracting copy and Mail actions. The command itself runs the batch,
// as a host with the suite's windows: the password is asked in a window, the
// progress, the questions and the errors are windows, and whatever the
// command would have printed ends in one summary window.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/password.h"
#include "cli/report.h"
#include "suite/msgbox/desktop.h"

namespace {

using halvex::cli::Options;
using halvex::platform::HiddenRead;

constexpr const char* kUsage =
    "usage: halvex-desktop encrypt|decrypt|copy|mail FILE-OR-FOLDER...\n"
    "Runs that halvex command on the files with windows for the password, the progress,\n"
    "the questions and the summary; folders are taken with all they hold.\n";

// The command's arguments for one action of the file manager's menu.
std::optional<std::vector<std::string>> CommandFor(const std::string& action, const std::vector<std::string>& files) {
  std::vector<std::string> args{action, "--recursive"};
  if (action == "encrypt") args.push_back("--ask-password");  // asked twice, as at a terminal
  else if (action != "decrypt" && action != "copy" && action != "mail") return std::nullopt;
  args.push_back("--");
  args.insert(args.end(), files.begin(), files.end());
  return args;
}

// One typed secret from the password window; the line keeps its first
// allocation so that nothing typed is left behind in freed memory.
HiddenRead ReadFromWindow(const HalvexDesktopTable& desktop, const std::string& prompt, std::string& line) {
  std::string shown = prompt;
  while (!shown.empty() && (shown.back() == ' ' || shown.back() == ':')) shown.pop_back();
  line.assign(halvex::platform::kSecretLineMax + 1, '\0');
  const int typed = desktop.secret("Halvex", shown.c_str(), line.data(), line.size());
  line.resize(typed == 1 ? std::strlen(line.c_str()) : 0);
  return typed == 1 ? HiddenRead::kLine : typed < 0 ? HiddenRead::kTooLong : HiddenRead::kInterrupted;
}

// Standard output and error into a file while the command runs, so that its
// report becomes the summary window; a copy still goes to the real stderr
// (a session's log) afterwards.
class Captured {
 public:
  Captured() : file_(std::tmpfile()) {
    if (!file_) return;
    std::fflush(stdout);
    std::fflush(stderr);
    out_ = dup(1);
    err_ = dup(2);
    dup2(fileno(file_), 1);
    dup2(fileno(file_), 2);
  }
  std::string Finish() {
    if (!file_) return {};
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(out_, 1);
    dup2(err_, 2);
    close(out_);
    close(err_);
    std::string text;
    std::rewind(file_);
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) text.append(chunk, n);
    std::fclose(file_);
    file_ = nullptr;
    return text;
  }
  ~Captured() { Finish(); }

 private:
  std::FILE* file_;
  int out_ = -1, err_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    std::cout << kUsage;
    return halvex::cli::kExitDone;
  }
  if (args.size() < 2) {
    std::cerr << kUsage;
    return halvex::cli::kExitUsage;
  }
  const std::string action = args[0];
  const std::optional<std::vector<std::string>> command =
      CommandFor(action, std::vector<std::string>(args.begin() + 1, args.end()));
  if (!command) {
    std::cerr << "halvex-desktop: unknown action '" << action << "'\n" << kUsage;
    return halvex::cli::kExitUsage;
  }
  // The windows are asked for: without a display (or the plugin) there is
  // nobody to show them to, and nothing is done.
  setenv("HALVEX_UI", "window", 1);
  const HalvexDesktopTable* desktop = halvex::msgbox::Desktop();
  if (!desktop) {
    std::cerr << "halvex-desktop: no desktop to show windows on (DISPLAY or WAYLAND_DISPLAY, and the desktop "
                 "plugin); use the halvex command\n";
    return halvex::cli::kExitUsage;
  }
  halvex::cli::ParseResult parsed = halvex::cli::ParseArgs(*command);
  if (!parsed.error.empty()) {
    desktop->message("Halvex", ("halvex: " + parsed.error).c_str(), HALVEX_DESKTOP_ICON_ERROR);
    return halvex::cli::kExitUsage;
  }
  Options o = parsed.options;
  o.windows = true;
  halvex::cli::SetSecretReader(
      [desktop](const std::string& prompt, std::string& line) { return ReadFromWindow(*desktop, prompt, line); },
      "the window");

  Captured captured;
  const int status = halvex::cli::RunCommand(o);
  std::string report = captured.Finish();
  std::cerr << report;
  // Cancelled at the password: the user knows, nothing was touched.
  if (status == halvex::cli::kExitCancelled && report.empty()) return status;
  if (report.empty()) report = action + ": done\n";
  const int icon = status == halvex::cli::kExitDone ? HALVEX_DESKTOP_ICON_INFO : HALVEX_DESKTOP_ICON_ERROR;
  desktop->message(("Halvex " + action).c_str(), report.c_str(), icon);
  return status;
}
