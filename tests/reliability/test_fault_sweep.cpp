// Faults at every call of a kind that a batch makes, on any machine and
// without privileges: a write that finds the disk full or meets an I/O error,
// a flush, a rename or a source delete that fails. Whatever call fails, every
// file is either done (its output opens, its source is gone) or reported and
// kept as it was; nothing half-written or moved aside stays behind.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/testing.h"
#include "tests/reliability/observer.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

using platform::FaultPoint;

struct Case {
  friend void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }
  const char* what;
  uint32_t action;  // 1 encrypt, 0 decrypt
  FaultPoint point;
  int error;
  uint32_t times;  // 0: every call from the failing one on (a disk that stays full)
  uint32_t fes;    // what each failed file is reported as; 0: not fixed here
};

class FaultSweep : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
    originals_ = {{"big.bin", Pattern(200 * 1024, 1)}, {"small.txt", Pattern(900, 2)}};
  }
  void TearDown() override { platform::ClearFaults(); }

  // A fresh docs folder: the originals, encrypted first when decrypting.
  std::vector<WString> Prepare(uint32_t action) {
    fs::remove_all(env_.Drive() / "docs");
    std::vector<WString> list;
    for (const auto& [name, bytes] : originals_) {
      WriteFile(env_.Drive() / "docs" / name, bytes);
      list.push_back(SuiteEnvironment::Path("docs/" + name));
    }
    if (action == 1) return list;
    const BatchResult encrypted = RunBatch(list, 1);
    EXPECT_EQ(encrypted.succeeded, originals_.size());
    return encrypted.outputs;
  }

  SuiteEnvironment env_;
  std::map<std::string, std::string> originals_;
};

TEST_P(FaultSweep, EveryFileIsDoneOrReportedAndKept) {
  const Case& c = GetParam();
  // A run without faults counts the calls there are to fail.
  std::vector<WString> list = Prepare(c.action);
  platform::ClearFaults();
  ASSERT_EQ(RunBatch(list, c.action).succeeded, originals_.size());
  const uint32_t calls = platform::FaultPointCalls(c.point);
  ASSERT_GT(calls, 0u) << "the batch never reaches this point";

  for (uint32_t nth = 1; nth <= calls; ++nth) {
    SCOPED_TRACE(testing::Message() << "call " << nth << " of " << calls);
    list = Prepare(c.action);
    ReportedFailures().clear();
    platform::InjectFault(c.point, nth, c.error, c.times);
    const BatchResult result = RunBatch(list, c.action);
    platform::ClearFaults();

    EXPECT_EQ(result.succeeded + ReportedFailures().size(), originals_.size()) << "a file neither done nor reported";
    EXPECT_FALSE(ReportedFailures().empty() && result.succeeded == originals_.size());
    for (const Reported& r : ReportedFailures()) {
      EXPECT_TRUE(c.fes == 0 || r.fes == c.fes) << r.name << ": " << r.fes;
    }
    const Verdict verdict = CheckFolder(env_.Drive() / "docs", originals_, {}, env_.Drive() / "scratch",
                                        platform::Widen("C:\\scratch"), "docs");
    EXPECT_TRUE(verdict.losses.empty()) << testing::PrintToString(verdict.losses);
    EXPECT_TRUE(verdict.leftovers.empty()) << testing::PrintToString(verdict.leftovers);
    // A file reported failed is there as before: plain when encrypting, still
    // encrypted when decrypting.
    const size_t sourcesLeft = std::count_if(list.begin(), list.end(), [](const WString& source) {
      return fs::exists(*platform::ToNativePath(source));
    });
    EXPECT_EQ(sourcesLeft, ReportedFailures().size());
  }
}

constexpr uint32_t kFesDiskFull = 1022;
constexpr uint32_t kFesDeleteFailed = 1306;

const Case kCases[] = {
    {"encrypting, the disk fills up", 1, FaultPoint::kWrite, ENOSPC, 0, kFesDiskFull},
    {"encrypting, a write meets an I/O error", 1, FaultPoint::kWrite, EIO, 1, 0},
    {"encrypting, a flush fails", 1, FaultPoint::kFlush, EIO, 1, 0},
    {"encrypting, the rename into place fails", 1, FaultPoint::kMove, EIO, 1, 0},
    {"encrypting, the source cannot be deleted", 1, FaultPoint::kDelete, EACCES, 1, kFesDeleteFailed},
    {"decrypting, the disk fills up", 0, FaultPoint::kWrite, ENOSPC, 0, kFesDiskFull},
    {"decrypting, a flush fails", 0, FaultPoint::kFlush, EIO, 1, 0},
    {"decrypting, the rename into place fails", 0, FaultPoint::kMove, EIO, 1, 0},
    {"decrypting, the source cannot be deleted", 0, FaultPoint::kDelete, EACCES, 1, 0},
};

INSTANTIATE_TEST_SUITE_P(Reliability, FaultSweep, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace halvex::reliability
