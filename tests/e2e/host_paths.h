// What a host on Linux does to talk to the library: native absolute paths
// become library paths on drive Z: (the root folder unless mapped otherwise),
// and back.
#pragma once

#include <string>

#include "platform/paths.h"
#include "platform/win32.h"

namespace halvex::example {

using LibraryPath = std::basic_string<WCHAR>;

// "/tmp/x/a.txt" -> "Z:\tmp\x\a.txt". ASCII paths only: this host is an
// example, not a converter; a real host uses the library's conversion.
inline bool ToLibraryPath(const std::string& native, LibraryPath& out) {
  if (native.empty() || native[0] != '/') return false;
  out = WTEXT("Z:");
  for (char c : native) {
    if (static_cast<unsigned char>(c) > 0x7F || c == '\\') return false;
    out.push_back(c == '/' ? WCHAR{'\\'} : static_cast<WCHAR>(c));
  }
  return true;
}

inline std::string ToNativePath(const LibraryPath& path) {
  std::string out;
  for (size_t i = path.rfind(WTEXT("Z:"), 0) == 0 ? 2 : 0; i < path.size(); ++i)
    out.push_back(path[i] == WCHAR{'\\'} ? '/' : static_cast<char>(path[i]));
  return out;
}

}  // namespace halvex::example
