// A temporary folder mapped as a drive letter, so tests can use library paths
// such as C:\Docs\plan.doc as written.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/paths.h"
#include "platform/wide.h"

namespace halvex::test {

class TempDrive {
 public:
  explicit TempDrive(char letter = 'C') : letter_(letter) {
    root_ = MakeTempFolder();
    const char* old = std::getenv("HALVEX_DRIVES");
    if (old) saved_ = old, hadSaved_ = true;
    std::string map = std::string(1, letter_) + "=" + root_.string();
    if (hadSaved_ && !saved_.empty()) map += ";" + saved_;
    SetEnv("HALVEX_DRIVES", map.c_str());
    halvex::platform::ReloadDriveMap();
  }
  ~TempDrive() {
    if (hadSaved_) SetEnv("HALVEX_DRIVES", saved_.c_str());
    else UnsetEnv("HALVEX_DRIVES");
    halvex::platform::ReloadDriveMap();
    std::error_code ec;
    // Folders made read-only by a test must not stop the clean-up (an
    // immutable file must be released by the test that froze it).
    MakeFoldersWritable(root_);
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
  // Library path: "C:\" followed by rel with "\" separators. Windows has no
  // drive map: there it is the temporary folder's own path followed by rel.
  WString Path(std::string_view rel = "") const {
    std::string r(rel);
    for (char& c : r) if (c == '/') c = '\\';
#ifdef _WIN32
    return root_.wstring() + L"\\" + halvex::platform::Widen(r);
#else
    return halvex::platform::Widen(std::string(1, letter_) + ":\\" + r);
#endif
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
#ifdef _WIN32
  static std::filesystem::path MakeTempFolder() {
    // A short name: checks of displayed names expect paths about as short
    // as the POSIX build's C:\... (the Wine runs make T:\ the temporary folder).
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[16];
      snprintf(name, sizeof name, "h%05x", static_cast<unsigned>(random() & 0xFFFFF));
      std::filesystem::path p = std::filesystem::temp_directory_path() / name;
      if (std::filesystem::create_directory(p)) return p;
    }
    throw std::runtime_error("no temporary folder could be made");
  }
  static void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }
  static void UnsetEnv(const char* name) { _putenv_s(name, ""); }
#else
  static std::filesystem::path MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvex-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
  }
  static void SetEnv(const char* name, const char* value) { setenv(name, value, 1); }
  static void UnsetEnv(const char* name) { unsetenv(name); }
#endif

  static void MakeFoldersWritable(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_directory(ec) && !it->is_symlink(ec)) MakeFoldersWritable(it->path());
  }

  char letter_;
  std::filesystem::path root_;
  std::string saved_;
  bool hadSaved_ = false;
};

}  // namespace halvex::test
