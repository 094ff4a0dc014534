// CFESUtil's list of known document extensions, seen through the names it
// gives encrypted files.
#include <gtest/gtest.h>

#include "util/fesutil.h"

namespace {

class Extensions : public testing::Test {
 protected:
  bool Matches(CFESUtil& util, const WCHAR* path) {
    const WString dest = util.GetDestEncFilePath(path);
    return dest.size() >= 3 && dest.compare(dest.size() - 3, 3, WTEXT("ENX")) == 0;
  }
};

TEST_F(Extensions, ListMakesDocumentNamesTakeEnxOnce) {
  CFESUtil util;
  EXPECT_TRUE(util.m_strEncExt.empty());
  util.ListExtName();
  util.ListExtName();  // a second call does not add them again
  EXPECT_EQ(util.m_vecExtName.size(), 29u);
  EXPECT_EQ(util.m_strEncExt, WTEXT(".QELMENC"));
  for (const WCHAR* path : {WTEXT("C:\\a.doc"), WTEXT("C:\\a.MHTML"), WTEXT("C:\\a.pdf"), WTEXT("C:\\a.Xlsb")})
    EXPECT_TRUE(Matches(util, path));
  for (const WCHAR* path : {WTEXT("C:\\a.exe"), WTEXT("C:\\a.doc.bak"), WTEXT("C:\\README")})
    EXPECT_FALSE(Matches(util, path));
}

TEST_F(Extensions, FreshObjectMatchesNothing) {
  CFESUtil util;
  EXPECT_FALSE(Matches(util, WTEXT("C:\\Docs\\plan.doc")));
}

struct PushCase {
  const WCHAR* pushed;
  bool matches;  // files ending in .odt or .ODT then take "ENX"
};

class PushToList : public Extensions, public testing::WithParamInterface<PushCase> {};

TEST_P(PushToList, AppendsExactlyWhatItIsGiven) {
  CFESUtil util;
  util.ListExtName();
  util.PushToList(GetParam().pushed);
  EXPECT_EQ(util.m_vecExtName.size(), 30u);
  EXPECT_EQ(util.m_vecExtName.back(), GetParam().pushed);
  EXPECT_EQ(Matches(util, WTEXT("C:\\Docs\\notes.odt")), GetParam().matches);
  EXPECT_EQ(Matches(util, WTEXT("C:\\Docs\\notes.ODT")), GetParam().matches);

  util.ListExtName();  // drops what was pushed
  EXPECT_EQ(util.m_vecExtName.size(), 29u);
  EXPECT_FALSE(Matches(util, WTEXT("C:\\Docs\\notes.odt")));
}

INSTANTIATE_TEST_SUITE_P(Entries, PushToList,
                         testing::Values(PushCase{WTEXT("ODT"), true}, PushCase{WTEXT("odt"), false},
                                         PushCase{WTEXT(".ODT"), false}));

TEST_F(Extensions, CopiesAreIndependent) {
  CFESUtil original;
  original.ListExtName();
  original.m_strMsgSubFolder = WTEXT("C:\\Tmp\\WLM\\7\\");

  CFESUtil copy(original);
  CFESUtil assigned;
  assigned = original;
  for (CFESUtil* util : {&copy, &assigned}) {
    EXPECT_EQ(util->m_vecExtName, original.m_vecExtName);
    EXPECT_EQ(util->m_strEncExt, original.m_strEncExt);
    EXPECT_EQ(util->m_strMsgSubFolder, original.m_strMsgSubFolder);
  }
  copy.PushToList(WTEXT("ODT"));
  copy.m_strMsgSubFolder.clear();
  EXPECT_EQ(original.m_vecExtName.size(), 29u);
  EXPECT_EQ(original.m_strMsgSubFolder, WTEXT("C:\\Tmp\\WLM\\7\\"));
}

}  // namespace
