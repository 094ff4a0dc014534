#include "platform/module.h"

#include <dlfcn.h>

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
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

}  // namespace halvex::platform
