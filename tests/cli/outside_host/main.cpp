// Encrypts one file in place with the stored key and decrypts it again, then
// makes a self-extracting copy, through the installed library only.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "halvex/codes.h"
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

// classes.cpp: what the host's own CFESUtil names as the output of source.
LibraryString DestinationOf(const LibraryString& source);

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

  // A self-extracting copy under a UTF-8 password; the host's own CFESUtil
  // then names for the batch that ran last.
  LibraryString password(HalvexPasswordFromUtf8("p\xC3\xA4ss", nullptr, 0), 0), entry = LibraryPath(native), end;
  HalvexPasswordFromUtf8("p\xC3\xA4ss", password.data(), password.size());
  HALVEX_WCHAR* paths[] = {entry.data(), end.data()};
  CFileList list(paths);
  tagCRYPTOPARAMS request{REQ_SELF_EXTRACT, password.c_str(), &list, 0, nullptr};
  Halvex(&request);
  if (password != u"p\u00E4ss" + end + u'\0' || list.m_nOutCount != 1 || DestinationOf(entry) != entry + u".exe")
    return std::printf("self-extracting copy: %s\n", HalvexDescribeCode(request.dwErrCode)), 1;
  std::printf("outside host: encrypted and restored one file, and copied it, with Halvex %s\n",
              HalvexVersion(nullptr, nullptr, nullptr));
  return 0;
}
