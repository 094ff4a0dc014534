// Encrypts one file in place with the stored key and decrypts it again,
// through the installed library only.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "halvex/halvex.h"
#include "halvex/host.h"
#include "halvex/listener.h"

// The host's headers bring none of the library's Win32 names: each of these
// would clash with a declaration or a macro of them.
#if defined(TRUE) || defined(FALSE) || defined(MAX_PATH) || defined(WTEXT)
#error "the installed headers define Win32 macros"
#endif
[[maybe_unused]] static int DeleteFileW, GetLastError, WCHAR, DWORD, WString;

namespace {

using LibraryString = std::basic_string<HALVEX_WCHAR>;

// The library names "/a/b" as "Z:\a\b"; the folder given is plain ASCII.
LibraryString LibraryPath(const std::string& native) {
  LibraryString out = u"Z:";
  for (char c : native) out.push_back(c == '/' ? u'\\' : static_cast<HALVEX_WCHAR>(c));
  return out;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool RunOne(const LibraryString& path, uint32_t action, LibraryString& output) {
  LibraryString entry = path, end;
  HALVEX_WCHAR* paths[] = {entry.data(), end.data()};
  CFileList list(paths);
  tagCRYPTOOPTIONS options{};
  options.dwAction = action;
  tagCRYPTOPARAMS request{0, nullptr, &list, 0, &options};
  Halvex(&request);
  std::printf("action %u: error %u, succeeded %u, outputs %u\n", action, request.dwErrCode,
              options.nSucceeded, list.m_nOutCount);
  if (request.dwErrCode != 0 || options.nSucceeded != 1 || list.m_nOutCount != 1) return false;
  output = list.m_vecOutFiles[0];
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string native = std::string(argv[1]) + "/letter.txt";
  const std::string content = "Dear host,\nthis went through the installed library.\n";
  std::ofstream(native, std::ios::binary) << content;

  LibraryString encrypted, restored;
  if (!RunOne(LibraryPath(native), 1, encrypted)) return 1;
  if (std::ifstream(native).good()) return std::puts("the plain file is still there"), 1;
  if (!RunOne(encrypted, 0, restored)) return 1;
  if (restored != LibraryPath(native)) return std::puts("restored under another name"), 1;
  if (Read(native) != content) return std::puts("the content differs"), 1;
  std::puts("outside host: encrypted and restored one file");
  return 0;
}
