// A fault at every call of one kind a batch makes, on any machine: each file
// is then done, or reported and kept as it was, with nothing left half-made.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/testing.h"
#include "tests/reliability/observer.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

using platform::FaultPoint;

struct Case {
  uint32_t action;  // 1 encrypt, 0 decrypt
  FaultPoint point;
  int error;
  uint32_t times;  // 0: from the failing call on (a disk that stays full)
  uint32_t fes;    // each failed file's report; 0: any
};

class FaultSweep : public ::testing::TestWithParam<Case> {
 protected:
  std::vector<WString> Prepare(uint32_t action) {  // fresh originals, encrypted first to decrypt
    fs::remove_all(env_.Drive() / "docs");
    std::vector<WString> list;
    for (const auto& [name, bytes] : originals_) {
      WriteFile(env_.Drive() / "docs" / name, bytes);
      list.push_back(SuiteEnvironment::Path("docs/" + name));
    }
    return action ? list : RunBatch(list, 1).outputs;
  }
  SuiteEnvironment env_;
  std::map<std::string, std::string> originals_{{"big.bin", Pattern(200 << 10, 1)}, {"small.txt", "small"}};
};

TEST_P(FaultSweep, EveryFileIsDoneOrReportedAndKept) {
  const Case& c = GetParam();
  cipher::SetKdfParams(kCheapKdf);
  NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
  platform::ClearFaults();
  RunBatch(Prepare(c.action), c.action);
  const uint32_t calls = platform::FaultPointCalls(c.point);  // how many there are to fail
  ASSERT_GT(calls, 0u);
  for (uint32_t nth = 1; nth <= calls; ++nth) {
    SCOPED_TRACE(nth);
    const std::vector<WString> list = Prepare(c.action);
    ReportedFailures().clear();
    platform::InjectFault(c.point, nth, c.error, c.times);
    const BatchResult result = RunBatch(list, c.action);
    platform::ClearFaults();
    EXPECT_EQ(result.succeeded + ReportedFailures().size(), list.size());
    for (const Reported& r : ReportedFailures()) EXPECT_TRUE(!c.fes || r.fes == c.fes) << r.fes;
    EXPECT_EQ(size_t(std::count_if(list.begin(), list.end(), [](auto& p) { return fs::exists(*platform::ToNativePath(p)); })),
              ReportedFailures().size()) << "a reported file keeps its source";
    const Verdict v = CheckFolder(env_.Drive() / "docs", originals_, {}, env_.Drive() / "s", WTEXT("C:\\s"), "docs");
    EXPECT_TRUE(v.losses.empty() && v.leftovers.empty()) << testing::PrintToString(v.losses) << testing::PrintToString(v.leftovers);
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultSweep,
                         ::testing::Values(Case{1, FaultPoint::kWrite, ENOSPC, 0, 1022}, Case{1, FaultPoint::kWrite, EIO, 1, 0},
                                           Case{1, FaultPoint::kFlush, EIO, 1, 0}, Case{1, FaultPoint::kMove, EIO, 1, 0},
                                           Case{1, FaultPoint::kDelete, EACCES, 1, 1306},
                                           Case{0, FaultPoint::kWrite, ENOSPC, 0, 1022}, Case{0, FaultPoint::kFlush, EIO, 1, 0},
                                           Case{0, FaultPoint::kMove, EIO, 1, 0}, Case{0, FaultPoint::kDelete, EACCES, 1, 0}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace halvex::reliability
