// Full disk: batches on a small memory file system that fills up in the
// middle of a file, in the middle of a batch and during a replacement. Every
// file that did not fit is reported as disk full (1022 with the cipher's 12),
// leaves no partial output, and keeps its source; the files that fit are done.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/paths.h"
#include "platform/testing.h"
#include "tests/reliability/observer.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

constexpr uint32_t kFesDiskFull = 1022;

struct FileSpec {
  std::string name;
  size_t size;
  bool fits;  // expected to be done; otherwise refused as disk full
};

struct Case {
  friend void PrintTo(const Case& c, std::ostream* out) { *out << c.what; }
  const char* what;
  size_t diskKiB;
  uint32_t action;  // 1 encrypt, 0 decrypt
  std::vector<FileSpec> files;
  // An older encrypted copy standing in the way of the first file's output.
  bool blockedOutput = false;
};

class FullDisk : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
    // S: is room off the small drive, for staging and for opening outputs.
    fs::create_directories(Stage());
    setenv("HALVEX_DRIVES", ("C=" + env_.Drive().string() + ";S=" + Stage().string()).c_str(), 1);
    platform::ReloadDriveMap();
  }
  fs::path Stage() const { return env_.Root() / "stage"; }
  void TearDown() override { Unmount(); }

  // A fresh file system of the given size as C:. Empty when mounting is refused.
  std::optional<std::string> Mount(size_t kib) {
    Unmount();
    fs::create_directories(env_.Drive());
    std::string options = "size=" + std::to_string(kib) + "k,mode=0755";
    if (mount("halvex-full-disk", env_.Drive().c_str(), "tmpfs", 0, options.c_str()) != 0)
      return std::string(std::strerror(errno));
    mounted_ = true;
    return std::nullopt;
  }
  void Unmount() {
    if (mounted_ && umount2(env_.Drive().c_str(), MNT_DETACH) == 0) mounted_ = false;
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(env_.Drive() / "docs")) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Encrypts a file made elsewhere into the drive with the batch's password,
  // so the batch's decryption and the checker can open it.
  void PlaceEncrypted(const std::string& name, const std::string& content, const std::string& as) {
    WriteFile(Stage() / name, content);
    uint32_t error = 0;
    WString password = Password();
    BYTE* key = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), 24, &error);
    ASSERT_EQ(error, 0u);
    std::array<WCHAR, MAX_PATH> destination{};
    WString target = SuiteEnvironment::Path("docs/" + as);
    std::copy(target.begin(), target.end(), destination.begin());
    WString source = platform::Widen("S:\\" + name);
    ASSERT_EQ(ZQCA_DualPasswordFileEncryptW(source.c_str(), destination.data(), key, nullptr, 24, false, nullptr),
              ZQCA_OK);
    ZQCA_FreeMemory(key);
    fs::remove(Stage() / name);
  }

  SuiteEnvironment env_;
  bool mounted_ = false;
};

TEST_P(FullDisk, WhatDoesNotFitIsReportedAndKept) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.what);
  if (auto refused = Mount(c.diskKiB)) GTEST_SKIP() << "cannot mount a small file system here: " << *refused;
  fs::create_directories(env_.Drive() / "docs");

  std::map<std::string, std::string> originals;
  std::vector<WString> list;
  unsigned seed = 3;
  for (const FileSpec& f : c.files) {
    originals[f.name] = Pattern(f.size, seed++);
    if (c.action == 1) {
      WriteFile(env_.Drive() / "docs" / f.name, originals[f.name]);
      list.push_back(SuiteEnvironment::Path("docs/" + f.name));
    } else {
      PlaceEncrypted(f.name, originals[f.name], f.name + ".qelmenc");
      list.push_back(SuiteEnvironment::Path("docs/" + f.name + ".qelmenc"));
    }
  }
  std::string blocking;
  const std::string blockedOutput = c.files[0].name + ".qelmenc";
  if (c.blockedOutput) {
    PlaceEncrypted(c.files[0].name, "an older version", blockedOutput);
    blocking = ReadFile(env_.Drive() / "docs" / blockedOutput);
  }

  ReportedFailures().clear();
  BatchResult result = RunBatch(list, c.action);

  size_t fitting = 0;
  std::vector<std::string> expectedReports;
  for (const FileSpec& f : c.files) {
    if (f.fits) ++fitting;
    else expectedReports.push_back(f.name);
  }
  EXPECT_EQ(result.succeeded, fitting);
  ASSERT_EQ(ReportedFailures().size(), expectedReports.size());
  for (const Reported& r : ReportedFailures()) {
    EXPECT_EQ(r.fes, kFesDiskFull) << r.name;
    EXPECT_EQ(r.api, ZQCA_ERR_DISK_FULL) << r.name;
  }

  // Nothing half-written, nothing moved aside left behind; the file in the
  // way is back as it was.
  for (const std::string& name : Listing()) {
    EXPECT_FALSE(IsCipherTempName(name) || IsReplacementTempName(name)) << name;
  }
  if (c.blockedOutput) {
    EXPECT_TRUE(ReadFile(env_.Drive() / "docs" / blockedOutput) == blocking);
  }

  // The files that did not fit stand as before the batch; the others are done.
  for (const FileSpec& f : c.files) {
    const fs::path plain = env_.Drive() / "docs" / f.name;
    const fs::path encrypted = env_.Drive() / "docs" / (f.name + ".qelmenc");
    const bool plainThere = fs::exists(plain) && ReadFile(plain) == originals[f.name];
    if (c.action == 1) {
      EXPECT_EQ(plainThere, !f.fits) << f.name;
      if (f.fits) {
        Opened opened = OpenEncrypted(SuiteEnvironment::Path("docs/" + f.name + ".qelmenc"), Stage() / "out",
                                      platform::Widen("S:\\out"));
        EXPECT_EQ(opened.code, ZQCA_OK) << f.name;
        EXPECT_TRUE(opened.content == originals[f.name]) << f.name;
      } else if (!c.blockedOutput) {
        EXPECT_FALSE(fs::exists(encrypted)) << f.name;
      }
    } else {
      EXPECT_EQ(plainThere, f.fits) << f.name;
      EXPECT_EQ(fs::exists(encrypted), !f.fits) << f.name;
      if (!f.fits) {
        EXPECT_FALSE(fs::exists(plain)) << f.name;
      }
    }
  }
}

// Sizes on a tmpfs count whole 4 KiB pages. In-place encryption needs room
// for the output beside its source until the source goes.
const Case kCases[] = {
    {"encryption fills the disk in the middle of a file", 256, 1, {{"big.bin", 160 * 1024, false}}},
    {"encryption fills the disk in the middle of a batch", 512, 1,
     {{"a.bin", 40 * 1024, true}, {"b.bin", 40 * 1024, true}, {"c.bin", 300 * 1024, false}, {"d.bin", 10 * 1024, true}}},
    {"the redone file of a replacement fills the disk", 256, 1, {{"x.bin", 150 * 1024, false}}, true},
    {"decryption fills the disk", 256, 0, {{"y.bin", 150 * 1024, false}}},
    {"decryption fills the disk in the middle of a batch", 512, 0,
     {{"p.bin", 30 * 1024, true}, {"q.bin", 280 * 1024, false}, {"r.bin", 20 * 1024, true}}},
};

INSTANTIATE_TEST_SUITE_P(Reliability, FullDisk, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return "case" + std::to_string(info.index); });

using platform::FaultPoint;

struct Fault {  // encrypting (1) or not; fault; times (0: a disk that stays full); each failed file's FES (0: any)
  uint32_t action, point, error, times, fes;
};

class FaultSweep : public ::testing::TestWithParam<Fault> {};
void Sweep(const Fault& c);
constexpr uint32_t W = uint32_t(FaultPoint::kWrite), F = uint32_t(FaultPoint::kFlush), N = uint32_t(FaultPoint::kName),
                   D = uint32_t(FaultPoint::kDelete), S = uint32_t(FaultPoint::kSyncFolder),
                   A = uint32_t(FaultPoint::kSetAttributes), C = uint32_t(FaultPoint::kClose),
                   U = uint32_t(FaultPoint::kCreateUnnamed);

// A fault at every call of one kind a batch makes, on any machine and without
// mounting: each file is then done, or reported and kept as it was. Outputs
// are made without a name and, again, under a temporary name.
TEST_P(FaultSweep, EveryFileIsDoneOrReportedAndKept) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed outputs");
    platform::ForceNamedTemporaries(named);
    Sweep(GetParam());
  }
  platform::ForceNamedTemporaries(false);
}

void Sweep(const Fault& c) {
  SuiteEnvironment env;
  cipher::SetKdfParams(kCheapKdf);
  NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
  const std::map<std::string, std::string> originals{{"big.bin", Pattern(200 << 10, 1)}, {"small.txt", "small"}};
  const auto prepare = [&] {  // fresh originals, encrypted first to decrypt
    std::vector<WString> list;
    for (const auto& [name, bytes] : originals) {
      WriteFile(env.Drive() / "docs" / name, bytes);
      list.push_back(SuiteEnvironment::Path("docs/" + name));
    }
    return c.action ? list : RunBatch(list, 1).outputs;
  };
  platform::ClearFaults();
  RunBatch(prepare(), c.action);
  const uint32_t calls = platform::FaultPointCalls(FaultPoint(c.point));  // how many there are to fail
  ASSERT_TRUE(calls > 0 || (c.point == U && platform::FaultPointCalls(FaultPoint::kName) > 0));
  for (uint32_t nth = 1; nth <= calls; ++nth) {
    fs::remove_all(env.Drive() / "docs");
    const std::vector<WString> list = prepare();
    ReportedFailures().clear();
    platform::InjectFault(FaultPoint(c.point), nth, int(c.error), c.times);
    const BatchResult result = RunBatch(list, c.action);
    platform::ClearFaults();
    const auto kept = std::count_if(list.begin(), list.end(), [](auto& p) { return fs::exists(*platform::ToNativePath(p)); });
    EXPECT_EQ(result.succeeded + ReportedFailures().size(), list.size()) << nth;
    EXPECT_EQ(size_t(kept), ReportedFailures().size()) << nth << ": a reported file keeps its source";
    for (const Reported& r : ReportedFailures()) EXPECT_TRUE(!c.fes || r.fes == c.fes) << nth << ": " << r.fes;
    const Verdict v = CheckFolder(env.Drive() / "docs", originals, {}, env.Drive() / "s", WTEXT("C:\\s"), "docs");
    EXPECT_TRUE(v.losses.empty() && v.leftovers.empty()) << nth << testing::PrintToString(v.losses);
  }
}

INSTANTIATE_TEST_SUITE_P(Reliability, FaultSweep,
                         ::testing::ValuesIn(std::vector<Fault>{
                             {1, W, ENOSPC, 0, 1022}, {1, W, EIO, 1, 0}, {1, F, EIO, 1, 0}, {1, N, EIO, 1, 0}, {1, D, EACCES, 1, 1306}, {1, S, EIO, 1, 0},
                             {0, W, ENOSPC, 0, 1022}, {0, F, EIO, 1, 0}, {0, N, EIO, 1, 0}, {0, D, EACCES, 1, 0}, {0, S, EIO, 1, 0},
                             {1, U, EIO, 1, 0}, {0, U, ENOSPC, 0, 1022}, {1, C, EIO, 1, 0}, {0, C, EIO, 1, 0}, {1, A, EACCES, 1, 0}, {0, A, EACCES, 1, 0}}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace halvex::reliability
