// halvex.dll as a host finds it at run time: the entry and the file list's
// constructor and destructor looked up by name, nothing of the library linked.
#pragma once

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "batch/records.h"

namespace host {

// Member functions of an i686 MinGW class are thiscall: the object in ECX.
#if defined(__i386__)
#define HOST_THISCALL __attribute__((thiscall))
#else
#define HOST_THISCALL
#endif
using ListConstructor = void(HOST_THISCALL*)(void* self, WCHAR** paths);
using ListDestructor = void(HOST_THISCALL*)(void* self);
using Entry = void(__cdecl*)(tagCRYPTOPARAMS* request);

struct Library {
  HMODULE module = nullptr;
  Entry halvex = nullptr;
  ListConstructor construct = nullptr;
  ListDestructor destroy = nullptr;
};

// GetProcAddress gives every export one type; the caller knows the real one.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The names the library exports for CFileList(WCHAR**) and ~CFileList().
inline bool Load(Library& lib) {
  lib.module = LoadLibraryW(L"halvex.dll");
  if (!lib.module) return false;
  lib.halvex = Lookup<Entry>(lib.module, "Halvex");
  lib.construct = Lookup<ListConstructor>(lib.module, "_ZN9CFileListC1EPPw");
  lib.destroy = Lookup<ListDestructor>(lib.module, "_ZN9CFileListD1Ev");
  return lib.halvex && lib.construct && lib.destroy;
}

// The host allocates the list and runs the exported constructor on it.
class HostList {
 public:
  HostList(const Library& lib, const std::vector<std::wstring>& paths) : lib_(lib) {
    std::vector<WCHAR*> array;
    for (const auto& path : paths) array.push_back(const_cast<WCHAR*>(path.c_str()));
    std::wstring end;
    array.push_back(end.data());
    lib_.construct(storage_, array.data());
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
  uint32_t code = 0, succeeded = 0, skipped = 0;
  std::vector<std::wstring> outputs;
};

// One interactive batch (type 0) with the password; action 1 encrypts.
inline Outcome RunBatch(const Library& lib, const std::vector<std::wstring>& paths, uint32_t action) {
  HostList list(lib, paths);
  tagCRYPTOOPTIONS options{};
  options.dwAction = action;
  tagCRYPTOPARAMS request{};
  request.dwType = 0;
  request.pwszPassword = L"correct horse";
  request.pFileList = list.get();
  request.pOptions = &options;
  lib.halvex(&request);
  Outcome outcome{request.dwErrCode, options.nSucceeded, options.nSkipped, {}};
  for (const auto& out : list.get()->m_vecOutFiles) outcome.outputs.push_back(out);
  return outcome;
}

}  // namespace host
