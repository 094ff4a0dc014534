// Deleting, locking and replacing whole files.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "batch/state.h"
#include "engine_fixture.h"
#include "tests/support/immutable.h"
#include "suite/zqca.h"

// Where the linker can wrap a platform call, resetting the attributes of a
// file under a temporary name can be made to fail on demand: nothing else
// can make that step fail once the same file could be moved.
#ifdef HALVEX_TEST_WRAP_SETATTR
namespace {
bool failTemporaryReset = false;
}
extern "C" BOOL __real__Z18SetFileAttributesWPKDsj(LPCWSTR path, DWORD attributes);
extern "C" BOOL __wrap__Z18SetFileAttributesWPKDsj(LPCWSTR path, DWORD attributes) {
  if (failTemporaryReset && attributes == FILE_ATTRIBUTE_NORMAL &&
      WStringView(path).find(WTEXT("\\jur")) != WStringView::npos) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return __real__Z18SetFileAttributesWPKDsj(path, attributes);
}
#endif

namespace halvex::test {
namespace {

// Holds a file the way another program would: a handle that shares nothing.
struct HeldFile {
  explicit HeldFile(const WString& path)
      : handle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~HeldFile() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  HANDLE handle;
};

constexpr DWORD kReadOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

using DeleteTest = EngineTest;

TEST_F(DeleteTest, ReadOnlyHiddenFileIsDeleted) {
  drive.Write("a.txt", "x");
  const WString path = drive.Path("a.txt");
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), kReadOnlyHidden));
  engine().SetFesErrCode(7);
  EXPECT_EQ(engine().DeleteFileW(path.c_str()), 1);
  EXPECT_FALSE(drive.Exists("a.txt"));
  EXPECT_EQ(engine().GetFesErrCode(), 7u);
}

TEST_F(DeleteTest, FailuresLeaveTheFileAsItWas) {
  drive.Write("held.txt", "x");
  const WString held = drive.Path("held.txt");
  ASSERT_TRUE(SetFileAttributesW(held.c_str(), kReadOnlyHidden));
  {
    HeldFile holder(held);
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(engine().DeleteFileW(held.c_str()), 0);
    EXPECT_EQ(engine().GetFesErrCode(), FES_DELETE_FAILED);
    EXPECT_EQ(engine().GetApiErrCode(), 0u);
  }
  EXPECT_TRUE(drive.Exists("held.txt"));
  EXPECT_EQ(GetFileAttributesW(held.c_str()) & kReadOnlyHidden, kReadOnlyHidden);

  engine().SetApiErrCode(9);
  EXPECT_EQ(engine().DeleteFileW(drive.Path("missing.txt").c_str()), 0);
  EXPECT_EQ(engine().GetFesErrCode(), FES_READ_ATTR_FAILED);
  EXPECT_EQ(engine().GetApiErrCode(), 0u);
}

TEST_F(DeleteTest, FileWhoseAttributesMayNotChangeIsRefused) {
  drive.Write("fixed.txt", "x");
  if (!SetImmutable(drive.Native("fixed.txt"), true)) GTEST_SKIP() << "immutable files unsupported here";
  EXPECT_EQ(engine().DeleteFileW(drive.Path("fixed.txt").c_str()), 0);
  EXPECT_EQ(engine().GetFesErrCode(), FES_RESET_ATTR_FAILED);
  SetImmutable(drive.Native("fixed.txt"), false);
  EXPECT_TRUE(drive.Exists("fixed.txt"));
}

using LockTest = EngineTest;

TEST_F(LockTest, LockGoesToTheCipherOnlyForEncryptedFiles) {
  drive.Write("plain.txt", "x");
  drive.Write("enc.qelmenc", "FAKEENC\nx");
  const struct {
    const char* rel;
    uint32_t lockResult;
    int32_t result;
    uint32_t fes, api;
    size_t lockCalls;
  } cases[] = {
      {"plain.txt", 0, 0, FES_NOT_ENCRYPTED_LOCK, 0, 0},
      {"enc.qelmenc", 1326, 0, FES_LOCK_FAILED, 1326, 1},
      {"enc.qelmenc", 0, 1, 11, 12, 1},  // success leaves the codes alone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rel);
    fakes::Reset();
    fakes::script().lockResult = c.lockResult;
    engine().SetFesErrCode(11);
    engine().SetApiErrCode(12);
    EXPECT_EQ(engine().LockFile(drive.Path(c.rel).c_str()), c.result);
    EXPECT_EQ(engine().GetFesErrCode(), c.fes);
    EXPECT_EQ(engine().GetApiErrCode(), c.api);
    EXPECT_EQ(fakes::CountOf("ZQCA_LockFileW"), c.lockCalls);
  }
}

TEST_F(LockTest, ChecksAnswerWithoutTouchingTheCodes) {
  drive.Write("enc.qelmenc", "FAKEENC\nx");
  drive.Write("plain.txt", "x");
  fakes::script().isLocked = [](const WString& p) { return p.ends_with(WTEXT(".qelmenc")); };
  engine().SetFesErrCode(3);
  engine().SetApiErrCode(4);
  EXPECT_EQ(engine().CheckFileEncrypted(drive.Path("enc.qelmenc").c_str()), 1);
  EXPECT_EQ(engine().CheckFileEncrypted(drive.Path("plain.txt").c_str()), 0);
  EXPECT_EQ(engine().CheckFileLocked(drive.Path("enc.qelmenc").c_str()), 1);
  EXPECT_EQ(engine().CheckFileLocked(drive.Path("plain.txt").c_str()), 0);
  EXPECT_EQ(engine().GetFesErrCode(), 3u);
  EXPECT_EQ(engine().GetApiErrCode(), 4u);
}

class ReplaceTest : public EngineTest {
 protected:
  // A type-0 encryption of Docs\a.bin that met its old output in the way.
  tagCRYPTOPARAMS& Blocked() {
    drive.Write("Docs/a.bin", "new plain");
    drive.Write("Docs/a.bin.qelmenc", "old output");
    options.dwAction = 1;
    auto& request = Request(0, WTEXT("pw"), {"Docs/a.bin"});
    Prepare(request, PROGRESS_ENC);
    engine().EncryptFileW(&request, 0);
    EXPECT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_OUTPUT_EXISTS});
    EXPECT_EQ(engine().m_strLastOutput, drive.Path("Docs/a.bin.qelmenc"));
    return request;
  }
  // Names left in Docs besides the expected ones (temporary names included).
  std::vector<std::string> DocsEntries() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(drive.Native("Docs")))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ReplaceTest, SuccessReplacesTheBlockingFileAndLeavesNoTemporaryName) {
  auto& request = Blocked();
  EXPECT_EQ(engine().DoFileReplacement(&request, 0), 1);
  EXPECT_EQ(request.dwErrCode, 0u);
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "FAKEENC\nnew plain");
  EXPECT_EQ(DocsEntries(), std::vector<std::string>{"a.bin.qelmenc"});  // source removed by the commit
  EXPECT_EQ(options.nSucceeded, 1u);
}

// An engine of a host's own works without a batch: its cipher calls run to
// the end, and a replacement keeps the redone output and the source.
TEST_F(ReplaceTest, AnEngineWithoutABatchKeepsTheRedoneOutputAndTheSource) {
  auto& request = Blocked();
  engine().m_pfnProgress = nullptr;
  engine().m_pfnCommitOutput = nullptr;
  engine().m_pfnDiscardOutput = nullptr;
  fakes::CipherStep redo = Step(0);
  redo.percents = {40, 100};
  fakes::script().encryptSteps.push_back(redo);
  EXPECT_EQ(engine().DoFileReplacement(&request, 0), 1);
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "FAKEENC\nnew plain");
  EXPECT_EQ(DocsEntries(), (std::vector<std::string>{"a.bin", "a.bin.qelmenc"}));
  EXPECT_EQ(options.nSucceeded, 0u);
}

TEST_F(ReplaceTest, BlockingFileThatCannotBeProcessedStaysPut) {
  auto& request = Blocked();
  {
    HeldFile holder(drive.Path("Docs/a.bin.qelmenc"));
    ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(engine().DoFileReplacement(&request, 0), 0);
  }
  EXPECT_EQ(engine().GetFesErrCode(), FES_FILE_IN_USE);
  EXPECT_EQ(engine().GetApiErrCode(), 0u);
  EXPECT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_OUTPUT_EXISTS}) << "its own failures leave the request's code";
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "old output");
  EXPECT_EQ(DocsEntries(), (std::vector<std::string>{"a.bin", "a.bin.qelmenc"}));
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 1u);
}

TEST_F(ReplaceTest, FailedRedoPutsTheBlockingFileBackWithItsAttributes) {
  auto& request = Blocked();
  const WString blocking = drive.Path("Docs/a.bin.qelmenc");
  ASSERT_TRUE(SetFileAttributesW(blocking.c_str(), kReadOnlyHidden));
  // The redo fails and leaves a partial output at the blocking file's name.
  fakes::script().encryptSteps.push_back(Step(ZQCA_ERR_WRITE));
  EXPECT_EQ(engine().DoFileReplacement(&request, 0), 0);
  EXPECT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_WRITE});
  EXPECT_EQ(engine().GetFesErrCode(), FES_ENCRYPT_FAILED);  // from the discard
  EXPECT_EQ(engine().GetApiErrCode(), uint32_t{ZQCA_ERR_WRITE});
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "old output");
  EXPECT_EQ(GetFileAttributesW(blocking.c_str()) & kReadOnlyHidden, kReadOnlyHidden);
  EXPECT_EQ(DocsEntries(), (std::vector<std::string>{"a.bin", "a.bin.qelmenc"}));
}

TEST_F(ReplaceTest, DecryptionKindRedoesADecryption) {
  drive.Write("Docs/a.bin.qelmenc", "FAKEENC\nfresh");
  drive.Write("Docs/a.bin", "stale plain");
  options.dwAction = 0;
  auto& request = Request(0, WTEXT("pw"), {"Docs/a.bin.qelmenc"});
  Prepare(request, PROGRESS_DEC);
  engine().DecryptFileW(&request, 0);
  ASSERT_EQ(request.dwErrCode, uint32_t{ZQCA_ERR_OUTPUT_EXISTS});
  EXPECT_EQ(engine().DoFileReplacement(&request, 0), 1);
  EXPECT_EQ(drive.Read("Docs/a.bin"), "fresh");
  EXPECT_EQ(DocsEntries(), std::vector<std::string>{"a.bin"});
}

// The stored name a renamed file brings never takes the place of a file of
// another name, for a host calling the replacement itself too.
TEST_F(ReplaceTest, DecryptionNeverReplacesAFileOfAnotherName) {
  drive.Write("Docs/invoice.pdfENX", "FAKEENC\nsender's notes");
  drive.Write("Docs/notes.txt", "the user's notes");
  options.dwAction = 0;
  auto& request = Request(0, WTEXT("pw"), {"Docs/invoice.pdfENX"});
  Prepare(request, PROGRESS_DEC);
  fakes::script().decryptSteps.push_back(Step(ZQCA_ERR_OUTPUT_EXISTS, drive.Path("Docs/notes.txt"), false));
  engine().DecryptFileW(&request, 0);
  EXPECT_EQ(engine().DoFileReplacement(&request, 0), 0);
  EXPECT_EQ(engine().GetFesErrCode(), uint32_t{FES_NAME_TAKEN});
  EXPECT_EQ(drive.Read("Docs/notes.txt"), "the user's notes");
  EXPECT_EQ(DocsEntries(), (std::vector<std::string>{"invoice.pdfENX", "notes.txt"}));
}

TEST_F(ReplaceTest, AttributeResetFailureMovesTheFileBack) {
#ifndef HALVEX_TEST_WRAP_SETATTR
  GTEST_SKIP() << "needs the linker's --wrap to make the attribute reset fail";
#else
  auto& request = Blocked();
  const WString blocking = drive.Path("Docs/a.bin.qelmenc");
  ASSERT_TRUE(SetFileAttributesW(blocking.c_str(), kReadOnlyHidden));
  failTemporaryReset = true;
  const int32_t result = engine().DoFileReplacement(&request, 0);
  failTemporaryReset = false;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(engine().GetFesErrCode(), FES_RESET_ATTR_FAILED);
  EXPECT_EQ(engine().GetApiErrCode(), 0u);
  EXPECT_EQ(fakes::CountOf("ZQCA_DualPasswordFileEncryptW"), 1u) << "no redo";
  EXPECT_EQ(drive.Read("Docs/a.bin.qelmenc"), "old output");
  EXPECT_EQ(GetFileAttributesW(blocking.c_str()) & kReadOnlyHidden, kReadOnlyHidden);
  EXPECT_EQ(DocsEntries(), (std::vector<std::string>{"a.bin", "a.bin.qelmenc"}));
#endif
}

}  // namespace
}  // namespace halvex::test
