// The progress-window bridge: which window each request gets and how it is
// driven, the cancel button, the message batches' mutex.
#include <gtest/gtest.h>

#include "batch/progress.h"
#include "tests/batch/batch_fixture.h"

namespace halvex::test {
namespace {

using Names = std::vector<std::string>;

// The window library's calls of a run, the button checks left out.
Names WindowCalls() {
  Names out;
  for (const std::string& name : fakes::CallNames()) {
    bool window = name.rfind("Encryption_Progress_", 0) == 0 || name.rfind("Decryption_Progress_", 0) == 0 ||
                  name.rfind("FF_UI_", 0) == 0;
    if (window && name.find("CheckButton") == std::string::npos) out.push_back(name);
  }
  return out;
}

struct WindowCase {
  const char* label;
  uint32_t type;
  uint32_t action;
  uint32_t status;
  int32_t mutexResult;
  int32_t mutexNResult;
  Names expected;
};

class WindowSequence : public BatchTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowSequence, OfAnEmptyBatch) {
  const WindowCase& c = GetParam();
  options.dwAction = c.action;
  options.dwStatus = c.status;
  fakes::script().mutexResult = c.mutexResult;
  fakes::script().mutexNResult = c.mutexNResult;
  Run(c.type);
  EXPECT_EQ(WindowCalls(), c.expected);
  ExpectClosedDown();
}

const Names kEncShown = {"Encryption_Progress_Create", "Encryption_Progress_Show", "Encryption_Progress_Hide",
                         "Encryption_Progress_ReleaseForm"};
const Names kDecShown = {"Decryption_Progress_Create", "Decryption_Progress_Show", "Decryption_Progress_Hide",
                         "Decryption_Progress_ReleaseForm"};
const Names kDecHidden = {"Decryption_Progress_Create", "Decryption_Progress_Hide",
                          "Decryption_Progress_ReleaseForm"};
const Names kEncLockedHidden = {"Encryption_Progress_Create", "Encryption_Progress_SetButtonDisable",
                                "Encryption_Progress_Hide", "Encryption_Progress_ReleaseForm"};
const Names kEncLockedShown = {"Encryption_Progress_Create", "Encryption_Progress_SetButtonDisable",
                               "Encryption_Progress_Show", "Encryption_Progress_Hide",
                               "Encryption_Progress_ReleaseForm"};
const Names kEncTitledShown = {"Encryption_Progress_Create", "Encryption_Progress_SetButtonDisable",
                               "Encryption_Progress_SetTitle", "Encryption_Progress_Show",
                               "Encryption_Progress_Hide", "Encryption_Progress_ReleaseForm"};
const Names kMessageShown = {"Encryption_Progress_Create", "Encryption_Progress_SetButtonDisable",
                             "Encryption_Progress_SetTitle", "FF_UI_InitMutex", "Encryption_Progress_Show",
                             "Encryption_Progress_Hide", "FF_UI_ReleaseMutex", "Encryption_Progress_ReleaseForm"};
// Another process holds the mutex: never shown, yet released.
const Names kMessageHidden = {"Encryption_Progress_Create", "Encryption_Progress_SetButtonDisable",
                              "Encryption_Progress_SetTitle", "FF_UI_InitMutex", "Encryption_Progress_Hide",
                              "FF_UI_ReleaseMutex", "Encryption_Progress_ReleaseForm"};

INSTANTIATE_TEST_SUITE_P(
    EveryKind, WindowSequence,
    ::testing::Values(WindowCase{"Type0Encrypt", 0, 1, 0, 1, 0, kEncShown},
                      WindowCase{"Type0Decrypt", 0, 0, 0, 1, 0, kDecShown},
                      WindowCase{"Type1DecryptHidden", 1, 1, 0, 1, 0, kDecHidden},
                      WindowCase{"Type1CopyHidden", 1, 1, 1, 1, 0, kEncLockedHidden},
                      WindowCase{"Type2ActionTwoCopiesHidden", 2, 2, 0, 1, 0, kEncLockedHidden},
                      WindowCase{"Type2ActionZeroShownUntitled", 2, 0, 0, 1, 0, kEncLockedShown},
                      WindowCase{"Type6ActionZeroTitled", 6, 0, 5, 1, 0, kEncTitledShown},
                      WindowCase{"Type6DecryptHidden", 6, 1, 0, 1, 0, kDecHidden},
                      WindowCase{"Type5", 5, 1, 0, 1, 0, kEncTitledShown},
                      WindowCase{"Type3", 3, 0, 0, 1, 0, kMessageShown},
                      WindowCase{"Type4", 4, 0, 0, 1, 0, kMessageShown},
                      WindowCase{"Type3MutexHeld", 3, 0, 0, 0, 19, kMessageHidden},
                      WindowCase{"Type4MutexZeroOtherResult", 4, 0, 0, 0, 7, kMessageShown},
                      WindowCase{"Type4MutexNonZeroResult19", 4, 0, 0, 1, 19, kMessageShown}),
    [](const auto& info) { return std::string(info.param.label); });

// Any CFESUtil of the process, a host's own included, names a destination for
// the kind of the batch that ran last.
TEST_F(BatchTest, DestinationNamesFollowTheLastBatch) {
  const struct { uint32_t type, action, status, selfExtract; const char* named; } cases[] = {
      {0, 1, 0, 0, "plan.docENX"}, {5, 1, 0, 0, "plan.doc.exe"}, {0, 0, 0, 0, "plan.docENX"},
      {1, 1, 1, 0, "plan.doc.exe"}, {0, 1, 0, 1, "plan.doc.exe"}, {6, 1, 0, 0, "plan.docENX"}};
  for (const auto& c : cases) {
    options = tagCRYPTOOPTIONS{};
    options.dwStatus = c.status, options.dwAction = c.action, options.bSelfExtract = c.selfExtract;
    Run(c.type);
    CFESUtil host;
    host.ListExtName();
    EXPECT_EQ(Utf8(host.GetDestEncFilePath(WTEXT("C:\\Docs\\plan.doc"))), std::string("C:\\Docs\\") + c.named);
  }
}

TEST_F(BatchTest, MutexIsAskedForOnceWithValueOne) {
  Run(3);
  auto init = fakes::CallsOf("FF_UI_InitMutex");
  ASSERT_EQ(init.size(), 1u);
  EXPECT_EQ(init[0].args, Names{"1"});
}

TEST_F(BatchTest, TypeFiveNeedsNoOptionsRecord) {
  request.pOptions = nullptr;
  SetList({});
  request.dwType = 5;
  request.pFileList = list.get();
  request.pwszPassword = password.c_str();
  Halvex(&request);
  EXPECT_EQ(WindowCalls(), kEncTitledShown);
  ExpectClosedDown();
}

// Windows never shown still get the file's name and the cipher's percentages.
TEST_F(BatchTest, HiddenWindowsStillReceiveNamesAndPercentages) {
  struct Case {
    uint32_t action, status;
    const char* prefix;
    std::string content;
    bool decrypt;
  };
  for (const Case& c : {Case{1, 1, "Encryption_Progress_", "plain", false},
                        Case{1, 0, "Decryption_Progress_", "FAKEENC\nplain", true}}) {
    SCOPED_TRACE(c.prefix);
    fakes::Reset();
    fakes::script().tempFolder = drive.Path("Temp\\");
    drive.Write(c.decrypt ? "In/a.txt.qelmenc" : "In/a.txt", c.content);
    SetList({c.decrypt ? "In\\a.txt.qelmenc" : "In\\a.txt"});
    fakes::CipherStep step;
    step.percents = {40, 100};
    (c.decrypt ? fakes::script().decryptSteps : fakes::script().encryptSteps).push_back(step);
    options.dwAction = c.action;
    options.dwStatus = c.status;
    Run(1);
    EXPECT_EQ(fakes::CountOf(std::string(c.prefix) + "Show"), 0u);
    auto names = fakes::CallsOf(std::string(c.prefix) + "SetFileName");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].args[0], Utf8(list->m_vecFiles.empty() ? WString() : list->m_vecFiles[0]));
    auto percents = fakes::CallsOf(std::string(c.prefix) + "SetPercent");
    ASSERT_EQ(percents.size(), 2u);
    EXPECT_EQ(percents[0].args, (Names{"40", "handle"}));
    EXPECT_EQ(percents[1].args, (Names{"100", "handle"}));
    ExpectClosedDown();
  }
}

TEST_F(BatchTest, LongPathsReachTheWindowShortened) {
  // A path of 29 characters is shown whole; one more and only the tail is.
  const size_t root = Utf8(drive.Path()).size();
  const std::string whole = std::string(29 - root - 4, 'w') + ".txt";
  const std::string longer = std::string(30 - root - 4, 'l') + ".txt";
  drive.Write(whole, "a");
  drive.Write(longer, "b");
  SetList({whole, longer});
  options.dwAction = 1;
  options.bSelfExtract = 1;
  Run(0);
  auto names = fakes::CallsOf("Encryption_Progress_SetFileName");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].args[0], Utf8(drive.Path(whole)));
  const std::string full = Utf8(drive.Path(longer));
  EXPECT_EQ(names[1].args[0], "..." + full.substr(full.size() - 28));
}

// The percent callback on its own, for each window family.
class PercentCallback : public BatchTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PercentCallback, StopsExactlyWhenTheButtonReportsCancel) {
  BatchState& s = State();
  s.cryptoFile.m_nOutputKind = GetParam();
  s.hProgress = fakes::FakeWindowHandle();
  fakes::script().buttonResults = {0, 6, 0, 5, 2, 6};
  std::vector<int32_t> answers;
  for (int32_t percent : {10, 20, 30, 40, 50, 60}) answers.push_back(OnProgressPercent(percent));
  EXPECT_EQ(answers, (std::vector<int32_t>{0, 1, 0, 0, 0, 1}));
  const bool dec = GetParam() == PROGRESS_DEC || GetParam() == PROGRESS_DEC_HIDDEN;
  const std::string prefix = dec ? "Decryption_Progress_" : "Encryption_Progress_";
  auto checks = fakes::CallsOf(prefix + "CheckButton");
  ASSERT_EQ(checks.size(), 6u);
  EXPECT_EQ(checks[0].args, Names{"handle"});  // the window's handle was handed over
  EXPECT_EQ(fakes::CountOf(prefix + "SetPercent"), 6u);
  s.cryptoFile.m_nOutputKind = PROGRESS_NONE;
  s.hProgress = nullptr;
  s.bCancel = 0;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, PercentCallback,
                         ::testing::Values(PROGRESS_ENC_HIDDEN, PROGRESS_ENC, PROGRESS_DEC_HIDDEN, PROGRESS_DEC,
                                           PROGRESS_ENC_SELFX));

TEST_F(BatchTest, PollWithoutWindowChangesNothing) {
  BatchState& s = State();
  s.cryptoFile.m_nOutputKind = PROGRESS_NONE;
  s.bCancel = 1;
  PollCancel();
  EXPECT_EQ(s.bCancel, 1);
  EXPECT_TRUE(fakes::calls().empty());
  s.bCancel = 0;
}

}  // namespace
}  // namespace halvex::test
