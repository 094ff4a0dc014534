// The settings library's folders on POSIX.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "suite/settings/settings_os.h"

namespace halvex::settings::os {

namespace fs = std::filesystem;

namespace {
// Longer than the coarsest file times kept (2 s on FAT), so a later change
// always gives a later stamp.
constexpr uint64_t kSettleNs = 3'000'000'000;
}  // namespace

fs::path DefaultSettingsFile() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    return fs::path(config) / "halvex" / "settings.ini";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".config" / "halvex" / "settings.ini";
  return {};
}

fs::path DefaultTempFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
    return fs::path(runtime) / "halvex";
  return fs::path("/tmp") / ("halvex-" + std::to_string(geteuid()));
}

// In a shared folder such as /tmp another user could have made the name
// first, as a folder or a link of theirs: only a real folder of ours will do.
bool EnsurePrivateFolder(const fs::path& dir) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return false;
  return true;
}

std::optional<FileStamp> StampOf(const fs::path& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return std::nullopt;
  const auto ns = [](const struct timespec& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(t.tv_nsec);
  };
  return FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                   static_cast<uint64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

bool RecentlyChanged(const FileStamp& stamp) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  const uint64_t nowNs = static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
  return stamp[4] + kSettleNs > nowNs;  // the change time; one in the future counts as recent
}

}  // namespace halvex::settings::os
