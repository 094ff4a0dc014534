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
    if (!library) {
      return Error(shown, "has a name the library cannot use (a backslash or ':' in a name, "
                          "or bytes that are not UTF-8)");
    }
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

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t Utf8Length(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

}  // namespace

Expansion ExpandOperands(const std::vector<std::string>& operands, bool recursive) {
  Expander expander(recursive);
  for (const auto& operand : operands) expander.Operand(operand);
  return expander.Take();
}

std::string NativeOf(WStringView libraryPath) {
  if (auto native = platform::ToNativePath(libraryPath)) return *native;
  return platform::ToUtf8(libraryPath);
}

std::string Printable(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < name.size();) {
    const auto c = static_cast<unsigned char>(name[i]);
    size_t n = Utf8Length(name, i);
    if (n > 1 || (n == 1 && c >= 0x20 && c != 0x7F)) {
      out.append(name.substr(i, n));
      i += n;
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      ++i;
    }
  }
  return out;
}

}  // namespace halvex::cli
