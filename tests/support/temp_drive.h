// A temporary folder mapped as a drive letter, so tests can use library paths
// such as C:\Docs\plan.doc as written.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/wide.h"

namespace halvex::test {

class TempDrive {
 public:
  explicit TempDrive(char letter = 'C') : letter_(letter) {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvex-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    const char* old = std::getenv("HALVEX_DRIVES");
    if (old) saved_ = old, hadSaved_ = true;
    std::string map = std::string(1, letter_) + "=" + root_.string();
    if (hadSaved_ && !saved_.empty()) map += ";" + saved_;
    setenv("HALVEX_DRIVES", map.c_str(), 1);
    halvex::platform::ReloadDriveMap();
  }
  ~TempDrive() {
    if (hadSaved_) setenv("HALVEX_DRIVES", saved_.c_str(), 1);
    else unsetenv("HALVEX_DRIVES");
    halvex::platform::ReloadDriveMap();
    std::error_code ec;
    // Files made read-only or immutable by a test must not stop the clean-up.
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(root_, ec);
  }
  TempDrive(const TempDrive&) = delete;
  TempDrive& operator=(const TempDrive&) = delete;

  // Native path of a relative name written with "/" or "\".
  std::string Native(std::string_view rel = "") const {
    std::string r(rel);
    for (char& c : r) if (c == '\\') c = '/';
    return (root_ / r).string();
  }
  // Library path: "C:\" followed by rel with "\" separators.
  WString Path(std::string_view rel = "") const {
    std::string r(rel);
    for (char& c : r) if (c == '/') c = '\\';
    return halvex::platform::Widen(std::string(1, letter_) + ":\\" + r);
  }
  void Write(std::string_view rel, std::string_view content) const {
    std::filesystem::path p = Native(rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  std::string Read(std::string_view rel) const {
    std::ifstream in(Native(rel), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(std::string_view rel) const { return std::filesystem::exists(Native(rel)); }
  const std::filesystem::path& Root() const { return root_; }

 private:
  char letter_;
  std::filesystem::path root_;
  std::string saved_;
  bool hadSaved_ = false;
};

}  // namespace halvex::test
