// The interactive batch (type 0): what happens to each file, and what the
// user's answers to each dialog do.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/testing.h"
#include "tests/batch/batch_fixture.h"

namespace halvex::test {
namespace {

using Names = std::vector<std::string>;

constexpr uint32_t kWriteFailed = 1325;  // a cipher failure without a special meaning

class InteractiveTest : public BatchTest {
 protected:
  // A vault setting written for C:, the test drive of the POSIX build. On
  // Windows the test drive is wherever the temporary folder is: its letter
  // stands in, in the case the setting has.
  WString OnTestDrive(const char* setting) {
    WString value = halvex::platform::Widen(setting);
    const WCHAR letter = drive.Path()[0];
    if (!value.empty() && (value[0] == WTEXT('C') || value[0] == WTEXT('c')))
      value[0] = value[0] == WTEXT('C') ? letter : static_cast<WCHAR>(letter - WTEXT('A') + WTEXT('a'));
    return value;
  }
  // Plain files a.dat, b.dat ... in Docs\, listed in that order.
  void PlainFiles(const std::vector<std::string>& names) {
    std::vector<std::string> rel;
    for (const std::string& n : names) {
      drive.Write("Docs/" + n, "plain " + n);
      rel.push_back("Docs\\" + n);
    }
    SetList(rel);
  }
  void Encrypt() {
    options.dwAction = 1;
    Run(0);
  }
  void Decrypt() {
    options.dwAction = 0;
    Run(0);
  }
  size_t EncryptCalls() const { return fakes::CountOf("ZQCA_DualPasswordFileEncryptW"); }
  size_t ErrorDialogs() const { return fakes::CountOf("FF_HandleErrorMsg_Show"); }
  size_t Prompts() const { return fakes::CountOf("FF_ReplaceHiddenForm_Show"); }
  // The source of each encryption call, relative to the drive.
  Names EncryptedSources() const {
    Names out;
    for (const auto& c : fakes::CallsOf("ZQCA_DualPasswordFileEncryptW")) out.push_back(c.args[0]);
    return Relative(out);
  }
  Names Relative(const Names& paths) const {
    std::vector<WString> wide;
    for (const std::string& p : paths) wide.push_back(halvex::platform::Widen(p));
    return BatchTest::Relative(wide);
  }
};

TEST_F(InteractiveTest, EncryptionReplacesEachSourceByItsOutput) {
  PlainFiles({"a.dat", "b.dat"});
  Encrypt();
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(Outputs(), (Names{"Docs\\a.dat.qelmenc", "Docs\\b.dat.qelmenc"}));
  EXPECT_EQ(list->m_nOutCount, 2u);
  EXPECT_EQ(options.nSucceeded, 2u);
  EXPECT_FALSE(drive.Exists("Docs/a.dat"));
  EXPECT_EQ(drive.Read("Docs/b.dat.qelmenc"), "FAKEENC\nplain b.dat");
  EXPECT_EQ(Inputs(), (Names{"Docs\\a.dat", "Docs\\b.dat"}));  // an encryption leaves the list alone
  EXPECT_EQ(ErrorDialogs(), 0u);
  ExpectClosedDown();
}

TEST_F(InteractiveTest, SelfExtractingEncryptionKeepsTheSources) {
  PlainFiles({"a.dat"});
  options.bSelfExtract = 1;
  Encrypt();
  EXPECT_EQ(Outputs(), Names{"Docs\\a.dat.exe"});
  EXPECT_TRUE(drive.Exists("Docs/a.dat"));
  EXPECT_EQ(options.nSucceeded, 1u);
}

TEST_F(InteractiveTest, DecryptionHandsBackOnlyWhatStaysEncrypted) {
  drive.Write("Docs/a.dat.qelmenc", "FAKEENC\nalpha");
  drive.Write("Docs/b.dat.qelmenc", "FAKEENC\nbeta");
  SetList({"Docs\\a.dat.qelmenc", "Docs\\missing.qelmenc", "Docs\\b.dat.qelmenc"});
  Decrypt();
  EXPECT_EQ(drive.Read("Docs/a.dat"), "alpha");
  EXPECT_FALSE(drive.Exists("Docs/a.dat.qelmenc"));
  EXPECT_EQ(Outputs(), (Names{"Docs\\a.dat", "Docs\\b.dat"}));
  EXPECT_TRUE(list->m_vecFiles.empty());
  EXPECT_EQ(list->m_nFileCount, 0u);
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileDecryptW"), 2u);
  ExpectClosedDown();
}

TEST_F(InteractiveTest, DecryptionKeepsSourcesThatMustStay) {
  struct Case {
    const char* label;
    const char* content;
    uint32_t toTemp;
    const char* output;
  };
  for (const Case& c : {Case{"self-extracting", "FAKESFX\nsfx", 0, "Docs\\a.dat"},
                        Case{"into temp", "FAKEENC\ntmp", 1, "Temp\\a.dat"}}) {
    SCOPED_TRACE(c.label);
    fakes::Reset();
    fakes::script().tempFolder = drive.Path("Temp\\");
    std::filesystem::remove(drive.Native("Docs/a.dat"));
    std::filesystem::remove(drive.Native("Temp/a.dat"));
    drive.Write("Docs/a.dat.qelmenc", c.content);
    SetList({"Docs\\a.dat.qelmenc"});
    options = {};
    options.bDecryptToTemp = c.toTemp;
    Decrypt();
    EXPECT_EQ(request.dwErrCode, 0u);
    EXPECT_TRUE(drive.Exists("Docs/a.dat.qelmenc"));
    EXPECT_EQ(Outputs(), Names{c.output});
    EXPECT_EQ(options.nSucceeded, 1u);
  }
}

TEST_F(InteractiveTest, EmptyListOpensAndClosesEverything) {
  for (uint32_t action : {0u, 1u}) {
    SCOPED_TRACE(action);
    fakes::Reset();
    SetList({});
    options.dwAction = action;
    request.dwErrCode = 77;
    Run(0);
    EXPECT_EQ(request.dwErrCode, 77u);
    EXPECT_EQ(list->m_nFileCount, 0u);
    EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW") + fakes::CountOf("ZQCA_DualPasswordFileDecryptW"), 0u);
    EXPECT_EQ(fakes::CountOf(action ? "Encryption_Progress_ReleaseForm" : "Decryption_Progress_ReleaseForm"), 1u);
    ExpectClosedDown();
  }
}

TEST_F(InteractiveTest, SetupFailureLeavesTheListAndStatusAlone) {
  PlainFiles({"a.dat"});
  fakes::script().transcodeError = 1;
  fakes::script().transcodeReturnsNull = true;
  fakes::script().keystoreError = 1;
  fakes::script().keystoreReturnsNull = true;
  options.dwStatus = 0;
  Decrypt();
  EXPECT_NE(request.dwErrCode, 0u);
  EXPECT_EQ(Inputs(), Names{"Docs\\a.dat"});
  EXPECT_EQ(options.dwStatus, 0u);
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileDecryptW"), 0u);
  EXPECT_EQ(fakes::CountOf("Decryption_Progress_ReleaseForm"), 1u);
  ExpectClosedDown();
}

// ---- The error dialog ----------------------------------------------------------

struct ErrorAnswerCase {
  const char* label;
  int32_t answer;
  Names encrypted;  // sources of the cipher calls, in order
  uint32_t skipped;
  uint32_t succeeded;
  uint32_t status;
  bool reshown;  // the window comes back after the dialog
};

class ErrorDialogAnswer : public InteractiveTest, public ::testing::WithParamInterface<ErrorAnswerCase> {};

TEST_P(ErrorDialogAnswer, DecidesWhatComesNext) {
  const ErrorAnswerCase& c = GetParam();
  PlainFiles({"a.dat", "b.dat"});
  fakes::script().encryptSteps = {Fail(kWriteFailed)};
  fakes::script().errorAnswers = {c.answer};
  Encrypt();
  auto dialogs = fakes::CallsOf("FF_HandleErrorMsg_Show");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].args, (Names{Utf8(drive.Path("Docs\\a.dat")), "1301", "1325"}));
  EXPECT_EQ(EncryptedSources(), c.encrypted);
  EXPECT_EQ(options.nSkipped, c.skipped);
  EXPECT_EQ(options.nSucceeded, c.succeeded);
  EXPECT_EQ(options.dwStatus, c.status);
  // The window is hidden for the dialog and, unless the batch stops, shown
  // again with the file's name.
  Names after;
  bool seen = false;
  for (const std::string& n : fakes::CallNames()) {
    if (n == "FF_HandleErrorMsg_Show") seen = true;
    else if (seen && n.rfind("Encryption_Progress_", 0) == 0 && n.find("CheckButton") == std::string::npos)
      after.push_back(n);
  }
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after[0] == "Encryption_Progress_Show", c.reshown);
  ExpectClosedDown();
}

const Names kA = {"Docs\\a.dat"};
const Names kAB = {"Docs\\a.dat", "Docs\\b.dat"};
const Names kAAB = {"Docs\\a.dat", "Docs\\a.dat", "Docs\\b.dat"};

INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, ErrorDialogAnswer,
    ::testing::Values(ErrorAnswerCase{"Retry", 10, kAAB, 0, 2, 0, true},
                      ErrorAnswerCase{"Skip", 11, kAB, 1, 1, 0, true},
                      ErrorAnswerCase{"Stop", 6, kA, 0, 0, 1, false},
                      ErrorAnswerCase{"Cancel", 2, kA, 0, 0, 1, true},
                      ErrorAnswerCase{"Unknown", 42, kA, 0, 0, 1, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(InteractiveTest, RetryRepeatedRunsTheSameEntryAgainEachTime) {
  for (size_t retries : {1u, 3u}) {
    SCOPED_TRACE(retries);
    fakes::Reset();
    std::filesystem::remove_all(drive.Native("Docs"));
    PlainFiles({"a.dat"});
    options = {};
    for (size_t n = 0; n < retries; ++n) {
      fakes::script().encryptSteps.push_back(Fail(kWriteFailed));
      fakes::script().errorAnswers.push_back(10);
    }
    Encrypt();
    // Entry 0 retried: the index wraps below zero and back.
    EXPECT_EQ(EncryptedSources(), Names(retries + 1, "Docs\\a.dat"));
    EXPECT_EQ(options.nSucceeded, 1u);
    EXPECT_EQ(request.dwErrCode, 0u);
    ExpectClosedDown();
  }
}

TEST_F(InteractiveTest, KeyStoreCodeIsClearedOnceTheUserAnswered) {
  PlainFiles({"a.dat"});
  fakes::script().encryptSteps = {Fail(3)};
  fakes::script().errorAnswers = {11};
  Encrypt();
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(options.nSkipped, 1u);
}

TEST_F(InteractiveTest, FailedEncryptionRemovesItsPartialOutput) {
  PlainFiles({"a.dat"});
  fakes::CipherStep partial;
  partial.code = kWriteFailed;  // leaves a partial file at the output path
  fakes::script().encryptSteps = {partial};
  fakes::script().errorAnswers = {11};
  Encrypt();
  EXPECT_FALSE(drive.Exists("Docs/a.dat.qelmenc"));
  EXPECT_EQ(drive.Read("Docs/a.dat"), "plain a.dat");
}

// Codes that end a file without any dialog.
struct QuietCase {
  const char* label;
  uint32_t action;
  uint32_t code;
  uint32_t passedOver;
  bool handedBack;  // the encrypted file is back in the list afterwards
};

class QuietFailure : public InteractiveTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietFailure, MovesOnWithoutADialog) {
  const QuietCase& c = GetParam();
  if (c.action == 0) {
    drive.Write("Docs/a.dat.qelmenc", "FAKEENC\nalpha");
    drive.Write("Docs/b.dat.qelmenc", "FAKEENC\nbeta");
    SetList({"Docs\\a.dat.qelmenc", "Docs\\b.dat.qelmenc"});
    fakes::script().decryptSteps = {Fail(c.code)};
  } else {
    PlainFiles({"a.dat", "b.dat"});
    fakes::script().encryptSteps = {Fail(c.code)};
  }
  options.dwAction = c.action;
  Run(0);
  EXPECT_EQ(ErrorDialogs(), 0u);
  EXPECT_EQ(options.nPassedOver, c.passedOver);
  EXPECT_EQ(options.nSkipped, 0u);
  EXPECT_EQ(options.nSucceeded, 1u);  // the second file was still done
  EXPECT_EQ(options.dwStatus, 0u);
  if (c.action == 0) {
    EXPECT_TRUE(drive.Exists("Docs/a.dat.qelmenc"));
    EXPECT_EQ(Inputs(), c.handedBack ? Names{"Docs\\a.dat.qelmenc"} : Names{});
    EXPECT_EQ(list->m_nFileCount, c.handedBack ? 1u : 0u);
  }
  ExpectClosedDown();
}

INSTANTIATE_TEST_SUITE_P(
    PassedOverAndSilent, QuietFailure,
    ::testing::Values(QuietCase{"WrongKey", 0, 1001, 1, true}, QuietCase{"Version", 0, 1301, 1, true},
                      QuietCase{"Locked", 0, 1313, 1, true}, QuietCase{"WrongKeyEncrypting", 1, 1001, 1, false},
                      QuietCase{"NotEncrypted", 0, 1307, 0, false}, QuietCase{"Cancelled", 0, 1310, 0, false},
                      QuietCase{"CancelledEncrypting", 1, 1310, 0, false}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(InteractiveTest, UndeletableSourceUndoesTheFileAndAsks) {
  PlainFiles({"a.dat"});
  // Another program reading the file: the engine may encrypt it but not delete it.
  HANDLE held = CreateFileW(drive.Path("Docs\\a.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  fakes::script().errorAnswers = {11};
  Encrypt();
  CloseHandle(held);
  auto dialogs = fakes::CallsOf("FF_HandleErrorMsg_Show");
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].args[1], "1306");
  EXPECT_EQ(dialogs[0].args[2], "0");
  EXPECT_FALSE(drive.Exists("Docs/a.dat.qelmenc"));
  EXPECT_EQ(drive.Read("Docs/a.dat"), "plain a.dat");
  EXPECT_EQ(options.nSucceeded, 0u);
  EXPECT_TRUE(list->m_vecOutFiles.empty());
  EXPECT_EQ(options.nSkipped, 1u);
}

// A source another program changes while it is read, or saves over in the
// moment before its delete, is kept with the output.
TEST_F(InteractiveTest, SourceChangedDuringTheCallIsKeptWithTheOutput) {
  const auto saveOver = [](const std::string& p, const char* content) {
    std::ofstream(p + ".new") << content;
    std::filesystem::rename(p + ".new", p);
  };
  struct Change {
    std::function<void(const std::string&)> during;  // the cipher call
    std::function<void(const std::string&, int)> inDelete;  // the delete's step (DeleteStep)
    const char* atName;    // what the name holds afterwards; null: nothing
    const char* keptAside;  // what lies under an aside name; null: nothing
  };
  const Change changes[] = {
      {nullptr, nullptr, nullptr, nullptr},
      {[&](const std::string& p) { saveOver(p, "newer"); }, nullptr, "newer", nullptr},
      {[](const std::string& p) {  // same size, modification time set back: only the change time tells
         const auto written = std::filesystem::last_write_time(p);
         std::this_thread::sleep_for(std::chrono::milliseconds(30));
         std::fstream(p, std::ios::in | std::ios::out).write("PLAIN", 5);
         std::filesystem::last_write_time(p, written);
       },
       nullptr, "PLAIN a.dat", nullptr},
      {[](const std::string& p) { std::filesystem::remove(p); }, nullptr, nullptr, nullptr},
#ifndef _WIN32
      // Saved over, or removed, between the delete's last check and its removal.
      {nullptr, [&](const std::string& p, int step) { if (step == 0) saveOver(p, "newer"); }, "newer", nullptr},
      {nullptr, [](const std::string& p, int step) { if (step == 0) std::filesystem::remove(p); }, nullptr, nullptr},
      // ... and the name taken once more while the newer file was checked.
      {nullptr,
       [&](const std::string& p, int step) { saveOver(p, step == 0 ? "newer" : "newest"); }, "newest", "newer"},
#endif
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    fakes::Reset(), options = {};
    std::filesystem::remove(drive.Native("Docs/a.dat.qelmenc"));
    PlainFiles({"a.dat"});
    fakes::script().encryptSteps = {Succeed()};
    const std::string source = drive.Native("Docs/a.dat");
    if (changes[i].during) fakes::script().encryptSteps[0].during = [&] { changes[i].during(source); };
#ifndef _WIN32
    if (changes[i].inDelete)
      platform::SetDeleteHook([&](platform::DeleteStep step) { changes[i].inDelete(source, static_cast<int>(step)); });
#endif
    Encrypt();
#ifndef _WIN32
    platform::SetDeleteHook(nullptr);
#endif
    ASSERT_EQ(ErrorDialogs(), i ? 1u : 0u) << "change " << i << ", code " << request.dwErrCode;
    EXPECT_TRUE(i == 0 || fakes::CallsOf("FF_HandleErrorMsg_Show")[0].args[1] == "1312");
    EXPECT_TRUE(drive.Exists("Docs/a.dat.qelmenc"));
    EXPECT_EQ(drive.Exists("Docs/a.dat"), changes[i].atName != nullptr) << "change " << i;
    EXPECT_EQ(changes[i].atName ? drive.Read("Docs/a.dat") : "", changes[i].atName ? changes[i].atName : "")
        << "the newer version stays";
    std::vector<std::string> aside;
    for (const auto& e : std::filesystem::directory_iterator(drive.Native("Docs")))
      if (e.path().filename().string().starts_with(".hvxdel-")) aside.push_back("Docs/" + e.path().filename().string());
    ASSERT_EQ(aside.size(), changes[i].keptAside ? 1u : 0u) << "change " << i;
    EXPECT_EQ(aside.empty() ? "" : drive.Read(aside[0]), changes[i].keptAside ? changes[i].keptAside : "");
    for (const auto& a : aside) std::filesystem::remove(drive.Native(a));
    EXPECT_EQ(options.nSucceeded, i ? 0u : 1u);
  }
}

// An exception inside a batch still releases its window, mutex and keys.
TEST_F(InteractiveTest, ExceptionInsideABatchStillTearsItDown) {
  for (uint32_t type : {0u, 3u}) {
    fakes::Reset(), request = {}, fakes::script().tempFolder = drive.Path("Temp\\");
    PlainFiles({"a.dat"});
    fakes::script().encryptSteps = {Succeed()};
    fakes::script().encryptSteps[0].during = [] { throw std::bad_alloc(); };
    options.dwAction = 1;
    Run(type);
    EXPECT_EQ(request.dwErrCode, uint32_t{ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(fakes::CountOf("Encryption_Progress_ReleaseForm"), 1u);
    EXPECT_EQ(fakes::CountOf("FF_UI_InitMutex"), fakes::CountOf("FF_UI_ReleaseMutex"));
    ExpectClosedDown();
  }
}

TEST_F(InteractiveTest, CancelDuringTheSecondFileStopsBeforeTheThird) {
  PlainFiles({"a.dat", "b.dat", "c.dat"});
  fakes::CipherStep slow;
  slow.percents = {30, 60};
  fakes::script().encryptSteps = {Succeed(), slow};
  // Checks: before a, after a, before b, then the press during b stays seen.
  fakes::script().buttonResults = {0, 0, 0, 6, 6};
  Encrypt();
  EXPECT_EQ(EncryptedSources(), (Names{"Docs\\a.dat", "Docs\\b.dat"}));
  EXPECT_EQ(request.dwErrCode, 1310u);
  EXPECT_EQ(options.dwStatus, 1u);
  EXPECT_EQ(State().bCancel, 0);
  EXPECT_EQ(drive.Read("Docs/b.dat"), "plain b.dat");
  EXPECT_FALSE(drive.Exists("Docs/b.dat.qelmenc"));
  EXPECT_TRUE(drive.Exists("Docs/c.dat"));
  EXPECT_EQ(options.nSucceeded, 1u);
  EXPECT_EQ(ErrorDialogs(), 0u);
  ExpectClosedDown();
}

TEST_F(InteractiveTest, CancelSeenAfterASuccessfulCallKeepsTheSource) {
  PlainFiles({"a.dat", "b.dat"});
  fakes::script().buttonResults = {0, 6};  // pressed while a.dat was being encrypted
  Encrypt();
  EXPECT_EQ(drive.Read("Docs/a.dat"), "plain a.dat");
  EXPECT_FALSE(drive.Exists("Docs/a.dat.qelmenc"));
  EXPECT_EQ(options.dwStatus, 1u);
  EXPECT_EQ(EncryptCalls(), 1u);
}

TEST_F(InteractiveTest, CancelledBatchDoesNotLeakIntoTheNext) {
  PlainFiles({"a.dat"});
  fakes::script().buttonResults = {6};
  Encrypt();
  EXPECT_EQ(options.dwStatus, 1u);
  fakes::Reset();
  fakes::script().tempFolder = drive.Path("Temp\\");
  options = {};
  Encrypt();
  EXPECT_EQ(options.dwStatus, 0u);
  EXPECT_EQ(options.nSucceeded, 1u);
}

TEST_F(InteractiveTest, SystemFilesArePassedOverWhenEncrypting) {
  PlainFiles({"sys.dat", "b.dat"});
  if (!SetFileAttributesW(drive.Path("Docs\\sys.dat").c_str(), FILE_ATTRIBUTE_SYSTEM))
    GTEST_SKIP() << "no user extended attributes on this file system: cannot mark a system file";
  Encrypt();
  EXPECT_EQ(EncryptedSources(), Names{"Docs\\b.dat"});
  EXPECT_TRUE(drive.Exists("Docs/sys.dat"));
  EXPECT_EQ(Prompts() + ErrorDialogs(), 0u);
}

// ---- The vault drive -----------------------------------------------------------

struct VaultCase {
  const char* label;
  const char* setting;
  std::deque<int32_t> isShow;
  bool failFirst;
  size_t queries;
  size_t dialogs;
  size_t encryptCalls;
};

class VaultDrive : public InteractiveTest, public ::testing::WithParamInterface<VaultCase> {};


TEST_P(VaultDrive, HiddenAfterAFailureEndsTheBatchQuietly) {
  const VaultCase& c = GetParam();
  PlainFiles({"a.dat", "b.dat"});
  fakes::script().vaultDrive = OnTestDrive(c.setting);
  fakes::script().isShowAnswers = c.isShow;
  if (c.failFirst) fakes::script().encryptSteps = {Fail(kWriteFailed)};
  fakes::script().errorAnswers = {11};
  Encrypt();
  EXPECT_EQ(fakes::CountOf("CKRVDevice::IsShow"), c.queries);
  EXPECT_EQ(fakes::CountOf("CKRVDevice::CKRVDevice"), c.queries);
  EXPECT_EQ(fakes::CountOf("CKRVDevice::~CKRVDevice"), c.queries);
  for (const auto& ctor : fakes::CallsOf("CKRVDevice::CKRVDevice")) EXPECT_EQ(ctor.args, (Names{"0", "0"}));
  EXPECT_EQ(ErrorDialogs(), c.dialogs);
  EXPECT_EQ(EncryptCalls(), c.encryptCalls);
  EXPECT_EQ(options.dwStatus, 0u);
  // Read again for every existing file, into 256 characters.
  auto reads = fakes::CallsOf("ZQ_ReadINIFileW");
  ASSERT_EQ(reads.size(), c.encryptCalls);
  EXPECT_EQ(reads[0].args, (Names{"25", "256"}));
  ExpectClosedDown();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VaultDrive,
    ::testing::Values(VaultCase{"Hidden", "C:", {0}, true, 1, 0, 1},
                      VaultCase{"Shown", "C:", {1}, true, 1, 1, 2},
                      VaultCase{"SuccessNeverAsks", "C:", {0}, false, 0, 0, 2},
                      VaultCase{"OtherDrive", "V:", {0}, true, 0, 1, 2},
                      VaultCase{"LowerCaseIsAnotherLetter", "c:", {0}, true, 0, 1, 2},
                      VaultCase{"EmptySetting", "", {0}, true, 0, 1, 2}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(InteractiveTest, VaultDriveFlagDoesNotCarryIntoTheNextBatch) {
  PlainFiles({"a.dat"});
  fakes::script().vaultDrive = OnTestDrive("C:");
  Encrypt();
  EXPECT_EQ(State().bOnVaultDrive, 1);
  fakes::Reset();
  fakes::script().tempFolder = drive.Path("Temp\\");
  PlainFiles({"b.dat"});
  fakes::script().encryptSteps = {Fail(kWriteFailed)};
  fakes::script().errorAnswers = {11};
  options = {};
  Encrypt();
  EXPECT_EQ(fakes::CountOf("CKRVDevice::IsShow"), 0u);
  EXPECT_EQ(ErrorDialogs(), 1u);
}

// ---- The hidden-file prompt ----------------------------------------------------

struct HiddenCase {
  const char* label;
  std::deque<int32_t> answers;
  size_t prompts;
  Names encrypted;
};

class HiddenPrompt : public InteractiveTest, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(HiddenPrompt, DecidesForEachHiddenFile) {
  const HiddenCase& c = GetParam();
  PlainFiles({".a.dat", ".b.dat"});
  fakes::script().promptAnswers = c.answers;
  options.dwStatus = 0;
  Encrypt();
  EXPECT_EQ(Prompts(), c.prompts);
  EXPECT_EQ(EncryptedSources(), c.encrypted);
  EXPECT_EQ(options.nSkipped, 0u);  // a skip here is not counted
  EXPECT_EQ(options.dwStatus, 0u);  // nor does a stop here count as a cancel
  auto first = fakes::CallsOf("FF_ReplaceHiddenForm_Show");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0].args, (Names{"1", Utf8(drive.Path("Docs\\.a.dat")), "2", "1"}));
  ExpectClosedDown();
}

const Names kHiddenBoth = {"Docs\\.a.dat", "Docs\\.b.dat"};
INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, HiddenPrompt,
    ::testing::Values(HiddenCase{"Cancel", {2}, 1, {}}, HiddenCase{"Stop", {6}, 1, {}},
                      HiddenCase{"Replace", {4, 4}, 2, kHiddenBoth},
                      HiddenCase{"SkipThenEncrypt", {5, 4}, 2, {"Docs\\.b.dat"}},
                      HiddenCase{"YesToAll", {16}, 1, kHiddenBoth}, HiddenCase{"SkipAll", {17}, 1, {}},
                      HiddenCase{"Unknown", {0, 5}, 2, {"Docs\\.a.dat"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(InteractiveTest, HiddenFileSkippedKeepsThePreviousCode) {
  PlainFiles({"a.dat", ".b.dat"});
  fakes::script().encryptSteps = {Fail(kWriteFailed)};
  fakes::script().errorAnswers = {11};
  fakes::script().promptAnswers = {5};
  Encrypt();
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
}

// ---- The destination-exists prompt ---------------------------------------------

struct ReplaceCase {
  const char* label;
  std::deque<int32_t> answers;
  size_t prompts;
  uint32_t skipped;
  uint32_t succeeded;
  uint32_t status;
  size_t encryptCalls;
};

class ReplacePrompt : public InteractiveTest, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(ReplacePrompt, DecidesForEachBlockedFile) {
  const ReplaceCase& c = GetParam();
  PlainFiles({"a.dat", "b.dat"});
  drive.Write("Docs/a.dat.qelmenc", "old a");
  drive.Write("Docs/b.dat.qelmenc", "old b");
  fakes::script().promptAnswers = c.answers;
  Encrypt();
  EXPECT_EQ(Prompts(), c.prompts);
  EXPECT_EQ(options.nSkipped, c.skipped);
  EXPECT_EQ(options.nSucceeded, c.succeeded);
  EXPECT_EQ(options.dwStatus, c.status);
  EXPECT_EQ(EncryptCalls(), c.encryptCalls);
  // The prompt names the file in the way, for an encryption, with more to come.
  auto first = fakes::CallsOf("FF_ReplaceHiddenForm_Show");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[0].args, (Names{"1", Utf8(drive.Path("Docs\\a.dat.qelmenc")), "1", "1"}));
  const bool aReplaced = c.succeeded >= 1 && (c.answers.front() == 4 || c.answers.front() == 16);
  EXPECT_EQ(drive.Read("Docs/a.dat.qelmenc"), aReplaced ? "FAKEENC\nplain a.dat" : "old a");
  EXPECT_EQ(drive.Exists("Docs/a.dat"), !aReplaced);
  // No temporary name is left behind by a replacement.
  for (const auto& entry : std::filesystem::directory_iterator(drive.Native("Docs")))
    EXPECT_NE(entry.path().extension(), ".TMP") << entry.path();
  ExpectClosedDown();
}

INSTANTIATE_TEST_SUITE_P(
    EveryAnswer, ReplacePrompt,
    ::testing::Values(ReplaceCase{"Replace", {4, 5}, 2, 1, 1, 0, 3},
                      ReplaceCase{"YesToAll", {16}, 1, 0, 2, 0, 4},
                      ReplaceCase{"Skip", {5, 5}, 2, 2, 0, 0, 2},
                      ReplaceCase{"SkipAll", {17}, 1, 2, 0, 0, 2},
                      ReplaceCase{"Cancel", {2}, 1, 0, 0, 1, 1},
                      ReplaceCase{"Stop", {6}, 1, 0, 0, 1, 1},
                      ReplaceCase{"Unknown", {42}, 1, 0, 0, 1, 1}),
    [](const auto& info) { return std::string(info.param.label); });

// Each prompt keeps its own "for all" answer.
TEST_F(InteractiveTest, KeptHiddenAnswerSurvivesADestinationAnswer) {
  PlainFiles({".a.dat", "b.dat", ".c.dat"});
  drive.Write("Docs/b.dat.qelmenc", "old b");
  fakes::script().promptAnswers = {16, 5};  // hidden: yes to all; b's destination: skip
  Encrypt();
  EXPECT_EQ(Prompts(), 2u);
  EXPECT_TRUE(drive.Exists("Docs/.c.dat.qelmenc"));
  EXPECT_EQ(options.nSkipped, 1u);
  EXPECT_EQ(options.nSucceeded, 2u);
}

TEST_F(InteractiveTest, KeptDestinationAnswerSurvivesAHiddenAnswer) {
  PlainFiles({"a.dat", ".b.dat", "c.dat"});
  drive.Write("Docs/a.dat.qelmenc", "old a");
  drive.Write("Docs/c.dat.qelmenc", "old c");
  fakes::script().promptAnswers = {17, 4};  // a's destination: skip all; hidden b: encrypt
  Encrypt();
  EXPECT_EQ(Prompts(), 2u);
  EXPECT_EQ(drive.Read("Docs/c.dat.qelmenc"), "old c");
  EXPECT_EQ(options.nSkipped, 2u);
  EXPECT_TRUE(drive.Exists("Docs/.b.dat.qelmenc"));
}

TEST_F(InteractiveTest, FailedReplacementIsReportedOnceAndHandedBack) {
  drive.Write("Docs/a.dat.qelmenc", "FAKEENC\nalpha");
  drive.Write("Docs/a.dat", "in the way");
  SetList({"Docs\\a.dat.qelmenc"});
  fakes::script().promptAnswers = {4};
  // The redo fails too.
  fakes::CipherStep blocked = Fail(10);
  blocked.output = drive.Path("Docs\\a.dat");
  fakes::script().decryptSteps = {blocked, Fail(1320)};
  Decrypt();
  auto messages = fakes::CallsOf("ShowErrorMessage");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].args[0], "0");
  EXPECT_EQ(messages[0].args[3], "0");
  EXPECT_EQ(drive.Read("Docs/a.dat"), "in the way");
  EXPECT_EQ(Inputs(), Names{"Docs\\a.dat.qelmenc"});
  EXPECT_EQ(options.nSkipped + options.nSucceeded, 0u);
  ExpectClosedDown();
}

}  // namespace
}  // namespace halvex::test
