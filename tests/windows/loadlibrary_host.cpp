// A host as the suite's programs are: it finds halvex.dll at run time, looks
// up the entry and the file list's constructor and destructor by name, and
// runs one interactive batch over real files (encrypt, then decrypt, with
// the stored key). Nothing of the library is linked in.
//
// Exit status 0 when the bytes come back; otherwise a line on stderr says
// which step failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "host_library.h"

namespace {

namespace fs = std::filesystem;

using host::Library;
using host::Outcome;

int Fail(const char* step) {
  std::fprintf(stderr, "loadlibrary_host: %s (error %lu)\n", step, GetLastError());
  return 1;
}

Outcome RunBatch(const Library& lib, const std::wstring& path, uint32_t action) {
  return host::RunBatch(lib, {path}, action);
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path MakeWorkFolder() {
  fs::path base = fs::temp_directory_path() / ("hx-host-" + std::to_string(GetCurrentProcessId()));
  fs::remove_all(base);
  fs::create_directories(base / "Docs");
  return base;
}

}  // namespace

int main() {
  const fs::path work = MakeWorkFolder();
  // The key store and settings of this run stay in its own folder.
  _putenv_s("HALVEX_KEYSTORE", (work / "keystore").string().c_str());
  _putenv_s("HALVEX_CONFIG", (work / "settings.ini").string().c_str());
  std::ofstream(work / "settings.ini") << "temp_folder = " << (work / "tmp").string() << "\n";

  const fs::path plain = work / "Docs" / "plan.doc";
  std::string content(70000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + 7);
  std::ofstream(plain, std::ios::binary) << content;

  Library lib;
  if (!host::Load(lib)) return Fail("halvex.dll or its exports not found");

  Outcome encrypted = RunBatch(lib, plain.wstring(), 1);
  if (encrypted.code != 0 || encrypted.succeeded != 1 || encrypted.outputs.size() != 1)
    return Fail("the encryption batch did not complete");
  if (fs::exists(plain)) return Fail("the plain source was left behind");
  if (ReadAll(encrypted.outputs[0]) == content) return Fail("the output is not encrypted");

  Outcome decrypted = RunBatch(lib, encrypted.outputs[0], 0);
  if (decrypted.code != 0 || decrypted.succeeded != 1) return Fail("the decryption batch did not complete");
  if (ReadAll(plain) != content) return Fail("the decrypted bytes differ");

  FreeLibrary(lib.module);
  fs::remove_all(work);
  std::printf("loadlibrary_host: %ls encrypted to %ls and back\n", plain.c_str(), encrypted.outputs[0].c_str());
  return 0;
}
