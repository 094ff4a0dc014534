#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace halvex::platform {

void* OpenModule(const std::string& path, std::string* message) {
  // RTLD_NODELETE: a dlclose by anybody must never unmap code whose threads run.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!module && message) {
    const char* why = dlerror();
    *message = why ? why : "cannot open " + path;
  }
  return module;
}

void* ModuleSymbol(void* module, const char* symbol) { return module ? dlsym(module, symbol) : nullptr; }

std::string FolderOfCode(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  std::string file = info.dli_fname;
  // The program itself is named as it was started: a bare name when a shell
  // or a file manager found it on PATH. The kernel knows its real place.
  if (file.find('/') == std::string::npos) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) file.assign(self, static_cast<size_t>(n));
  }
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

}  // namespace halvex::platform
