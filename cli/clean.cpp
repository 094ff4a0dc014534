// halvex clean: removes what mail and decrypt --to-temp left in the private
// temporary folder.
#include "cli/clean.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cli/paths.h"
#include "cli/report.h"
#include "suite/settings/settings.h"

namespace halvex::cli {
namespace {

namespace fs = std::filesystem;

bool AllDigits(const std::string& name) {
  return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

// The folder is ours when only its owner may enter it, as it is made; a
// temp_folder setting naming /tmp or a home folder is not cleaned.
bool Private(const fs::path& folder) {
#ifdef _WIN32
  (void)folder;
  return true;
#else
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(folder, ec);
  return !ec && fs::is_directory(st) && (st.permissions() & (fs::perms::group_all | fs::perms::others_all)) == fs::perms::none;
#endif
}

// What halvex made there: the numbered message folders below WLM and YAH, and
// the plain files restored beside them (withRestored). Links are never
// entered nor taken.
std::vector<fs::path> Leftovers(const fs::path& folder, bool withRestored) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    const fs::file_status st = e.symlink_status(ec);
    if (ec) continue;
    if ((name == "WLM" || name == "YAH") && fs::is_directory(st)) {
      std::error_code inner;
      for (const auto& m : fs::directory_iterator(e.path(), inner))
        if (AllDigits(m.path().filename().string()) && fs::is_directory(m.symlink_status(inner)))
          found.push_back(m.path());
    } else if (withRestored && fs::is_regular_file(st) && name != "ui.lock") {
      found.push_back(e.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

int RunClean(const Options& o) {
  if (!o.operands.empty()) {
    std::cerr << "halvex: clean takes no files (try 'halvex clean --help')\n";
    return kExitUsage;
  }
  const auto folder = settings::PrivateTempFolder();
  if (!folder) {
    std::cerr << "halvex: the private temporary folder (temp_folder of the settings, else the default) is "
                 "not halvex's own: a link, not a folder, another user's or open to others; nothing was removed\n";
    return kExitUsage;
  }
  if (!Private(*folder)) {
    std::cerr << "halvex: " << Printable(folder->string())
              << " is not halvex's own private temporary folder (others may enter it); nothing was removed\n";
    return kExitUsage;
  }
  // Restored files bear their own names: in a folder the settings name, which
  // may hold the user's own files, they cannot be told apart and stay.
  const bool ownFolder = !settings::ReadValue(settings::SettingsFilePath(), settings::kTempFolderKey);
  if (!ownFolder)
    std::cerr << "halvex: " << Printable(folder->string())
              << " is named by temp_folder of the settings: only message folders are removed, files restored "
                 "there by 'decrypt --to-temp' are left for you to remove\n";
  size_t removed = 0, failed = 0;
  for (const fs::path& p : Leftovers(*folder, ownFolder)) {
    if (o.dryRun) {
      std::cout << "  would remove " << Printable(p.string()) << "\n";
      ++removed;
      continue;
    }
    // remove_all takes a link found below as the link itself, never its target.
    std::error_code ec;
    fs::remove_all(p, ec);
    if (ec) {
      std::cerr << "halvex: cannot remove " << Printable(p.string()) << ": " << ec.message() << "\n";
      ++failed;
    } else {
      std::cout << "  removed      " << Printable(p.string()) << "\n";
      ++removed;
    }
  }
  std::cout << "clean: " << removed << (o.dryRun ? " would be removed" : " removed") << " from "
            << Printable(folder->string());
  if (failed) std::cout << ", " << failed << " could not be";
  std::cout << "\n";
  return failed ? kExitSomeNotDone : kExitDone;
}

}  // namespace halvex::cli
