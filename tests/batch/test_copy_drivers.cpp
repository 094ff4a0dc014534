// The non-interactive batches: self-extracting copies with rollback or
// decryption (types 1, 2, 6), always copies (type 5), message folders with
// one result per entry (types 3 and 4).
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/batch/batch_fixture.h"

namespace halvex::test {
namespace {

using Names = std::vector<std::string>;

constexpr uint32_t kWriteFailed = 1325;
constexpr uint32_t kSentinel = 0xDEADBEEF;

class CopyBatchTest : public BatchTest {
 protected:
  void Files(const std::vector<std::string>& names) {
    for (const std::string& n : names) drive.Write("Docs/" + n, "plain " + n);
  }
  void ListDocs(const std::vector<std::string>& names) {
    std::vector<std::string> rel;
    for (const std::string& n : names) rel.push_back("Docs\\" + n);
    SetList(rel);
  }
  // Copies: dwAction 1 with dwStatus 1.
  void RunCopies(uint32_t type) {
    options.dwAction = 1;
    options.dwStatus = 1;
    Run(type);
  }
};

// ---- Types 1, 2 and 6 ------------------------------------------------------------

class SelfExtractTypes : public CopyBatchTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SelfExtractTypes, CopiesEveryExistingFileAndKeepsSources) {
  Files({"a.txt", "b.txt"});
  drive.Write("Docs/folder/x", "");
  ListDocs({"a.txt", "missing.txt", "folder", "b.txt"});
  request.dwErrCode = 77;
  RunCopies(GetParam());
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(Outputs(), (Names{"Docs\\a.txt.exe", "Docs\\b.txt.exe"}));
  EXPECT_EQ(drive.Read("Docs/a.txt.exe"), "FAKESFX\nplain a.txt");
  EXPECT_EQ(drive.Read("Docs/a.txt"), "plain a.txt");
  ExpectClosedDown();
}

TEST_P(SelfExtractTypes, FailureRollsBackEveryCopyButKeepsThemListed) {
  Files({"a.txt", "b.txt", "c.txt", "d.txt"});
  ListDocs({"a.txt", "b.txt", "c.txt", "d.txt"});
  fakes::script().encryptSteps = {Succeed(), Succeed(), Fail(kWriteFailed)};
  RunCopies(GetParam());
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
  EXPECT_EQ(Outputs(), (Names{"Docs\\a.txt.exe", "Docs\\b.txt.exe"}));
  EXPECT_EQ(list->m_nOutCount, 2u);
  EXPECT_FALSE(drive.Exists("Docs/a.txt.exe"));
  EXPECT_FALSE(drive.Exists("Docs/b.txt.exe"));
  EXPECT_FALSE(drive.Exists("Docs/d.txt.exe"));
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 3u);  // d.txt never reached
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt"}) EXPECT_TRUE(drive.Exists(std::string("Docs/") + n));
  ExpectClosedDown();
}

INSTANTIATE_TEST_SUITE_P(Types, SelfExtractTypes, ::testing::Values(1u, 2u, 6u));

TEST_F(CopyBatchTest, FailureOnTheFirstFileDeletesNothing) {
  Files({"a.txt", "b.txt"});
  ListDocs({"a.txt", "b.txt"});
  fakes::script().encryptSteps = {Fail(kWriteFailed)};
  RunCopies(1);
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
  EXPECT_TRUE(list->m_vecOutFiles.empty());
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 1u);
}

TEST_F(CopyBatchTest, ExistingOutputStopsTheBatchAndIsKept) {
  Files({"a.txt", "b.txt"});
  drive.Write("Docs/b.txt.exe", "someone else's");
  ListDocs({"a.txt", "b.txt"});
  RunCopies(2);
  EXPECT_EQ(request.dwErrCode, 10u);
  EXPECT_FALSE(drive.Exists("Docs/a.txt.exe"));
  EXPECT_EQ(drive.Read("Docs/b.txt.exe"), "someone else's");
  EXPECT_EQ(Outputs(), Names{"Docs\\a.txt.exe"});
}

// A list reused from an earlier batch: its outputs are not this batch's to undo.
TEST_F(CopyBatchTest, RollbackLeavesOutputsOfEarlierBatches) {
  Files({"a.txt", "b.txt"});
  drive.Write("Docs/restored.txt", "decrypted earlier");
  ListDocs({"a.txt", "b.txt"});
  list->m_vecOutFiles.push_back(drive.Path("Docs\\restored.txt"));
  list->m_nOutCount = 1;
  fakes::script().encryptSteps = {Succeed(), Fail(kWriteFailed)};
  RunCopies(1);
  EXPECT_EQ(drive.Read("Docs/restored.txt"), "decrypted earlier");
  EXPECT_FALSE(drive.Exists("Docs/a.txt.exe"));
  EXPECT_EQ(Outputs(), (Names{"Docs\\restored.txt", "Docs\\a.txt.exe"}));
}

TEST_F(CopyBatchTest, DecryptionGoesOnPastFailures) {
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) drive.Write(std::string("Docs/") + n + ".qelmenc", "FAKEENC\n" + std::string(n));
  ListDocs({"a.txt.qelmenc", "b.txt.qelmenc", "c.txt.qelmenc"});
  fakes::CipherStep broken = Fail(1320);
  broken.write = true;  // leaves a partial output, which must go
  fakes::script().decryptSteps = {Succeed(), broken, Succeed()};
  options.dwAction = 1;
  options.dwStatus = 0;
  Run(6);
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileDecryptW"), 3u);
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(Outputs(), (Names{"Docs\\a.txt", "Docs\\c.txt"}));
  EXPECT_FALSE(drive.Exists("Docs/b.txt"));
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) EXPECT_TRUE(drive.Exists(std::string("Docs/") + n + ".qelmenc"));
  EXPECT_EQ(fakes::CountOf("Decryption_Progress_CheckButton") + fakes::CountOf("Encryption_Progress_CheckButton"), 0u);
  ExpectClosedDown();
}

TEST_F(CopyBatchTest, SetupFailureEndsEveryDriverBeforeTheFirstFile) {
  for (uint32_t type : {1u, 2u, 3u, 4u, 5u, 6u}) {
    SCOPED_TRACE(type);
    fakes::Reset();
    fakes::script().tempFolder = drive.Path("Temp\\");
    fakes::script().transcodeError = 1;
    fakes::script().transcodeReturnsNull = true;
    Files({"a.txt"});
    ListDocs({"a.txt"});
    uint32_t results[1] = {kSentinel};
    options = {};
    if (type == 3 || type == 4) {
      options.pdwFileResults = results;
    } else {
      options.dwAction = 1;
      options.dwStatus = 1;
    }
    request.dwErrCode = 0;
    Run(type);
    EXPECT_NE(request.dwErrCode, 0u);
    EXPECT_EQ(results[0], kSentinel);
    EXPECT_TRUE(list->m_vecOutFiles.empty());
    EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 0u);
    EXPECT_EQ(fakes::CountOf("Encryption_Progress_ReleaseForm"), 1u);
    ExpectClosedDown();
  }
}

// ---- Type 5 ----------------------------------------------------------------------

TEST_F(CopyBatchTest, TypeFiveIgnoresItsOptions) {
  struct Case {
    const char* label;
    bool withOptions;
    uint32_t action, status;
  };
  for (const Case& c : {Case{"none", false, 0, 0}, Case{"decrypting options", true, 1, 0},
                        Case{"copy options", true, 1, 1}, Case{"zero", true, 0, 0}}) {
    SCOPED_TRACE(c.label);
    fakes::Reset();
    fakes::script().tempFolder = drive.Path("Temp\\");
    std::filesystem::remove(drive.Native("Docs/a.txt.exe"));
    Files({"a.txt"});
    ListDocs({"a.txt"});
    options = {};
    options.dwAction = c.action;
    options.dwStatus = c.status;
    request.dwType = 5;
    request.pwszPassword = password.c_str();
    request.pFileList = list.get();
    request.pOptions = c.withOptions ? &options : nullptr;
    request.dwErrCode = 0;
    Halvex(&request);
    EXPECT_EQ(request.dwErrCode, 0u);
    EXPECT_EQ(Outputs(), Names{"Docs\\a.txt.exe"});
    EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileDecryptW"), 0u);
    EXPECT_EQ(options.dwStatus, c.status);
    ExpectClosedDown();
  }
}

TEST_F(CopyBatchTest, TypeFiveRollsBackLikeTheOthers) {
  Files({"a.txt", "b.txt", "c.txt"});
  ListDocs({"a.txt", "b.txt", "c.txt"});
  fakes::script().encryptSteps = {Succeed(), Succeed(), Fail(kWriteFailed)};
  Run(5);
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
  EXPECT_FALSE(drive.Exists("Docs/a.txt.exe"));
  EXPECT_FALSE(drive.Exists("Docs/b.txt.exe"));
  EXPECT_EQ(list->m_nOutCount, 2u);
}

// ---- Types 3 and 4 -------------------------------------------------------------

class MessageBatchTest : public CopyBatchTest {
 protected:
  void RunMessage(uint32_t type, size_t entries) {
    results_.assign(entries, kSentinel);
    options.pdwFileResults = results_.data();
    Run(type);
  }
  std::vector<uint32_t> Results() const { return results_; }
  // Outputs, with the message folder's path written as "<msg>\".
  Names MessageOutputs(const std::string& sub) const {
    Names out;
    const std::string prefix = Utf8(drive.Path("Temp\\" + sub + "\\"));
    for (const WString& w : list->m_vecOutFiles) {
      std::string s = Utf8(w);
      if (s.rfind(prefix, 0) == 0) {
        size_t slash = s.find('\\', prefix.size());
        out.push_back("<msg>" + s.substr(slash));
      } else {
        out.push_back(Relative({w})[0]);
      }
    }
    return out;
  }

 private:
  std::vector<uint32_t> results_;
};

class MessageTypes : public MessageBatchTest, public ::testing::WithParamInterface<uint32_t> {
 protected:
  std::string Sub() const { return GetParam() == 3 ? "WLM" : "YAH"; }
};

TEST_P(MessageTypes, OneResultAndOneOutputPerEntry) {
  Files({"a.txt", "c.txt", "e.txt"});
  drive.Write("Docs/dir/x", "");
  ListDocs({"a.txt", "missing.txt", "c.txt", "dir", "e.txt"});
  fakes::script().encryptSteps = {Succeed(), Succeed(), Fail(kWriteFailed)};
  RunMessage(GetParam(), 5);
  EXPECT_EQ(Results(), (std::vector<uint32_t>{0, 1015, 0, 1015, kWriteFailed}));
  EXPECT_EQ(MessageOutputs(Sub()), (Names{"<msg>\\a.txt.qelmenx", "Docs\\missing.txt", "<msg>\\c.txt.qelmenx",
                                          "Docs\\dir", "Docs\\e.txt"}));
  EXPECT_EQ(list->m_nOutCount, 5u);
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
  for (const char* n : {"a.txt", "c.txt", "e.txt"}) EXPECT_TRUE(drive.Exists(std::string("Docs/") + n));
  ExpectClosedDown();
}

TEST_P(MessageTypes, MissingLastEntryKeepsTheCodeOfTheLastExistingOne) {
  Files({"a.txt"});
  ListDocs({"a.txt", "gone.txt"});
  fakes::script().encryptSteps = {Fail(kWriteFailed)};
  RunMessage(GetParam(), 2);
  EXPECT_EQ(request.dwErrCode, kWriteFailed);
  EXPECT_EQ(Results(), (std::vector<uint32_t>{kWriteFailed, 1015}));
}

TEST_P(MessageTypes, EmptyListWritesNothing) {
  ListDocs({});
  request.dwErrCode = 77;
  RunMessage(GetParam(), 1);
  EXPECT_EQ(Results(), std::vector<uint32_t>{kSentinel});
  EXPECT_EQ(request.dwErrCode, 77u);
  EXPECT_TRUE(list->m_vecOutFiles.empty());
  ExpectClosedDown();
}

TEST_P(MessageTypes, AlreadyEncryptedPlainFileIsRecordedNotCopied) {
  drive.Write("Docs/old.txt.qelmenc", "FAKEENC\nold");
  ListDocs({"old.txt.qelmenc"});
  RunMessage(GetParam(), 1);
  EXPECT_EQ(Results(), std::vector<uint32_t>{8501});
  EXPECT_EQ(MessageOutputs(Sub()), Names{"Docs\\old.txt.qelmenc"});
}

INSTANTIATE_TEST_SUITE_P(Types, MessageTypes, ::testing::Values(3u, 4u));

// A self-extracting encrypted file: type 4 copies it as it is; type 3 reports it.
TEST_F(MessageBatchTest, SelfExtractorIsCopiedByTypeFourOnly) {
  struct Case {
    uint32_t type;
    std::vector<uint32_t> results;
    Names outputs;
  };
  for (const Case& c : {Case{4, {0, 0}, {"<msg>\\a.txt.qelmenx", "<msg>\\s.exe"}},
                        Case{3, {0, 1313}, {"<msg>\\a.txt.qelmenx", "Docs\\s.exe"}}}) {
    SCOPED_TRACE(c.type);
    fakes::Reset();
    fakes::script().tempFolder = drive.Path("Temp\\");
    Files({"a.txt"});
    drive.Write("Docs/s.exe", "FAKESFX\nsfx");
    ListDocs({"a.txt", "s.exe"});
    options = {};
    RunMessage(c.type, 2);
    EXPECT_EQ(Results(), c.results);
    EXPECT_EQ(MessageOutputs(c.type == 4 ? "YAH" : "WLM"), c.outputs);
    EXPECT_EQ(request.dwErrCode, 1313u);
    if (c.type == 4) {
      std::optional<std::string> copy = halvex::platform::ToNativePath(list->m_vecOutFiles[1]);
      ASSERT_TRUE(copy);
      std::ifstream in(*copy, std::ios::binary);
      std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(content, "FAKESFX\nsfx");
    }
    EXPECT_EQ(drive.Read("Docs/s.exe"), "FAKESFX\nsfx");
  }
}

TEST_F(MessageBatchTest, CopyNeverReplacesAnEarlierCopyOfTheSameName) {
  drive.Write("One/s.exe", "FAKESFX\nfirst");
  drive.Write("Two/s.exe", "FAKESFX\nsecond");
  drive.Write("Docs/noext", "FAKESFX\nbare");
  SetList({"One\\s.exe", "Two\\s.exe", "Docs\\noext"});
  RunMessage(4, 3);
  EXPECT_EQ(Results(), (std::vector<uint32_t>{0, 1313, 0}));
  EXPECT_EQ(MessageOutputs("YAH"), (Names{"<msg>\\s.exe", "Two\\s.exe", "<msg>\\noext"}));
  std::optional<std::string> copy = halvex::platform::ToNativePath(list->m_vecOutFiles[0]);
  ASSERT_TRUE(copy);
  std::ifstream in(*copy, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "FAKESFX\nfirst");
}

}  // namespace
}  // namespace halvex::test
