// CFileList: the paths of one batch in, the outputs it produced out.
// The host declares the same class, so the field order is an interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "halvex/types.h"

// A wide string of the library's own: one entry of the list.
typedef std::basic_string<HALVEX_WCHAR> HalvexString;

class HALVEX_API CFileList {
 public:
  // paths: pointers to wide strings, ended by an entry pointing at an empty
  // string. A null pointer before that also ends the list.
  explicit CFileList(HALVEX_WCHAR** paths);
  CFileList(const CFileList& other);
  CFileList& operator=(const CFileList& other);
  ~CFileList();

  std::vector<HalvexString> m_vecFiles;     // input paths, in the host's order
  std::vector<HalvexString> m_vecOutFiles;  // outputs appended during a batch
  uint32_t m_nFileCount;               // entries a batch walks
  uint32_t m_nOutCount;                // entries appended to m_vecOutFiles

 private:
  void Clear();
  // A copy of entry index; an empty string at or past Size().
  HalvexString operator[](const uint32_t& index) const;
  void PushBack(const HALVEX_WCHAR* path);
  uint32_t Size() const;

  friend class CFileListTestAccess;
};
