// The fakes keep their promises: recording, scripted answers, default cipher.
#include "tests/fakes/fakes.h"

#include <gtest/gtest.h>

#include "suite/krvdevice.h"
#include "suite/progress.h"
#include "suite/zq.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"
#include "tests/support/temp_drive.h"

namespace hf = halvex::fakes;
using halvex::test::TempDrive;

namespace {

class FakesTest : public ::testing::Test {
 protected:
  void SetUp() override { hf::Reset(); }
  void TearDown() override { hf::Reset(); }

  uint32_t Encrypt(const WString& source, const WString& dest, WCHAR* buffer, bool sfx = false,
                   ZQCA_ProgressProc progress = nullptr) {
    std::fill_n(buffer, 260, 0);
    std::copy(dest.begin(), dest.end(), buffer);
    return ZQCA_DualPasswordFileEncryptW(source.c_str(), buffer, nullptr, nullptr, 24, sfx, progress);
  }
  uint32_t Decrypt(const WString& source, const WString& folder, WCHAR* output, BYTE* flag,
                   ZQCA_ProgressProc progress = nullptr) {
    std::fill_n(output, 260, 0);
    return ZQCA_DualPasswordFileDecryptW(source.c_str(), folder.c_str(), WTEXT("pw"), 2, nullptr, 24, output, flag,
                                         progress);
  }
};

hf::CipherStep Step(uint32_t code, std::vector<int32_t> percents = {}) {
  hf::CipherStep step;
  step.code = code;
  step.percents = std::move(percents);
  return step;
}

int32_t g_stopAt = -1;
int32_t StopAt(int32_t percent) { return percent == g_stopAt ? 1 : 0; }

TEST_F(FakesTest, DefaultCipherRoundTripsAndRefusesExistingOutputs) {
  TempDrive drive;
  drive.Write("Docs/plan.doc", "hello");
  WCHAR buffer[260];
  ASSERT_EQ(0u, Encrypt(drive.Path("Docs\\plan.doc"), drive.Path("Docs\\plan.docENX"), buffer));
  EXPECT_EQ("FAKEENC\nhello", drive.Read("Docs/plan.docENX"));
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(drive.Path("Docs\\plan.docENX").c_str()));
  EXPECT_FALSE(ZQCA_CheckSelfExtractEncryptedFile(drive.Path("Docs\\plan.docENX").c_str()));
  EXPECT_FALSE(ZQCA_CheckEncryptedFileW(drive.Path("Docs\\plan.doc").c_str()));
  EXPECT_EQ(10u, Encrypt(drive.Path("Docs\\plan.doc"), drive.Path("Docs\\plan.docENX"), buffer));
  EXPECT_EQ(drive.Path("Docs\\plan.docENX"), WString(buffer));

  WCHAR output[260];
  BYTE flag = 7;
  EXPECT_EQ(10u, Decrypt(drive.Path("Docs\\plan.docENX"), drive.Path("Docs"), output, &flag));
  EXPECT_EQ(drive.Path("Docs\\plan.doc"), WString(output));
  EXPECT_EQ(1327u, Decrypt(drive.Path("Docs\\plan.docENX"), drive.Path("Out\\"), output, &flag))
      << "the output folder does not exist";
}

TEST_F(FakesTest, DecryptionRestoresNameLessItsLastSuffix) {
  TempDrive drive;
  struct Case { const char* encrypted; const char* restored; } cases[] = {
      {"a.txt.qelmenc", "a.txt"}, {"b.docENX", "b.doc"}, {"c.pdf.exe", "c.pdf"}, {"d.xls.qelmenx", "d.xls"}};
  std::filesystem::create_directories(drive.Native("Out"));
  for (const Case& c : cases) {
    drive.Write(c.encrypted, "FAKESFX\nbody");
    WCHAR output[260];
    BYTE flag = 0;
    ASSERT_EQ(0u, Decrypt(drive.Path(c.encrypted), drive.Path("Out"), output, &flag)) << c.encrypted;
    EXPECT_EQ(drive.Path(std::string("Out\\") + c.restored), WString(output));
    EXPECT_EQ("body", drive.Read(std::string("Out/") + c.restored));
  }
  drive.Write("plain.txt.qelmenc", "not ours");
  WCHAR output[260];
  BYTE flag = 0;
  EXPECT_EQ(1307u, Decrypt(drive.Path("plain.txt.qelmenc"), drive.Path("Out"), output, &flag));
}

TEST_F(FakesTest, ScriptedStepsDriveProgressCancelAndPartialFiles) {
  TempDrive drive;
  drive.Write("a.txt", "x");
  WCHAR buffer[260];
  hf::script().encryptSteps.push_back(Step(0, {10, 50, 90}));
  g_stopAt = 50;
  EXPECT_EQ(1310u, Encrypt(drive.Path("a.txt"), drive.Path("a.txt.qelmenc"), buffer, false, StopAt));
  EXPECT_FALSE(drive.Exists("a.txt.qelmenc"));

  hf::CipherStep keep = Step(0, {50});
  keep.keepPartialOnCancel = true;
  hf::script().encryptSteps.push_back(keep);
  EXPECT_EQ(1310u, Encrypt(drive.Path("a.txt"), drive.Path("a.txt.qelmenc"), buffer, false, StopAt));
  EXPECT_TRUE(drive.Exists("a.txt.qelmenc"));
  std::filesystem::remove(drive.Native("a.txt.qelmenc"));

  hf::CipherStep full = Step(12);
  full.output = drive.Path("elsewhere");
  hf::script().encryptSteps.push_back(full);
  EXPECT_EQ(12u, Encrypt(drive.Path("a.txt"), drive.Path("a.txt.qelmenc"), buffer));
  EXPECT_EQ(drive.Path("elsewhere"), WString(buffer));
  EXPECT_TRUE(drive.Exists("elsewhere")) << "a failed step leaves a partial file";

  hf::CipherStep wrongKey = Step(1001);
  wrongKey.write = false;
  wrongKey.flag = 1;
  hf::script().decryptSteps.push_back(wrongKey);
  BYTE flag = 0;
  WCHAR output[260];
  EXPECT_EQ(1001u, Decrypt(drive.Path("a.txt.qelmenc"), drive.Path(""), output, &flag));
  EXPECT_EQ(1, flag);
  EXPECT_EQ("x", drive.Read("a.txt")) << "a step that writes nothing touches no file";
}

TEST_F(FakesTest, KeysAreTrackedPerLibrary) {
  uint32_t error = 9, value = 9;
  BYTE* cipherKey = ZQCA_PasswordTranscodeW(WTEXT("secret"), 6, 24, &error);
  EXPECT_EQ(0u, error);
  BYTE* storeKey = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  EXPECT_EQ(0u, value);
  EXPECT_EQ(1, hf::LiveCipherKeys());
  EXPECT_EQ(1, hf::LiveStoreKeys());
  WCHAR buffer[260] = {};
  ZQCA_DualPasswordFileEncryptW(WTEXT("Z:\\none"), buffer, cipherKey, storeKey, 24, false, nullptr);
  auto encrypt = hf::CallsOf("ZQCA_DualPasswordFileEncryptW").at(0);
  EXPECT_EQ("cipher-key", encrypt.args[2]);
  EXPECT_EQ("store-key", encrypt.args[3]);

  ZQCA_FreeMemory(storeKey);  // wrong library
  EXPECT_EQ(1, hf::BadFrees());
  ZQKM_FreeMemory(storeKey);
  ZQCA_FreeMemory(cipherKey);
  EXPECT_EQ(0, hf::LiveCipherKeys());
  EXPECT_EQ(0, hf::LiveStoreKeys());
  EXPECT_EQ(1, hf::BadFrees());

  hf::script().keystoreError = 1;
  hf::script().keystoreReturnsNull = true;
  EXPECT_EQ(nullptr, ZQKM_GetKeyFromKeyStore(0, &value, &error));
  EXPECT_EQ(1u, error);
}

TEST_F(FakesTest, WindowsAndDialogsAnswerFromTheScript) {
  void* hProgress = nullptr;
  Encryption_Progress_Create(&hProgress);
  EXPECT_EQ(hf::FakeWindowHandle(), hProgress);
  Encryption_Progress_SetFileName(WTEXT("...plan.doc"), &hProgress);
  tagUIEXCHANGE ui{};
  ui.hWnd = hProgress;
  hf::script().buttonResults = {6};
  Encryption_Progress_CheckButton(&ui);
  EXPECT_EQ(6, ui.nResult);
  Encryption_Progress_CheckButton(&ui);
  EXPECT_EQ(0, ui.nResult);
  hf::script().promptAnswers = {16};
  FF_ReplaceHiddenForm_Show(1, WTEXT("x"), 2, 1, &ui);
  EXPECT_EQ(16, ui.nResult);
  hf::script().mutexResult = 0;
  hf::script().mutexNResult = 19;
  EXPECT_EQ(0, FF_UI_InitMutex(1, &ui));
  EXPECT_EQ(19, ui.nResult);

  EXPECT_EQ((std::vector<std::string>{"...plan.doc", "handle"}),
            hf::CallsOf("Encryption_Progress_SetFileName").at(0).args);
  EXPECT_EQ("handle", hf::CallsOf("Encryption_Progress_CheckButton").at(0).args.at(0));
  EXPECT_EQ((std::vector<std::string>{"1", "x", "2", "1"}), hf::CallsOf("FF_ReplaceHiddenForm_Show").at(0).args);
  EXPECT_EQ(2u, hf::CallNames("Encryption_Progress_Check").size());
}

TEST_F(FakesTest, SettingsAndDriveAnswerFromTheScript) {
  hf::script().vaultDrive = WTEXT("V:");
  WCHAR buffer[260] = {};
  uint32_t size = 2;
  ZQ_ReadINIFileW(25, buffer, &size);
  EXPECT_EQ(WString(WTEXT("V")), WString(buffer)) << "truncated to the capacity";
  size = 260;
  ZQ_ReadINIFileW(7, buffer, &size);
  EXPECT_EQ(WString(), WString(buffer));

  hf::script().isShowAnswers = {0};
  CKRVDevice device(0, 0);
  EXPECT_EQ(0, device.IsShow());
  EXPECT_EQ(1, device.IsShow());
}

}  // namespace
