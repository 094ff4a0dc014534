// Decrypting one list entry: refusals, output folder, the retry on a copy,
// the password-use note and clean-up.
#include <chrono>
#include <thread>

#include "engine_fixture.h"
#include "platform/paths.h"
#include "platform/testing.h"
#include "suite/zqca.h"

namespace halvex::test {
namespace {

class DecryptTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    temp_ = UseTempFolder();
    drive.Write("Docs/a.bin.qelmenc", "FAKEENC\nplain");
  }
  tagCRYPTOPARAMS& DecryptOne(uint32_t type, const WCHAR* password = WTEXT("pw"),
                              const std::string& rel = "Docs/a.bin.qelmenc") {
    auto& request = Request(type, password, {rel});
    Prepare(request, type == 0 ? PROGRESS_DEC : PROGRESS_DEC_HIDDEN);
    engine().DecryptFileW(&request, 0);
    return request;
  }
  std::vector<fakes::Call> DecryptCalls() { return fakes::CallsOf("ZQCA_DualPasswordFileDecryptW"); }

  WString temp_;
};

TEST_F(DecryptTest, RefusalsEndTheCallBeforeTheCipher) {
  drive.Write("Docs/plain.txt", "not encrypted");
  const struct {
    const char* rel;
    uint32_t code;
  } cases[] = {{"Docs/plain.txt", FES_NOT_ENCRYPTED}, {"Docs/missing.qelmenc", FES_FILE_NOT_FOUND}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rel);
    engine().UninitCrypto();
    engine().SetApiErrCode(5);
    auto& request = DecryptOne(0, WTEXT("pw"), c.rel);
    EXPECT_EQ(request.dwErrCode, c.code);
    EXPECT_EQ(engine().GetFesErrCode(), c.code);
    EXPECT_EQ(engine().GetApiErrCode(), 0u);
    EXPECT_TRUE(DecryptCalls().empty());
  }
}

TEST_F(DecryptTest, OnlyExactlyOneSendsTheOutputToTheTemporaryFolder) {
  const struct {
    uint32_t toTemp;
    WString folder;
  } cases[] = {{1, temp_}, {2, drive.Path("Docs\\")}, {0, drive.Path("Docs\\")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.toTemp);
    fakes::Reset();
    UseTempFolder();
    engine().UninitCrypto();
    std::filesystem::remove(drive.Native("Docs/a.bin"));
    std::filesystem::remove(drive.Native("Tmp/a.bin"));
    options.bDecryptToTemp = c.toTemp;
    auto& request = DecryptOne(0);
    EXPECT_EQ(request.dwErrCode, 0u);
    EXPECT_EQ(engine().m_bTempOutput, static_cast<int32_t>(c.toTemp));
    ASSERT_EQ(DecryptCalls().size(), 1u);
    EXPECT_EQ(DecryptCalls()[0].args[1], U8(c.folder));
    EXPECT_EQ(engine().m_strLastOutput, c.folder + WTEXT("a.bin"));
    EXPECT_TRUE(request.pFileList->m_vecOutFiles.empty());
  }
}

TEST_F(DecryptTest, CallCarriesPasswordAndStoredKey) {
  DecryptOne(0, WTEXT("s\u00e9cret"));
  auto call = DecryptCalls().at(0);
  EXPECT_EQ(call.args[0], U8(drive.Path("Docs/a.bin.qelmenc")));
  EXPECT_EQ(call.args[2], "s\xc3\xa9" "cret");
  EXPECT_EQ(call.args[3], "6");
  EXPECT_EQ(call.args[4], "store-key");
  EXPECT_EQ(call.args[5], "24");
  EXPECT_EQ(call.args[6], "");   // output buffer zero-filled
  EXPECT_EQ(call.args[7], "0");  // flag cleared
  EXPECT_EQ(call.args[8], "handle");
}

TEST_F(DecryptTest, RequestWithoutPasswordPassesAnEmptyOne) {
  DecryptOne(1, WTEXT("earlier"));
  engine().UninitCrypto();
  std::filesystem::remove(drive.Native("Docs/a.bin"));
  DecryptOne(1, nullptr);
  auto call = DecryptCalls().back();
  EXPECT_EQ(call.args[2], "");
  EXPECT_EQ(call.args[3], "0");
  EXPECT_EQ(call.args[4], "null");
}

#ifndef _WIN32  // the faults are injected into the POSIX layer
// The retry decrypts this source's own copy, held through the call, then
// removed; without a sound copy the file stays busy. A stale copy is ignored.
TEST_F(DecryptTest, BusySourceIsRetriedOnceOnItsOwnCopy) {
  for (int fault : {-1, int(platform::FaultPoint::kCopy), int(platform::FaultPoint::kDelete)}) {
    SCOPED_TRACE(fault);
    fakes::Reset();
    UseTempFolder();
    engine().UninitCrypto();
    drive.Write("Tmp/webmail/temp.qelmenx", "FAKEENC\nstale");
    fakes::script().decryptSteps = {Step(ZQCA_ERR_SOURCE_BUSY, std::nullopt, false), {}};
    bool swapped = true;
    fakes::script().decryptSteps[1].during = [&] { swapped = DeleteFileW(W(DecryptCalls().back().args[0]).c_str()); };
    if (fault >= 0) platform::InjectFault(platform::FaultPoint(fault), 1, EACCES);
    auto& request = DecryptOne(0);
    platform::ClearFaults();
    EXPECT_EQ(request.dwErrCode, fault < 0 ? 0u : 1u);
    ASSERT_EQ(DecryptCalls().size(), fault < 0 ? 2u : 1u);
    const auto output = platform::ToNativePath(engine().m_strLastOutput);
    std::ifstream in(*output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), fault < 0 ? "plain" : "");
    EXPECT_TRUE(fault >= 0 || !swapped) << "the copy is held during the call";
    std::filesystem::remove(*output);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drive.Native("Tmp/webmail")), {}), 1);
  }
}
#endif

TEST_F(DecryptTest, NoRetryCopyWithoutATemporaryFolder) {
  fakes::script().tempFolder.clear();
  fakes::script().decryptSteps.push_back(Step(ZQCA_ERR_SOURCE_BUSY, std::nullopt, false));
  auto& request = DecryptOne(0);
  EXPECT_EQ(DecryptCalls().size(), 1u);
  EXPECT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_SOURCE_BUSY});
}

TEST_F(DecryptTest, PasswordUseIsNotedWhateverTheOutcome) {
  const struct {
    uint32_t code;
    uint8_t flag;
    size_t notes;
  } cases[] = {{0, 1, 1}, {ZQCA_ERR_DAMAGED, 1, 1}, {0, 0, 0}, {ZQCA_ERR_WRONG_KEY, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << "/" << int(c.flag));
    fakes::Reset();
    UseTempFolder();
    engine().UninitCrypto();
    std::filesystem::remove(drive.Native("Docs/a.bin"));
    fakes::script().decryptSteps.push_back(Step(c.code, std::nullopt, true, c.flag));
    DecryptOne(0);
    EXPECT_EQ(fakes::CountOf("ZQ_WriteLastSPWUseChgTime"), c.notes);
    if (c.notes) {
      EXPECT_EQ(fakes::CallsOf("ZQ_WriteLastSPWUseChgTime")[0].args[0], "1");
    }
  }
}

TEST_F(DecryptTest, FailedCallsOfOtherTypesRemovePartialOutputs) {
  const struct {
    uint32_t type;
    uint32_t code;
    bool remains;
  } cases[] = {
      {1, ZQCA_ERR_WRONG_KEY, true}, {1, ZQCA_ERR_OUTPUT_EXISTS, true}, {1, ZQCA_ERR_VERSION, true},
      {1, ZQCA_ERR_LOCKED, true},    {1, ZQCA_ERR_DAMAGED, false},      {1, ZQCA_ERR_DISK_FULL, false},
      {1, ZQCA_ERR_CANCELLED, false}, {0, ZQCA_ERR_DAMAGED, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " code " << c.code);
    fakes::Reset();
    UseTempFolder();
    engine().UninitCrypto();
    std::filesystem::remove(drive.Native("Docs/a.bin"));
    // The fake leaves a partial file at the output path it reports.
    fakes::script().decryptSteps.push_back(Step(c.code));
    auto& request = DecryptOne(c.type);
    EXPECT_EQ(request.dwErrCode, c.code);
    EXPECT_EQ(engine().GetApiErrCode(), c.code);
    EXPECT_EQ(engine().m_strLastOutput, drive.Path("Docs/a.bin"));
    EXPECT_EQ(drive.Exists("Docs/a.bin"), c.remains);
    EXPECT_TRUE(request.pFileList->m_vecOutFiles.empty());
  }
}

TEST_F(DecryptTest, FailedRetryNeverDeletesAFileThatStoodThereBefore) {
  // The first answer names the user's own file and the retry fails without
  // touching the buffer, which still names that file.
  drive.Write("Docs/a.bin", "user's");
  fakes::script().decryptSteps.push_back(Step(ZQCA_ERR_SOURCE_BUSY, drive.Path("Docs/a.bin"), false));
  fakes::script().decryptSteps.push_back(Step(ZQCA_ERR_DAMAGED, drive.Path("Docs/a.bin"), false));
  auto& request = DecryptOne(1);
  EXPECT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_DAMAGED});
  EXPECT_EQ(drive.Read("Docs/a.bin"), "user's");
  EXPECT_EQ(engine().m_strLastOutput, WString());
}

TEST_F(DecryptTest, FailedFirstCallNeverDeletesAFileOlderThanTheCall) {
  drive.Write("Docs/a.bin", "user's");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // the file clock moves on in ticks
  fakes::script().decryptSteps.push_back(Step(ZQCA_ERR_DAMAGED, drive.Path("Docs/a.bin"), false));
  DecryptOne(1);
  EXPECT_EQ(drive.Read("Docs/a.bin"), "user's");
  EXPECT_EQ(engine().m_strLastOutput, WString());
}

TEST_F(DecryptTest, IndexPastTheListIsAMissingFile) {
  auto& request = Request(0, WTEXT("pw"), {"Docs/a.bin.qelmenc"});
  Prepare(request, PROGRESS_DEC);
  engine().DecryptFileW(&request, 1);
  EXPECT_EQ(request.dwErrCode, uint32_t{FES_FILE_NOT_FOUND});
  engine().EncryptFileW(&request, 7);
  EXPECT_EQ(request.dwErrCode, uint32_t{FES_FILE_NOT_FOUND});
  EXPECT_TRUE(fakes::CallNames("ZQCA_Dual").empty());
}

TEST_F(DecryptTest, OtherTypesListTheOutput) {
  auto& request = DecryptOne(6);
  EXPECT_EQ(request.dwErrCode, 0u);
  ASSERT_EQ(request.pFileList->m_vecOutFiles.size(), 1u);
  EXPECT_EQ(request.pFileList->m_vecOutFiles[0], drive.Path("Docs/a.bin"));
  EXPECT_EQ(request.pFileList->m_nOutCount, 1u);
  EXPECT_EQ(drive.Read("Docs/a.bin"), "plain");
  EXPECT_TRUE(drive.Exists("Docs/a.bin.qelmenc"));
}

}  // namespace
}  // namespace halvex::test
