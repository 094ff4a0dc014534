// CFESUtil: construction, copying and destruction.
#include "util/fesutil.h"

CFESUtil::CFESUtil() = default;

CFESUtil::CFESUtil(const CFESUtil& other)
    : m_strEncExt(other.m_strEncExt),
      m_vecExtName(other.m_vecExtName),
      m_strMsgSubFolder(other.m_strMsgSubFolder) {}

CFESUtil& CFESUtil::operator=(const CFESUtil& other) {
  if (this == &other) return *this;
  m_strEncExt = other.m_strEncExt;
  m_vecExtName = other.m_vecExtName;
  m_strMsgSubFolder = other.m_strMsgSubFolder;
  return *this;
}

CFESUtil::~CFESUtil() = default;
