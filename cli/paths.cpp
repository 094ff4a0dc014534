// Expanding and converting the command's paths.
#include "cli/paths.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace halvex::cli {
namespace {

std::string AbsoluteOf(const std::string& operand) {
  std::error_code ec;
  fs::path p = fs::absolute(operand, ec);
  if (ec) p = operand;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

class Expander {
 public:
  explicit Expander(bool recursive) : recursive_(recursive) {}

  void Operand(const std::string& operand) {
    const std::string native = AbsoluteOf(operand);
    std::error_code ec;
    fs::file_status st = fs::symlink_status(native, ec);
    if (ec || !fs::exists(st)) return Error(operand, "no such file or folder");
    // Encrypting through a link would replace the link and leave its target plain.
    if (fs::is_symlink(st)) return Error(operand, "is a symbolic link; name the file it points to");
    if (fs::is_directory(st)) {
      if (!recursive_) return Error(operand, "is a folder: use -r to include the files below it");
      return Folder(native, operand);
    }
    if (!fs::is_regular_file(st)) return Error(operand, "is not a regular file");
    File(native, operand);
  }

  Expansion Take() { return std::move(out_); }

 private:
  void Error(const std::string& shown, const std::string& why) {
    out_.errors.push_back("'" + Printable(shown) + "' " + why);
  }

  void File(const std::string& native, const std::string& shown) {
    if (!seen_.insert(native).second) return;
    std::optional<WString> library = platform::FromNativePath(native);
    if (!library) return Error(shown, "has a path the library cannot name");
    out_.files.push_back({native, std::move(*library)});
  }

  void Folder(const std::string& native, const std::string& shown) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(native, ec), end; !ec && it != end; it.increment(ec))
      entries.push_back(*it);
    if (ec) return Error(shown, "cannot be read: " + ec.message());
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path() < b.path(); });
    for (const auto& entry : entries) {
      const std::string child = entry.path().string();
      fs::file_status st = entry.symlink_status(ec);
      if (ec) {
        Error(child, "cannot be examined: " + ec.message());
      } else if (fs::is_symlink(st)) {
        out_.warnings.push_back("'" + Printable(child) + "' is a symbolic link, left out");
      } else if (fs::is_directory(st)) {
        Folder(child, child);
      } else if (fs::is_regular_file(st)) {
        File(child, child);
      } else {
        out_.warnings.push_back("'" + Printable(child) + "' is not a regular file, left out");
      }
    }
  }

  bool recursive_;
  std::set<std::string> seen_;
  Expansion out_;
};

}  // namespace

size_t OtherNames(const std::string& native) {
  std::error_code ec;
  const auto links = fs::hard_link_count(native, ec);
  return ec || links < 1 ? 0 : static_cast<size_t>(links - 1);
}

Expansion ExpandOperands(const std::vector<std::string>& operands, bool recursive) {
  Expander expander(recursive);
  for (const auto& operand : operands) expander.Operand(operand);
  return expander.Take();
}

std::string NativeOf(WStringView libraryPath) {
  if (auto native = platform::ToNativePath(libraryPath)) return *native;
  return platform::DisplayPath(libraryPath);
}

std::string Printable(std::string_view name) { return platform::Printable(name); }

}  // namespace halvex::cli
