// The settings library's helpers: a "key = value" settings file and the
// private temporary folder. api.cpp has its suite calls.
#include "suite/settings/settings.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/private_files.h"
#include "platform/wide.h"

namespace halvex::settings {
namespace {

namespace fs = std::filesystem;
namespace os = halvex::platform;

std::string_view Trim(std::string_view s) {
  const char* space = " \t\r\n";
  size_t first = s.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(space);
  return s.substr(first, last - first + 1);
}

// The key of a "key = value" line; empty for blank, comment and section lines.
std::string_view KeyOf(std::string_view line, std::string_view* value = nullptr) {
  std::string_view t = Trim(line);
  if (t.empty() || t[0] == '#' || t[0] == ';' || t[0] == '[') return {};
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return {};
  if (value) *value = Trim(t.substr(eq + 1));
  return Trim(t.substr(0, eq));
}

std::vector<std::string> ReadLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of files read before, each with the stamp it had then. A batch
// asks for a setting once per file; while the stamp is unchanged the lines
// read last are still the file's, and one look at the stamp replaces opening
// and reading it. A missing file is remembered as such, and read again once
// it appears.
struct CachedFile {
  std::optional<os::FileStamp> stamp;
  std::vector<std::string> lines;
};
std::mutex cacheMutex;
std::map<fs::path, CachedFile> cache;

std::vector<std::string> CachedLines(const fs::path& file) {
  std::optional<os::FileStamp> stamp = os::StampOf(file);
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto it = cache.find(file);
    if (it != cache.end() && it->second.stamp == stamp) return it->second.lines;
  }
  std::vector<std::string> lines = stamp ? ReadLines(file) : std::vector<std::string>();
  // A file changed within the last moments could change again under the same
  // stamp, and one that changed while it was read has lines the stamp may not
  // match: neither is remembered.
  if (stamp && (os::RecentlyChanged(*stamp) || os::StampOf(file) != stamp)) return lines;
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cache.size() > 16) cache.clear();
  cache[file] = {stamp, lines};
  return lines;
}

}  // namespace

fs::path SettingsFilePath() {
  if (const char* set = std::getenv("HALVEX_CONFIG"); set && *set) return fs::path(set);
  return os::UserConfigFile("settings.ini");
}

fs::path StateFilePath() {
  fs::path settings = SettingsFilePath();
  return settings.empty() ? settings : settings.parent_path() / "state.ini";
}

std::optional<std::string> ReadValue(const fs::path& file, std::string_view key) {
  std::optional<std::string> found;
  for (const std::string& line : CachedLines(file)) {
    std::string_view value;
    if (KeyOf(line, &value) == key) found = std::string(value);
  }
  return found;
}

bool WriteValue(const fs::path& file, std::string_view key, std::string_view value) {
  std::vector<std::string> lines = ReadLines(file);
  std::string entry = std::string(key) + " = " + std::string(value);
  bool replaced = false;
  for (std::string& line : lines) {
    if (KeyOf(line) == key) line = entry, replaced = true;
  }
  if (!replaced) lines.push_back(entry);

  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  // Written whole and flushed under a temporary name, then renamed over the
  // file: a crash leaves the old settings or the new, never half of them.
  fs::path temporary = file;
  temporary += ".new";
  fs::remove(temporary, ec);  // what an interrupted write left
  if (!os::WriteNewPrivateFile(temporary, reinterpret_cast<const uint8_t*>(text.data()), text.size())) return false;
  if (!os::PublishReplace(temporary, file)) {
    fs::remove(temporary, ec);
    return false;
  }
  return os::SyncFolder(file.has_parent_path() ? file.parent_path() : fs::path("."));
}

std::optional<fs::path> PrivateTempFolder() {
  fs::path folder;
  if (auto set = ReadValue(SettingsFilePath(), kTempFolderKey); set && !set->empty()) folder = *set;
  else folder = os::DefaultPrivateTempFolder();
  if (folder.empty() || !folder.is_absolute() || !os::EnsurePrivateFolder(folder)) return std::nullopt;
  return folder;
}

}  // namespace halvex::settings
