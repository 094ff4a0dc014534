// CFESUtil destination naming and per-message folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/wide.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_drive.h"
#include "util/fesutil.h"

namespace {

using halvex::platform::ToUtf8;
using halvex::platform::Widen;
namespace fakes = halvex::fakes;

struct DestCase {
  int32_t kind;
  bool listed;  // ListExtName has run
  const char* source;
  const char* expected;
};

class DestName : public testing::TestWithParam<DestCase> {};

TEST_P(DestName, AppendsTheSuffixOfTheBatch) {
  const DestCase& c = GetParam();
  CFESUtil util;
  if (c.listed) util.ListExtName();
  EXPECT_EQ(ToUtf8(halvex::util::DestEncFilePath(util, Widen(c.source).c_str(), c.kind)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DestName,
    testing::Values(DestCase{2, true, "C:\\Docs\\plan.doc", "C:\\Docs\\plan.docENX"},
                    DestCase{2, true, "C:\\Docs\\plan.DOC", "C:\\Docs\\plan.DOCENX"},
                    DestCase{2, true, "C:\\Docs\\report.Docx", "C:\\Docs\\report.DocxENX"},
                    DestCase{2, true, "C:\\Docs\\plan.doc.bak", "C:\\Docs\\plan.doc.bak.qelmenc"},
                    DestCase{2, true, "C:\\Docs\\README", "C:\\Docs\\README.qelmenc"},
                    DestCase{2, true, "C:\\Docs\\data.bin", "C:\\Docs\\data.bin.qelmenc"},
                    DestCase{2, true, "C:\\Docs\\plan.", "C:\\Docs\\plan..qelmenc"},
                    DestCase{2, false, "C:\\Docs\\plan.doc", "C:\\Docs\\plan.doc.qelmenc"},
                    DestCase{5, true, "C:\\Docs\\plan.doc", "C:\\Docs\\plan.doc.exe"},
                    DestCase{1, true, "C:\\Docs\\data.bin", "C:\\Docs\\data.bin.exe"},
                    DestCase{5, false, "C:\\Docs\\README", "C:\\Docs\\README.exe"},
                    // Rebuilt from the splitters: the slash hides "d" from the extension.
                    DestCase{2, true, "C:\\a/b.d/c", "C:\\a/b..qelmenc"}));

TEST(MsgDestName, GluesTheSourceNameToTheFolder) {
  CFESUtil util;
  EXPECT_EQ(util.GetMsgDestEncFilePath(WTEXT("T\\WLM\\9\\"), WTEXT("C:\\Mail\\invoice.pdf")),
            WTEXT("T\\WLM\\9\\invoice.pdf.qelmenx"));
  EXPECT_EQ(util.GetMsgDestEncFilePath(WTEXT("T\\WLM\\7"), WTEXT("C:\\a\\b.txt")),
            WTEXT("T\\WLM\\7b.txt.qelmenx"));
  EXPECT_EQ(util.GetMsgDestEncFilePath(WTEXT(""), WTEXT("C:\\a\\README")), WTEXT("README.qelmenx"));
}

class MsgFolder : public testing::Test {
 protected:
  MsgFolder() {
    fakes::Reset();
    drive_.Write("Tmp/keep", "");
  }
  ~MsgFolder() override { fakes::Reset(); }

  bool IsFolder(const WString& path) {
    std::string rel = ToUtf8(path.substr(3));  // after "C:\"
    return std::filesystem::is_directory(drive_.Native(rel));
  }

  halvex::test::TempDrive drive_;
  CFESUtil util_;
};

// "C:\Tmp\WLM\<n>\" -> n; -1 when the folder is not of that form.
long long TickOf(const WString& folder, const WString& parent) {
  if (folder.size() < parent.size() + 2 || folder.compare(0, parent.size(), parent) != 0 ||
      folder.back() != u'\\') {
    return -1;
  }
  std::string digits = ToUtf8(folder.substr(parent.size(), folder.size() - parent.size() - 1));
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  if (digits.size() > 1 && digits[0] == '0') return -1;
  return std::stoll(digits);
}

TEST_F(MsgFolder, TickFolderUnderTheTemporaryFolderWithOrWithoutItsBackslash) {
  for (const WCHAR* temp : {WTEXT("C:\\Tmp"), WTEXT("C:\\Tmp\\")}) {
    fakes::script().tempFolder = temp;
    const WString folder = util_.CreateMsgSubFolder(WTEXT("WLM\\"), nullptr);
    EXPECT_GE(TickOf(folder, WTEXT("C:\\Tmp\\WLM\\")), 0) << ToUtf8(folder);
    EXPECT_TRUE(IsFolder(folder)) << ToUtf8(folder);
  }
  const auto asked = fakes::CallsOf("ZQ_GetTempFolderPathW");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].args, std::vector<std::string>{"260"});
}

TEST_F(MsgFolder, NoTemporaryFolderMakesNothing) {
  fakes::script().tempFolder.clear();
  const auto cwdBefore = std::filesystem::current_path();
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("WLM\\"), nullptr).empty());
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("YAH\\"), WTEXT("42")).empty());
  EXPECT_FALSE(std::filesystem::exists(cwdBefore / "WLM"));
  EXPECT_FALSE(std::filesystem::exists(cwdBefore / "YAH"));
  EXPECT_FALSE(std::filesystem::exists(cwdBefore / "42"));
}

TEST_F(MsgFolder, NamedSubfolderIsMadeOnce) {
  fakes::script().tempFolder = WTEXT("C:\\Tmp\\");
  EXPECT_EQ(util_.CreateMsgSubFolder(WTEXT("WLM\\"), WTEXT("42")), WTEXT("C:\\Tmp\\WLM\\42\\"));
  EXPECT_TRUE(IsFolder(WTEXT("C:\\Tmp\\WLM\\42\\")));
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("WLM\\"), WTEXT("42")).empty());
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("WLM\\"), WTEXT("42\\")).empty());
  EXPECT_EQ(util_.CreateMsgSubFolder(WTEXT("YAH\\"), WTEXT("43\\")), WTEXT("C:\\Tmp\\YAH\\43\\"));
}

TEST_F(MsgFolder, MissingTemporaryFolderGivesEmpty) {
  fakes::script().tempFolder = WTEXT("C:\\Gone\\Tmp\\");
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("WLM\\"), nullptr).empty());
  EXPECT_FALSE(drive_.Exists("Gone"));
}

// Folders for the next `count` tick counts from now, as a batch in the same
// tick or a folder left from an earlier start of the system would leave them.
void TakeTickFolders(const halvex::test::TempDrive& drive, uint32_t first, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    std::filesystem::create_directories(drive.Native("Tmp/WLM/" + std::to_string(first + i)));
  }
}

TEST_F(MsgFolder, TakenTickFolderMovesOnToTheNextFreeNumber) {
  fakes::script().tempFolder = WTEXT("C:\\Tmp\\");
  const uint32_t first = GetTickCount();
  TakeTickFolders(drive_, first, 50);
  const WString folder = util_.CreateMsgSubFolder(WTEXT("WLM\\"), nullptr);
  const long long tick = TickOf(folder, WTEXT("C:\\Tmp\\WLM\\"));
  EXPECT_GE(tick, static_cast<long long>(first) + 50) << ToUtf8(folder);
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_TRUE(std::filesystem::is_empty(drive_.Native(ToUtf8(folder.substr(3)))));
}

TEST_F(MsgFolder, GivesUpWhenTheNextHundredAreTaken) {
  fakes::script().tempFolder = WTEXT("C:\\Tmp\\");
  // Taken well past the tick the call will start from, however long making
  // the folders takes on a loaded machine.
  for (uint32_t next = GetTickCount(); next < GetTickCount() + 500; next += 100) TakeTickFolders(drive_, next, 100);
  EXPECT_TRUE(util_.CreateMsgSubFolder(WTEXT("WLM\\"), nullptr).empty());
}

}  // namespace
