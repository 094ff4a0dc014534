// Expanding and converting the command's paths.
#include "cli/paths.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/paths.h"
#include "platform/win32.h"

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

// Hidden as the library sees it: a dot name unless stored attributes say
// otherwise (on Windows, the folder's own attribute).
bool IsHiddenFolder(const fs::path& folder) {
  std::optional<WString> library = platform::FromNativePath(folder.string());
  if (!library) return folder.filename().string().starts_with('.');
  const DWORD attributes = GetFileAttributesW(library->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

size_t CountFiles(const std::string& folder) {
  std::error_code ec;
  size_t count = 0;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec) && !it->is_symlink(ec)) ++count;
  return count;
}

class Expander {
 public:
  Expander(bool recursive, bool enterHidden) : recursive_(recursive), enterHidden_(enterHidden) {}

  // Files already taken are not taken twice.
  void Seen(const std::vector<InputFile>& files) {
    for (const auto& f : files) seen_.insert(f.native);
  }

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
        if (enterHidden_ || !IsHiddenFolder(entry.path())) Folder(child, child);
        else out_.hidden.push_back({child, CountFiles(child)});
      } else if (fs::is_regular_file(st)) {
        File(child, child);
      } else {
        out_.warnings.push_back("'" + Printable(child) + "' is not a regular file, left out");
      }
    }
  }

  bool recursive_;
  bool enterHidden_;
  std::set<std::string> seen_;
  Expansion out_;
};

}  // namespace

size_t OtherNames(const std::string& native) {
  std::error_code ec;
  const auto links = fs::hard_link_count(native, ec);
  return ec || links < 1 ? 0 : static_cast<size_t>(links - 1);
}

Expansion ExpandOperands(const std::vector<std::string>& operands, bool recursive, bool enterHidden) {
  Expander expander(recursive, enterHidden);
  for (const auto& operand : operands) expander.Operand(operand);
  return expander.Take();
}

void EnterHidden(Expansion& expansion, const HiddenFolder& folder) {
  Expander expander(true, true);
  expander.Seen(expansion.files);
  expander.Operand(folder.native);
  Expansion more = expander.Take();
  for (auto& f : more.files) expansion.files.push_back(std::move(f));
  for (auto& w : more.warnings) expansion.warnings.push_back(std::move(w));
  for (auto& e : more.errors) expansion.errors.push_back(std::move(e));
}

std::string NativeOf(WStringView libraryPath) {
  if (auto native = platform::ToNativePath(libraryPath)) return *native;
  return platform::DisplayPath(libraryPath);
}

std::string Printable(std::string_view name) { return platform::Printable(name); }

FolderTimes::FolderTimes(const std::vector<InputFile>& files) {
  std::set<std::filesystem::path> folders;
  for (const InputFile& f : files) folders.insert(std::filesystem::path(f.native).parent_path());
  for (const std::filesystem::path& folder : folders) {
    std::error_code ec;
    auto time = std::filesystem::last_write_time(folder, ec);
    if (!ec) times_.emplace_back(folder, time);
  }
}

// Best effort: a folder that went meanwhile, or one the user may not
// change, keeps the time the batch gave it.
void FolderTimes::Restore() const {
  for (const auto& [folder, time] : times_) {
    std::error_code ec;
    std::filesystem::last_write_time(folder, time, ec);
  }
}

}  // namespace halvex::cli
