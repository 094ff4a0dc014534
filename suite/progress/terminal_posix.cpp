// The progress library's lock on POSIX: a lock file in the private temporary folder.
#include <cstdlib>
#include <filesystem>

#include "platform/private_files.h"
#include "suite/progress/terminal.h"
#include "suite/settings/settings.h"

namespace halvex::progress::terminal {
namespace {

std::filesystem::path LockFilePath() {
  if (auto folder = halvex::settings::PrivateTempFolder()) return *folder / "ui.lock";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return std::filesystem::path(runtime) / "halvex-ui.lock";
  return {};
}

}  // namespace

Lock TakeUiLock() {
  std::filesystem::path path = LockFilePath();
  if (path.empty()) return Lock::kUnavailable;
  switch (platform::TakeLockFile(path)) {
    case platform::LockResult::kTaken: return Lock::kTaken;
    case platform::LockResult::kBusy: return Lock::kBusy;
    case platform::LockResult::kUnavailable: break;
  }
  return Lock::kUnavailable;
}

void ReleaseUiLock() { platform::ReleaseLockFile(); }

}  // namespace halvex::progress::terminal
