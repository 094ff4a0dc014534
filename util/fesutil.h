// CFESUtil: path splitting, the known document extensions, destination names,
// message folders and the checks that decide whether a file may be processed.
#pragma once

#include <cstdint>
#include <vector>

#include "halvex/codes.h"
#include "platform/export.h"
#include "platform/wide.h"

// Which output a batch asks for, set with its progress window: whether the
// engine encrypts, and which suffix an encryption's destination takes.
enum : int32_t {
  PROGRESS_NONE = 0,
  PROGRESS_ENC_HIDDEN = 1,   // types 1, 2, 6 encrypting: ".exe", never shown
  PROGRESS_ENC = 2,          // type 0 encryption: encrypted-file suffix
  PROGRESS_DEC_HIDDEN = 3,   // types 1, 2, 6 decrypting, never shown
  PROGRESS_DEC = 4,          // type 0 decryption
  PROGRESS_ENC_SELFX = 5,    // types 3, 4, 5, some of 1, 2, 6, type 0 self-extracting: ".exe"
};

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

  // Destination naming. GetDestEncFilePath names the output for the output
  // kind of the batch that runs or ran last in this process; DestEncFilePath
  // below names it for any kind.
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
  // The two answers above from one look at the attributes, for a caller that
  // asks both of one file at once.
  struct SystemHidden {
    bool system = false;
    bool hidden = false;
  };
  SystemHidden CheckIsSystemOrHiddenFile(const WCHAR* path);
  tagFES_STATUS CheckFileProcessable(const WCHAR* path);

  WString m_strEncExt;                // ".QELMENC" once ListExtName has run
  std::vector<WString> m_vecExtName;  // upper case, no dot
  WString m_strMsgSubFolder;          // the message folder of types 3 and 4, ending in "\"
};

namespace halvex::util {

// The destination of an encryption of source beside it, for a batch of the
// given output kind: ".exe" for self-extracting kinds, else "ENX" after a
// known document extension of util's list and ".qelmenc" after any other.
// A function of its own rather than an overload, so that the exported
// class keeps the members it has always had.
WString DestEncFilePath(CFESUtil& util, const WCHAR* source, int32_t outputKind);

// Whether a decryption's output is named as the encrypted file's own name
// says: that name followed by a suffix the library gives encrypted files
// (".qelmenc", "ENX", ".exe", ".qelmenx"). Compares the final parts of two
// paths; the suffix in any case.
bool IsOwnPlainName(WStringView encrypted, WStringView output);

}  // namespace halvex::util
