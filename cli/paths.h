// The command's paths: native names from the command line, expanded and
// checked before anything is touched, and the library's Windows form of each.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/wide.h"

namespace halvex::cli {

struct InputFile {
  std::string native;  // absolute, as the user's system names it
  WString library;     // the same file as the library names it
};

// The names a file has besides this one (hard links); 0 when it cannot be told.
size_t OtherNames(const std::string& native);

// A hidden folder below a named one, not entered.
struct HiddenFolder {
  std::string native;
  size_t files = 0;  // regular files anywhere below it
};

struct Expansion {
  std::vector<InputFile> files;       // in command-line order, folders sorted, no duplicates
  std::vector<std::string> errors;    // each one a reason not to start at all
  std::vector<std::string> warnings;  // entries below a folder that are left out
  std::vector<HiddenFolder> hidden;   // left out unless entered
};

// Folders are an error unless recursive; then every regular file below them
// is taken, without following symbolic links. Below a named folder, a hidden
// one (a dot name, or marked hidden) is entered only with enterHidden: a
// repository's or a program's own folders are not the user's documents.
Expansion ExpandOperands(const std::vector<std::string>& operands, bool recursive, bool enterHidden = true);

// Adds every file below a hidden folder the user chose after all.
void EnterHidden(Expansion& expansion, const HiddenFolder& folder);

// The modification times of the folders that hold files, taken before a
// batch changes what is in them and put back after it, so that a tree
// encrypted and decrypted in place keeps its folders' times too.
class FolderTimes {
 public:
  explicit FolderTimes(const std::vector<InputFile>& files);
  void Restore() const;

 private:
  std::vector<std::pair<std::filesystem::path, std::filesystem::file_time_type>> times_;
};

// A library path in native form for the user; the library form itself if it
// has no native one.
std::string NativeOf(WStringView libraryPath);

// A name safe to print: bytes that are not printable UTF-8 become \xNN.
std::string Printable(std::string_view name);

}  // namespace halvex::cli
