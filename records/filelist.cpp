// CFileList: the paths of one batch in, the outputs it produced out.
#include "halvex/filelist.h"

#include "platform/wide.h"

CFileList::CFileList(WCHAR** paths) : m_nFileCount(0), m_nOutCount(0) {
  Clear();
  if (!paths) return;
  // The host ends its array with a pointer to an empty string; a null
  // pointer ends it as well, so a host that forgot the terminator's string
  // cannot make us read through null. The count follows what was stored.
  for (uint32_t i = 0; paths[i] != nullptr && paths[i][0] != 0; ++i) {
    m_vecFiles.emplace_back(paths[i]);
    m_nFileCount = i + 1;
  }
}

// Defined here rather than in the class so that the library exports them.
CFileList::CFileList(const CFileList& other) = default;
CFileList& CFileList::operator=(const CFileList& other) = default;

CFileList::~CFileList() {
  m_nFileCount = 0;
  m_nOutCount = 0;
  Clear();
  // Give the storage back now, outputs first, as the host's own copy of
  // this class does.
  std::vector<WString>().swap(m_vecOutFiles);
  std::vector<WString>().swap(m_vecFiles);
}

void CFileList::Clear() {
  m_vecFiles.clear();
  m_vecOutFiles.clear();
}

WString CFileList::operator[](const uint32_t& index) const {
  if (index >= Size()) return WString();
  return m_vecFiles[index];
}

void CFileList::PushBack(const WCHAR* path) {
  if (!path) return;
  m_vecFiles.emplace_back(path);
}

uint32_t CFileList::Size() const { return static_cast<uint32_t>(m_vecFiles.size()); }
