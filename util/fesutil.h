// CFESUtil: path splitting, the known document extensions, destination names,
// message folders and the checks that decide whether a file may be processed.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/export.h"
#include "platform/wide.h"

// The processability verdict of CheckFileProcessable.
enum tagFES_STATUS : uint32_t {
  FES_OK = 0,
  FES_OPEN_FAILED = 1013,      // opening for reading failed (not a sharing violation)
  FES_FILE_IN_USE = 1014,      // opening for reading met a sharing violation
  FES_ACCESS_DENIED = 1015,    // setting the attributes was refused (5)
  FES_GET_ATTR_FAILED = 1016,  // the attributes could not be read
  FES_SET_ATTR_FAILED = 1017,  // setting the attributes failed otherwise
  FES_PATH_TOO_LONG = 1021,    // the path has more than 245 characters
  FES_FILE_NOT_FOUND = 1026,   // no such file, a folder, or unreadable attributes
};

// Longest path the library hands to the cipher library.
constexpr uint32_t kMaxPathChars = 245;
// Characters of a path's tail shown to the user.
constexpr uint32_t kDisplayTail = 28;

class HALVEX_API CFESUtil {
 public:
  CFESUtil();
  CFESUtil(const CFESUtil& other);
  CFESUtil& operator=(const CFESUtil& other);
  ~CFESUtil();

  // Path splitting: only the backslash separates, except in GetExtName.
  WString GetDirectory(WString& path);
  WString GetFileName(WString& path);
  WString GetExtName(WString& path);
  WString ShortFileName(WString& name, uint32_t maximum);

  // The known document extensions.
  void ListExtName();
  void PushToList(WString extension);

  // Destination naming.
  WString GetDestEncFilePath(const WCHAR* source);
  WString CreateMsgSubFolder(const WCHAR* folderName, const WCHAR* subFolderName);
  WString GetMsgDestEncFilePath(const WCHAR* folder, const WCHAR* source);

  // File checks.
  int32_t ChkDirectoryExist(const WCHAR* path);
  int32_t ChkFileExist(const WCHAR* path);
  void ChkFileSize(const WCHAR* path, int32_t* large, int32_t* veryLarge);
  int32_t ChkIsSelfExtractorFile(const WCHAR* path);
  int32_t CheckIsSystemFile(const WCHAR* path);
  int32_t CheckIsHiddenFile(const WCHAR* path);
  tagFES_STATUS CheckFileProcessable(const WCHAR* path);

  WString m_strEncExt;                // ".QELMENC" once ListExtName has run
  std::vector<WString> m_vecExtName;  // upper case, no dot
  WString m_strMsgSubFolder;          // the message folder of types 3 and 4, ending in "\"
};
