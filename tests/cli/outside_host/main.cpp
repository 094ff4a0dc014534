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

  int major = -1, minor = -1, patch = -1;
  const std::string version = HalvexVersion(&major, &minor, &patch);
  if (version != std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch))
    return std::puts("the version's text and numbers differ"), 1;
  if (std::string(HalvexDescribeCode(4242)) != "unknown code 4242") return std::puts("code 4242 described"), 1;
  LibraryString password(HalvexPasswordFromUtf8("p\xC3\xA4ss", nullptr, 0), 0);
  if (HalvexPasswordFromUtf8("p\xC3\xA4ss", password.data(), password.size()) != 5 || password[1] != 0xE4)
    return std::puts("the password was not converted"), 1;
  LibraryString entry = LibraryPath(native), end;
  HALVEX_WCHAR* paths[] = {entry.data(), end.data()};
  CFileList list(paths);
  tagCRYPTOPARAMS request{REQ_SELF_EXTRACT, password.c_str(), &list, 0, nullptr};
  Halvex(&request);
  if (request.dwErrCode != 0 || list.m_nOutCount != 1 || list.m_vecOutFiles[0] != entry + u".exe")
    return std::printf("self-extracting copy: %s\n", HalvexDescribeCode(request.dwErrCode)), 1;
  // The host's own CFESUtil names for the batch that ran last.
  if (DestinationOf(entry) != entry + u".exe") return std::puts("the host's CFESUtil names no .exe"), 1;
  std::printf("outside host: encrypted and restored one file, and copied it, with Halvex %s\n", version.c_str());
  return 0;
}
