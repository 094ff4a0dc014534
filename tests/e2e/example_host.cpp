// A tiny host of the halvex shared library: encrypts or decrypts the files
// named on the command line in place, as the suite's own programs do.
//
//   example_host encrypt|decrypt PASSWORD FILE...
//
// Prints the batch's code, its counters and every output path.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "halvex/filelist.h"
#include "halvex/halvex.h"
#include "halvex/records.h"
#include "platform/paths.h"
#include "tests/e2e/host_paths.h"

using halvex::example::LibraryPath;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s encrypt|decrypt PASSWORD FILE...\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  if (mode != "encrypt" && mode != "decrypt") {
    std::fprintf(stderr, "unknown mode '%s'\n", mode.c_str());
    return 2;
  }

  std::vector<LibraryPath> paths;
  for (int i = 3; i < argc; ++i) {
    char* absolute = realpath(argv[i], nullptr);
    LibraryPath path;
    bool ok = absolute && halvex::example::ToLibraryPath(absolute, path);
    std::free(absolute);
    if (!ok) {
      std::fprintf(stderr, "cannot use '%s'\n", argv[i]);
      return 2;
    }
    paths.push_back(path);
  }
  // The list is handed over as the host's array: pointers, ended by an empty string.
  LibraryPath end;
  std::vector<WCHAR*> array;
  for (LibraryPath& p : paths) array.push_back(p.data());
  array.push_back(end.data());
  CFileList list(array.data());

  LibraryPath password;
  for (const char* c = argv[2]; *c; ++c) password.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*c)));

  tagCRYPTOOPTIONS options{};
  options.dwAction = mode == "encrypt" ? 1 : 0;
  tagCRYPTOPARAMS request{};
  request.dwType = 0;
  request.pwszPassword = password.c_str();
  request.pFileList = &list;
  request.dwErrCode = 0;
  request.pOptions = &options;
  Halvex(&request);

  std::printf("code %u, done %u, skipped %u, passed over %u%s\n", request.dwErrCode, options.nSucceeded,
              options.nSkipped, options.nPassedOver, options.dwStatus == 1 ? ", cancelled" : "");
  for (const LibraryPath& out : list.m_vecOutFiles)
    std::printf("%s\n", halvex::example::ToNativePath(out).c_str());
  return request.dwErrCode == 0 && options.nSucceeded == paths.size() ? 0 : 1;
}
