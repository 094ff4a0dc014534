// Finding and opening the desktop plugin (POSIX).
#include "suite/msgbox/desktop.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/module.h"
#include "suite/msgbox/lines.h"

#ifndef HALVEX_DESKTOP_PLUGIN_DIR
#define HALVEX_DESKTOP_PLUGIN_DIR "/usr/lib/halvex"
#endif
#ifndef HALVEX_DESKTOP_PLUGIN_FROM_PROGRAMS
#define HALVEX_DESKTOP_PLUGIN_FROM_PROGRAMS "../lib/halvex"
#endif

namespace halvex::msgbox {
namespace {

constexpr const char* kPluginName = "libhalvex-desktop-gtk3.so";

// HALVEX_DESKTOP_PLUGIN names the file (tests, a build tree); otherwise the
// plugin is looked for beside the code that holds this library (the shared
// library's folder, or a program's and its sibling library folder: an
// install moved elsewhere), then where the install put it.
std::vector<std::string> Candidates() {
  if (const char* path = std::getenv("HALVEX_DESKTOP_PLUGIN"); path && *path) return {path};
  std::vector<std::string> found;
  const std::string here = platform::FolderOfCode(reinterpret_cast<const void*>(&Desktop));
  if (!here.empty()) {
    found.push_back(here + "/halvex/" + kPluginName);
    found.push_back(here + "/" HALVEX_DESKTOP_PLUGIN_FROM_PROGRAMS "/" + kPluginName);
  }
  found.push_back(std::string(HALVEX_DESKTOP_PLUGIN_DIR) + "/" + kPluginName);
  return found;
}

const HalvexDesktopTable* Open() {
  std::string why;
  for (const std::string& path : Candidates()) {
    void* module = platform::OpenModule(path, &why);
    if (!module) continue;
    using Entry = const HalvexDesktopTable* (*)();
    auto entry = reinterpret_cast<Entry>(platform::ModuleSymbol(module, HALVEX_DESKTOP_ENTRY));
    const HalvexDesktopTable* table = entry ? entry() : nullptr;
    if (!table || table->abi != HALVEX_DESKTOP_ABI) {
      why = path + " is not a desktop plugin of this version";
      continue;
    }
    return table->start() ? table : nullptr;
  }
  // Asked for by name and not found: say so once, rather than fall back to
  // the terminal without a word.
  if (std::getenv("HALVEX_DESKTOP_PLUGIN")) WriteLines("halvex: no desktop windows: " + why + "\n");
  return nullptr;
}

}  // namespace

const HalvexDesktopTable* Desktop() {
  static const HalvexDesktopTable* const table = Open();
  return table;
}

}  // namespace halvex::msgbox
