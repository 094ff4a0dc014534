// Libraries opened while the program runs: the desktop windows are a plugin
// that links the toolkit, so that neither the library nor the command needs
// the toolkit to start. POSIX only; Windows links its windows directly.
#pragma once

#include <string>

namespace halvex::platform {

// The library at path, or null (message says why). Opened once and never
// closed: a toolkit's threads and handlers must outlive every caller.
void* OpenModule(const std::string& path, std::string* message = nullptr);
// The address of symbol in module, or null.
void* ModuleSymbol(void* module, const char* symbol);
// The folder of the file (program or shared library) that holds address.
std::string FolderOfCode(const void* address);

}  // namespace halvex::platform
