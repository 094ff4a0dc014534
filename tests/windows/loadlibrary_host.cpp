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
#include <new>
#include <string>
#include <vector>

#include "halvex/records.h"

namespace {

namespace fs = std::filesystem;

// Member functions of an i686 MinGW class are thiscall: the object in ECX.
// x86_64 has one calling convention, the object as the first argument.
#if defined(__i386__)
#define HALVEX_MEMBER_CALL __attribute__((thiscall))
#else
#define HALVEX_MEMBER_CALL
#endif
using ListConstructor = void(HALVEX_MEMBER_CALL*)(void* self, WCHAR** paths);
using ListDestructor = void(HALVEX_MEMBER_CALL*)(void* self);
using Entry = void(__cdecl*)(tagCRYPTOPARAMS* request);

// The names the library exports for CFileList(WCHAR**) and ~CFileList().
constexpr char kListConstructor[] = "_ZN9CFileListC1EPPw";
constexpr char kListDestructor[] = "_ZN9CFileListD1Ev";

struct Library {
  HMODULE module = nullptr;
  Entry halvex = nullptr;
  ListConstructor construct = nullptr;
  ListDestructor destroy = nullptr;
};

int Fail(const char* step) {
  std::fprintf(stderr, "loadlibrary_host: %s (error %lu)\n", step, GetLastError());
  return 1;
}

// GetProcAddress gives every export one type; the caller knows the real one.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool Load(Library& lib) {
  lib.module = LoadLibraryW(L"halvex.dll");
  if (!lib.module) return false;
  lib.halvex = Lookup<Entry>(lib.module, "Halvex");
  lib.construct = Lookup<ListConstructor>(lib.module, kListConstructor);
  lib.destroy = Lookup<ListDestructor>(lib.module, kListDestructor);
  return lib.halvex && lib.construct && lib.destroy;
}

// The host allocates the list and runs the exported constructor on it.
class HostList {
 public:
  HostList(const Library& lib, const std::wstring& path) : lib_(lib) {
    std::wstring end;
    WCHAR* array[] = {const_cast<WCHAR*>(path.c_str()), end.data()};
    lib_.construct(storage_, array);
  }
  ~HostList() { lib_.destroy(storage_); }
  HostList(const HostList&) = delete;
  HostList& operator=(const HostList&) = delete;

  CFileList* get() { return std::launder(reinterpret_cast<CFileList*>(storage_)); }

 private:
  const Library& lib_;
  alignas(CFileList) unsigned char storage_[sizeof(CFileList)];
};

struct Outcome {
  uint32_t code = 0, succeeded = 0;
  std::vector<std::wstring> outputs;
};

Outcome RunBatch(const Library& lib, const std::wstring& path, uint32_t action) {
  HostList list(lib, path);
  tagCRYPTOOPTIONS options{};
  options.dwAction = action;
  tagCRYPTOPARAMS request{};
  request.dwType = 0;
  request.pwszPassword = L"correct horse";
  request.pFileList = list.get();
  request.pOptions = &options;
  lib.halvex(&request);
  Outcome outcome{request.dwErrCode, options.nSucceeded, {}};
  for (const auto& out : list.get()->m_vecOutFiles) outcome.outputs.push_back(out);
  return outcome;
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
  if (!Load(lib)) return Fail("halvex.dll or its exports not found");

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
