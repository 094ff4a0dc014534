// Encrypting one list entry: refusals, naming limits, outputs and clean-up.
#include "engine_fixture.h"
#include "suite/zqca.h"

namespace halvex::test {
namespace {

class EncryptTest : public EngineTest {
 protected:
  // Prepares a batch of type over one entry and encrypts it.
  tagCRYPTOPARAMS& EncryptOne(uint32_t type, const std::string& rel, int32_t kind = PROGRESS_ENC) {
    auto& request = Request(type, WTEXT("pw"), {rel});
    Prepare(request, kind);
    engine().EncryptFileW(&request, 0);
    return request;
  }
};

TEST_F(EncryptTest, RefusalsEndTheCallBeforeTheCipher) {
  const struct {
    const char* name;
    const char* content;  // nullptr: no file at all
    uint32_t type;
    uint32_t errCode;
    uint32_t fesCode;
  } cases[] = {
      {"missing file", nullptr, 0, FES_FILE_NOT_FOUND, FES_FILE_NOT_FOUND},
      {"encrypted, type 0", "FAKEENC\nx", 0, FES_ALREADY_ENCRYPTED, FES_ALREADY_ENCRYPTED},
      {"self-extracting, type 0", "FAKESFX\nx", 0, FES_ALREADY_ENCRYPTED, FES_ALREADY_ENCRYPTED},
      {"encrypted, type 3", "FAKEENC\nx", 3, FES_ALREADY_ENCRYPTED, FES_ALREADY_ENCRYPTED},
      {"self-extracting, type 3", "FAKESFX\nx", 3, ERR_SELF_EXTRACTOR, FES_ALREADY_ENCRYPTED},
      {"self-extracting, type 4", "FAKESFX\nx", 4, ERR_SELF_EXTRACTOR, FES_ALREADY_ENCRYPTED},
      {"self-extracting, type 1", "FAKESFX\nx", 1, FES_ALREADY_ENCRYPTED, FES_ALREADY_ENCRYPTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::Reset();
    engine().UninitCrypto();
    UseTempFolder();
    std::filesystem::remove(drive.Native("Docs/a.bin"));
    if (c.content) drive.Write("Docs/a.bin", c.content);
    engine().SetApiErrCode(99);
    auto& request = EncryptOne(c.type, "Docs/a.bin", c.type == 0 ? PROGRESS_ENC : PROGRESS_ENC_SELFX);
    EXPECT_EQ(request.dwErrCode, c.errCode);
    EXPECT_EQ(engine().GetFesErrCode(), c.fesCode);
    EXPECT_EQ(engine().GetApiErrCode(), 0u);
    EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 0u);
    EXPECT_TRUE(request.pFileList->m_vecOutFiles.empty());
  }
}

TEST_F(EncryptTest, DestinationOfMoreThan245CharactersIsRefused) {
  // root + folder + "\" + name + ".exe": pick the name so the destination
  // has exactly the wanted length.
  const std::string folder(120, 'd');
  for (size_t destLength : {245u, 246u}) {
    SCOPED_TRACE(destLength);
    fakes::Reset();
    engine().UninitCrypto();
    const size_t nameLength = destLength - drive.Path().size() - folder.size() - 1 - 4;
    const std::string rel = folder + "/" + std::string(nameLength, 'n');
    drive.Write(rel, "plain");
    auto& request = EncryptOne(0, rel, PROGRESS_ENC_SELFX);
    ASSERT_EQ(drive.Path(rel).size() + 4, destLength);
    if (destLength == 245) {
      EXPECT_EQ(request.dwErrCode, 0u);
      EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 1u);
    } else {
      EXPECT_EQ(request.dwErrCode, ERR_DEST_TOO_LONG);
      EXPECT_EQ(engine().GetFesErrCode(), FES_DEST_TOO_LONG);
      EXPECT_EQ(engine().GetApiErrCode(), 0u);
      EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 0u);
    }
  }
}

TEST_F(EncryptTest, TypeZeroSuccessNamesTheOutputButListsNothing) {
  drive.Write("Docs/a.bin", "plain");
  engine().m_strLastOutput = WTEXT("stale");
  auto& request = EncryptOne(0, "Docs/a.bin");
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(engine().GetApiErrCode(), 0u);
  EXPECT_EQ(engine().m_strLastOutput, drive.Path("Docs/a.bin.qelmenc"));
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "FAKEENC\nplain");
  EXPECT_TRUE(request.pFileList->m_vecOutFiles.empty());
  EXPECT_TRUE(drive.Exists("Docs/a.bin")) << "removing the source is the caller's business";

  auto call = fakes::CallsOf("ZQCA_DualPasswordFileEncryptW").at(0);
  EXPECT_EQ(call.args[1], U8(drive.Path("Docs/a.bin.qelmenc")));
  EXPECT_EQ(call.args[2], "cipher-key");
  EXPECT_EQ(call.args[3], "store-key");
  EXPECT_EQ(call.args[4], "24");
  EXPECT_EQ(call.args[5], "0");
  EXPECT_EQ(call.args[6], "handle");
}

TEST_F(EncryptTest, OtherTypesListTheRequestedDestination) {
  drive.Write("Docs/a.bin", "plain");
  // The cipher reports another path than it was asked for.
  fakes::script().encryptSteps.push_back(Step(0, drive.Path("Docs/elsewhere.exe")));
  auto& request = EncryptOne(1, "Docs/a.bin", PROGRESS_ENC_HIDDEN);
  EXPECT_EQ(request.dwErrCode, 0u);
  ASSERT_EQ(request.pFileList->m_vecOutFiles.size(), 1u);
  EXPECT_EQ(request.pFileList->m_vecOutFiles[0], drive.Path("Docs/a.bin.exe"));
  EXPECT_EQ(request.pFileList->m_nOutCount, 1u);
  EXPECT_EQ(engine().m_strLastOutput, drive.Path("Docs/elsewhere.exe"));
  EXPECT_EQ(fakes::CallsOf("ZQCA_DualPasswordFileEncryptW").at(0).args[5], "1");
}

TEST_F(EncryptTest, MessageBatchWritesIntoItsFolder) {
  UseTempFolder();
  drive.Write("Mail/invoice.pdf", "plain");
  auto& request = EncryptOne(3, "Mail/invoice.pdf", PROGRESS_ENC_SELFX);
  EXPECT_EQ(request.dwErrCode, 0u);
  ASSERT_EQ(request.pFileList->m_vecOutFiles.size(), 1u);
  EXPECT_EQ(request.pFileList->m_vecOutFiles[0], engine().m_FESUtil.m_strMsgSubFolder + WTEXT("invoice.pdf.qelmenx"));
}

TEST_F(EncryptTest, FailedCallsCleanUpOnlyWhatTheyWrote) {
  const struct {
    const char* name;
    uint32_t type;
    uint32_t code;
    bool userFileThere;  // a file of the user's stood at the destination before
    bool outputRemains;
  } cases[] = {
      {"type 1, output exists", 1, ZQCA_ERR_OUTPUT_EXISTS, true, true},
      {"type 1, write failed", 1, ZQCA_ERR_WRITE, false, false},
      {"type 1, disk full", 1, ZQCA_ERR_DISK_FULL, false, false},
      {"type 0, write failed", 0, ZQCA_ERR_WRITE, false, true},
      {"type 1, failure beside a user's file", 1, ZQCA_ERR_READ, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::Reset();
    engine().UninitCrypto();
    std::filesystem::remove(drive.Native("Docs/a.bin.exe"));
    std::filesystem::remove(drive.Native("Docs/a.bin.qelmenc"));
    drive.Write("Docs/a.bin", "plain");
    const std::string dest = c.type == 0 ? "Docs/a.bin.qelmenc" : "Docs/a.bin.exe";
    if (c.userFileThere) drive.Write(dest, "user's");
    // Without userFileThere, the fake leaves a partial output at the destination.
    fakes::script().encryptSteps.push_back(Step(c.code));
    auto& request = Request(c.type, WTEXT("pw"), {"Docs/a.bin"});
    Prepare(request, c.type == 0 ? PROGRESS_ENC : PROGRESS_ENC_HIDDEN);
    engine().SetFesErrCode(4242);
    engine().EncryptFileW(&request, 0);
    EXPECT_EQ(request.dwErrCode, c.code);
    EXPECT_EQ(engine().GetApiErrCode(), c.code);
    EXPECT_EQ(engine().GetFesErrCode(), 4242u) << "a cipher failure leaves the FES code to the caller";
    EXPECT_EQ(drive.Exists(dest), c.outputRemains);
    if (c.userFileThere) {
      EXPECT_EQ(drive.Read(dest), "user's");
    }
    EXPECT_TRUE(request.pFileList->m_vecOutFiles.empty());
    EXPECT_TRUE(drive.Exists("Docs/a.bin"));
  }
}

TEST_F(EncryptTest, LastOutputAfterFailureIsWhatTheCipherReported) {
  drive.Write("Docs/a.bin", "plain");
  const struct {
    const char* name;
    uint32_t code;
    std::optional<WString> output;
    bool userFileThere;
    WString expected;
  } cases[] = {
      {"buffer emptied", ZQCA_ERR_WRITE, WString(), false, WString()},
      {"partial output named", ZQCA_ERR_WRITE, std::nullopt, false, drive.Path("Docs/a.bin.qelmenc")},
      {"file in the way", ZQCA_ERR_OUTPUT_EXISTS, std::nullopt, true, drive.Path("Docs/a.bin.qelmenc")},
      // The buffer still names the requested destination, where the user's
      // own file stands: that file is not this call's output.
      {"untouched buffer, user's file", ZQCA_ERR_READ, std::nullopt, true, WString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::Reset();
    engine().UninitCrypto();
    std::filesystem::remove(drive.Native("Docs/a.bin.qelmenc"));
    if (c.userFileThere) drive.Write("Docs/a.bin.qelmenc", "user's");
    fakes::script().encryptSteps.push_back(Step(c.code, c.output, !c.userFileThere));
    engine().m_strLastOutput = WTEXT("stale");
    EncryptOne(0, "Docs/a.bin");
    EXPECT_EQ(engine().m_strLastOutput, c.expected);
  }
}

}  // namespace
}  // namespace halvex::test
