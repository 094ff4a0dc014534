// CFileList: building from the host's terminated array, copying, and the
// private helpers the drivers and engine use.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "halvex/filelist.h"
#include "platform/wide.h"

class CFileListTestAccess {
 public:
  static void Clear(CFileList& list) { list.Clear(); }
  static WString At(const CFileList& list, uint32_t index) { return list[index]; }
  static void PushBack(CFileList& list, const WCHAR* path) { list.PushBack(path); }
  static uint32_t Size(const CFileList& list) { return list.Size(); }
};

namespace {

using Access = CFileListTestAccess;

// The host's array: each entry a separately allocated string (or null), in an
// array of exactly the given length, so reading past it is caught by ASan.
class HostArray {
 public:
  explicit HostArray(const std::vector<std::optional<WString>>& entries) {
    for (const auto& entry : entries) {
      if (!entry) {
        pointers_.push_back(nullptr);
        continue;
      }
      strings_.push_back(std::make_unique<WCHAR[]>(entry->size() + 1));
      std::copy(entry->begin(), entry->end(), strings_.back().get());
      strings_.back()[entry->size()] = 0;
      pointers_.push_back(strings_.back().get());
    }
    array_ = std::make_unique<WCHAR*[]>(pointers_.size());
    std::copy(pointers_.begin(), pointers_.end(), array_.get());
  }
  WCHAR** get() { return array_.get(); }
  WCHAR* entry(size_t i) { return pointers_[i]; }

 private:
  std::vector<std::unique_ptr<WCHAR[]>> strings_;
  std::vector<WCHAR*> pointers_;
  std::unique_ptr<WCHAR*[]> array_;
};

const WString kPlan = WTEXT("C:\\Docs\\plan.doc");
const WString kData = WTEXT("C:\\Docs\\data.bin");
const WString kEmpty;

struct BuildCase {
  const char* name;
  std::vector<std::optional<WString>> array;
  std::vector<WString> expected;
};

class FileListBuild : public testing::TestWithParam<BuildCase> {};

TEST_P(FileListBuild, StoresEntriesBeforeTheTerminator) {
  HostArray host(GetParam().array);
  CFileList list(host.get());
  EXPECT_EQ(list.m_vecFiles, GetParam().expected);
  EXPECT_EQ(list.m_nFileCount, GetParam().expected.size());
  EXPECT_EQ(Access::Size(list), GetParam().expected.size());
  EXPECT_TRUE(list.m_vecOutFiles.empty());
  EXPECT_EQ(list.m_nOutCount, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Arrays, FileListBuild,
    testing::Values(
        BuildCase{"TwoPaths", {kPlan, kData, kEmpty}, {kPlan, kData}},
        BuildCase{"OnlyTerminator", {kEmpty}, {}},
        BuildCase{"DuplicatesKeptInOrder", {kPlan, kData, kPlan, kEmpty}, {kPlan, kData, kPlan}},
        // The array ends at the terminator; the entry after it is a null
        // pointer that must never be read as a string.
        BuildCase{"StopsAtTerminator", {kPlan, kEmpty, std::nullopt}, {kPlan}},
        BuildCase{"NullPointerEndsList", {kPlan, std::nullopt, kData, kEmpty}, {kPlan}},
        BuildCase{"LeadingNullPointer", {std::nullopt, kPlan, kEmpty}, {}}),
    [](const testing::TestParamInfo<BuildCase>& info) { return info.param.name; });

TEST(FileList, NullArrayGivesEmptyList) {
  CFileList list(nullptr);
  EXPECT_EQ(Access::Size(list), 0u);
  EXPECT_EQ(list.m_nFileCount, 0u);
}

TEST(FileList, OwnsCopiesOfTheHostStrings) {
  HostArray host({kPlan, kEmpty});
  CFileList list(host.get());
  host.entry(0)[0] = u'X';
  EXPECT_EQ(list.m_vecFiles[0], kPlan);
}

CFileList ListWithOutputs() {
  HostArray host({kPlan, kData, kEmpty});
  CFileList list(host.get());
  list.m_vecOutFiles.push_back(kPlan + WTEXT("ENX"));
  list.m_nOutCount = 1;
  return list;
}

void ExpectSameContent(const CFileList& a, const CFileList& b) {
  EXPECT_EQ(a.m_vecFiles, b.m_vecFiles);
  EXPECT_EQ(a.m_vecOutFiles, b.m_vecOutFiles);
  EXPECT_EQ(a.m_nFileCount, b.m_nFileCount);
  EXPECT_EQ(a.m_nOutCount, b.m_nOutCount);
}

TEST(FileList, CopyAndAssignmentCarryOutputsAndCounters) {
  CFileList original = ListWithOutputs();
  // Counters that disagree with the sequences are copied as they are.
  original.m_nFileCount = 1;

  CFileList copied(original);
  ExpectSameContent(copied, original);

  HostArray other({kData, kEmpty});
  CFileList assigned(other.get());
  assigned = original;
  ExpectSameContent(assigned, original);

  // Copies are independent of their source.
  copied.m_vecFiles[0] = WTEXT("changed");
  assigned.m_vecOutFiles.clear();
  EXPECT_EQ(original.m_vecFiles[0], kPlan);
  EXPECT_EQ(original.m_vecOutFiles.size(), 1u);
}

TEST(FileList, SelfAssignmentChangesNothing) {
  CFileList list = ListWithOutputs();
  CFileList before(list);
  CFileList& self = list;
  list = self;
  ExpectSameContent(list, before);
}

TEST(FileList, PushBackGrowsSizeButNotTheWalkedCount) {
  CFileList list = ListWithOutputs();
  Access::PushBack(list, nullptr);
  EXPECT_EQ(Access::Size(list), 2u);

  Access::PushBack(list, WTEXT("C:\\Docs\\new.txt"));
  EXPECT_EQ(Access::Size(list), 3u);
  EXPECT_EQ(list.m_nFileCount, 2u);
  EXPECT_EQ(Access::At(list, 2), WTEXT("C:\\Docs\\new.txt"));
}

TEST(FileList, ClearEmptiesBothSequencesAndKeepsCounters) {
  CFileList list = ListWithOutputs();
  Access::Clear(list);
  EXPECT_TRUE(list.m_vecFiles.empty());
  EXPECT_TRUE(list.m_vecOutFiles.empty());
  EXPECT_EQ(list.m_nFileCount, 2u);
  EXPECT_EQ(list.m_nOutCount, 1u);
  EXPECT_EQ(Access::Size(list), 0u);
}

TEST(FileList, IndexReturnsACopyOrEmptyPastTheEnd) {
  CFileList list = ListWithOutputs();
  WString first = Access::At(list, 0);
  first[0] = u'X';
  EXPECT_EQ(list.m_vecFiles[0], kPlan);
  EXPECT_EQ(Access::At(list, 1), kData);
  for (uint32_t index : {2u, 3u, UINT32_MAX}) {
    EXPECT_TRUE(Access::At(list, index).empty()) << index;
  }
}

}  // namespace
