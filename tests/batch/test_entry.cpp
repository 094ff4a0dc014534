// Halvex: per-batch flags, dispatch by type, and the refusals that keep a
// bad or concurrent request away from the shared batch state.
//
// The drivers are replaced here by recording ones, so the entry is tested
// on its own; this file is linked with batch/halvex.cpp in place of the
// core's drivers.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "batch/drivers.h"
#include "halvex/halvex.h"
#include "batch/state.h"

namespace {

struct FlagsSeen {
  int32_t hiddenKept, replaceKept, cancel, tempOutput, onVault, hiddenAnswer, replaceAnswer;
};

FlagsSeen ReadFlags() {
  const BatchState& s = State();
  return {s.bHiddenAnswerKept, s.bReplaceAnswerKept, s.bCancel, s.cryptoFile.m_bTempOutput, s.bOnVaultDrive,
          s.nHiddenAnswer, s.nReplaceAnswer};
}

void SetAllFlags(int32_t value) {
  BatchState& s = State();
  s.bHiddenAnswerKept = s.bReplaceAnswerKept = s.bCancel = s.cryptoFile.m_bTempOutput = s.bOnVaultDrive = value;
  s.nHiddenAnswer = s.nReplaceAnswer = value;
}

bool AllFlagsAre(const FlagsSeen& f, int32_t value) {
  return f.hiddenKept == value && f.replaceKept == value && f.cancel == value &&
         f.tempOutput == value && f.onVault == value && f.hiddenAnswer == value &&
         f.replaceAnswer == value;
}

struct DriverLog {
  std::vector<std::string> drivers;
  std::vector<FlagsSeen> flagsAtEntry;
  std::function<void(tagCRYPTOPARAMS*)> body;  // what the driver does, if anything
};

DriverLog& Log() {
  static DriverLog log;
  return log;
}

void Drive(const char* name, tagCRYPTOPARAMS* request) {
  Log().drivers.push_back(name);
  Log().flagsAtEntry.push_back(ReadFlags());
  if (Log().body) Log().body(request);
}

}  // namespace

void RunInteractiveBatch(tagCRYPTOPARAMS* r) { Drive("interactive", r); }
void RunSelfExtractOrDecryptBatch(tagCRYPTOPARAMS* r) { Drive("selfExtractOrDecrypt", r); }
void RunMessageBatch(tagCRYPTOPARAMS* r) { Drive("message", r); }
void RunMessageCopyBatch(tagCRYPTOPARAMS* r) { Drive("messageCopy", r); }
void RunSelfExtractBatch(tagCRYPTOPARAMS* r) { Drive("selfExtract", r); }

namespace {

constexpr uint32_t kHostCode = 0xC0DE;

class Entry : public testing::Test {
 protected:
  Entry() : list_(paths_) {
    Log() = DriverLog{};
    SetAllFlags(0);
    options_.dwAction = 1;
    request_.dwType = 0;
    request_.pFileList = &list_;
    request_.dwErrCode = kHostCode;
    request_.pOptions = &options_;
  }
  ~Entry() override { Log() = DriverLog{}; }

  WCHAR plan_[20] = WTEXT("C:\\Docs\\plan.doc");
  WCHAR end_[1] = WTEXT("");
  WCHAR* paths_[2] = {plan_, end_};
  CFileList list_;
  tagCRYPTOOPTIONS options_{};
  tagCRYPTOPARAMS request_{};
};

struct DispatchCase {
  uint32_t type;
  const char* driver;
};

class EntryDispatch : public Entry, public testing::WithParamInterface<DispatchCase> {};

TEST_P(EntryDispatch, CallsTheDriverOfTheType) {
  request_.dwType = GetParam().type;
  Halvex(&request_);
  ASSERT_EQ(Log().drivers, std::vector<std::string>{GetParam().driver});
  EXPECT_EQ(request_.dwErrCode, kHostCode);  // the entry never clears it
}

INSTANTIATE_TEST_SUITE_P(Types, EntryDispatch,
                         testing::Values(DispatchCase{0, "interactive"},
                                         DispatchCase{1, "selfExtractOrDecrypt"},
                                         DispatchCase{2, "selfExtractOrDecrypt"},
                                         DispatchCase{3, "message"},
                                         DispatchCase{4, "messageCopy"},
                                         DispatchCase{5, "selfExtract"},
                                         DispatchCase{6, "selfExtractOrDecrypt"}));

TEST_F(Entry, ClearsExactlyThePerBatchStateBeforeTheDriver) {
  SetAllFlags(1);
  State().cryptoFile.m_nOutputKind = 4;
  State().cryptoFile.m_strLastOutput = WTEXT("C:\\Docs\\previous.docENX");
  Halvex(&request_);
  ASSERT_EQ(Log().flagsAtEntry.size(), 1u);
  EXPECT_TRUE(AllFlagsAre(Log().flagsAtEntry[0], 0));
  EXPECT_EQ(State().cryptoFile.m_nOutputKind, 4);
  EXPECT_EQ(State().cryptoFile.m_strLastOutput, WTEXT("C:\\Docs\\previous.docENX"));
}

TEST_F(Entry, UnknownTypesTouchNothing) {
  for (uint32_t type : {7u, 8u, 0x80000000u, UINT32_MAX}) {
    SetAllFlags(1);
    request_.dwType = type;
    request_.pFileList = nullptr;  // not even looked at
    Halvex(&request_);
    EXPECT_EQ(request_.dwErrCode, kHostCode) << type;
    EXPECT_TRUE(AllFlagsAre(ReadFlags(), 1)) << type;
  }
  EXPECT_TRUE(Log().drivers.empty());
  EXPECT_EQ(list_.m_vecFiles, std::vector<WString>{WTEXT("C:\\Docs\\plan.doc")});
  EXPECT_EQ(options_.dwAction, 1u);
}

TEST_F(Entry, NullRequestReturnsAtOnce) {
  SetAllFlags(1);
  Halvex(nullptr);
  EXPECT_TRUE(Log().drivers.empty());
  EXPECT_TRUE(AllFlagsAre(ReadFlags(), 1));
}

struct MissingCase {
  uint32_t type;
  bool listMissing;
  bool optionsMissing;
  bool refused;
};

class EntryMissing : public Entry, public testing::WithParamInterface<MissingCase> {};

TEST_P(EntryMissing, RefusesWhatTheTypeWouldRead) {
  const MissingCase& c = GetParam();
  SetAllFlags(1);
  request_.dwType = c.type;
  if (c.listMissing) request_.pFileList = nullptr;
  if (c.optionsMissing) request_.pOptions = nullptr;
  Halvex(&request_);
  if (c.refused) {
    EXPECT_EQ(request_.dwErrCode, uint32_t{ERROR_INVALID_PARAMETER});
    EXPECT_TRUE(Log().drivers.empty());
    EXPECT_TRUE(AllFlagsAre(ReadFlags(), 1));
  } else {
    EXPECT_EQ(request_.dwErrCode, kHostCode);
    EXPECT_EQ(Log().drivers.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, EntryMissing,
    testing::Values(MissingCase{0, true, false, true}, MissingCase{5, true, false, true},
                    MissingCase{6, true, true, true}, MissingCase{0, false, true, true},
                    MissingCase{1, false, true, true}, MissingCase{2, false, true, true},
                    MissingCase{3, false, true, true}, MissingCase{4, false, true, true},
                    MissingCase{6, false, true, true},
                    // Type 5 never reads the options record.
                    MissingCase{5, false, true, false}));

TEST_F(Entry, SecondBatchWhileOneRunsIsRefused) {
  std::promise<void> started;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  Log().body = [&](tagCRYPTOPARAMS*) {
    State().bCancel = 1;  // the running batch's own state
    started.set_value();
    released.wait();
  };
  std::thread running([&] { Halvex(&request_); });
  started.get_future().wait();
  Log().body = nullptr;

  CFileList otherList(paths_);
  tagCRYPTOOPTIONS otherOptions{};
  tagCRYPTOPARAMS second{3, nullptr, &otherList, 0, &otherOptions};
  Halvex(&second);
  EXPECT_EQ(second.dwErrCode, uint32_t{ERROR_BUSY});
  EXPECT_EQ(State().bCancel, 1);
  EXPECT_EQ(Log().drivers.size(), 1u);

  release.set_value();
  running.join();
  EXPECT_EQ(request_.dwErrCode, kHostCode);

  // Once it is over, the next batch runs.
  second.dwErrCode = 0;
  Halvex(&second);
  EXPECT_EQ(Log().drivers.size(), 2u);
  EXPECT_EQ(second.dwErrCode, 0u);
}

TEST_F(Entry, ReenteringFromInsideABatchIsRefused) {
  tagCRYPTOPARAMS inner = request_;
  Log().body = [&](tagCRYPTOPARAMS*) {
    Log().body = nullptr;
    Halvex(&inner);
  };
  Halvex(&request_);
  EXPECT_EQ(inner.dwErrCode, uint32_t{ERROR_BUSY});
  EXPECT_EQ(Log().drivers.size(), 1u);
}

struct ThrowCase {
  const char* name;
  std::function<void()> raise;
  uint32_t code;
};

class EntryThrow : public Entry, public testing::WithParamInterface<ThrowCase> {};

TEST_P(EntryThrow, NoExceptionReachesTheHost) {
  Log().body = [this](tagCRYPTOPARAMS*) { GetParam().raise(); };
  EXPECT_NO_THROW(Halvex(&request_));
  EXPECT_EQ(request_.dwErrCode, GetParam().code);

  // The batch is over: the next one is not refused as busy.
  Log().body = nullptr;
  request_.dwErrCode = 0;
  Halvex(&request_);
  EXPECT_EQ(request_.dwErrCode, 0u);
  EXPECT_EQ(Log().drivers.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, EntryThrow,
    testing::Values(ThrowCase{"OutOfMemory", [] { throw std::bad_alloc(); }, ERROR_NOT_ENOUGH_MEMORY},
                    ThrowCase{"Other", [] { throw std::runtime_error("driver"); }, 1359u},
                    ThrowCase{"NotAnException", [] { throw 42; }, 1359u}),
    [](const testing::TestParamInfo<ThrowCase>& info) { return info.param.name; });

}  // namespace
