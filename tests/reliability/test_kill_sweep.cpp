// Kill sweep: the scenario's batches are killed with SIGKILL at points spread
// over their whole run, and after every kill each original file must still
// be there, plain or inside a complete encrypted file that opens, or both.
//
// SIGKILL ends the process, not the machine: written data stays in the page
// cache, so this proves the order of the steps (write, flush, rename, only
// then delete the source), not what a power cut would leave.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "tests/reliability/kill_scenario.h"

namespace halvex::reliability {
namespace {

struct DriverRun {
  bool killed = false;  // by SIGKILL
  int exitCode = -1;
  std::string output;
};

DriverRun RunDriver(uint64_t killAt, const fs::path& outputFile, bool named = false) {
  pid_t pid = fork();
  if (pid == 0) {
    if (killAt) setenv("HALVEX_KILL_AT", std::to_string(killAt).c_str(), 1);
    else unsetenv("HALVEX_KILL_AT");
    if (named) setenv("HALVEX_KILL_NAMED", "1", 1);
    else unsetenv("HALVEX_KILL_NAMED");
    int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) dup2(fd, STDOUT_FILENO), dup2(fd, STDERR_FILENO);
    execl(HALVEX_KILL_DRIVER, HALVEX_KILL_DRIVER, static_cast<char*>(nullptr));
    _exit(127);
  }
  DriverRun run;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return run;
  run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.output = ReadFile(outputFile);
  return run;
}

// The driver's "ops N" line, among the suite's messages on stderr.
uint64_t OpsOf(const std::string& output) {
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("ops ", 0) == 0) return std::stoull(line.substr(4));
  return 0;
}

// Every point in a long run; otherwise 100 spread evenly over the batch,
// first and last included.
std::vector<uint64_t> KillPoints(uint64_t ops) {
  std::vector<uint64_t> points;
  const uint64_t wanted = Long() ? ops : std::min<uint64_t>(ops, 100);
  for (uint64_t k = 0; k < wanted; ++k)
    points.push_back(wanted == 1 ? 1 : 1 + k * (ops - 1) / (wanted - 1));
  points.erase(std::unique(points.begin(), points.end()), points.end());
  return points;
}

class KillSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    originals_ = scenario::Originals();
    standIns_[scenario::kDecoyName] = scenario::DecoyBytes();
    MakeTemplate();
    // A file moved out of an output's way holds what stood there: the
    // older encrypted copy, or the decoy; empty, it is the name's reservation.
    movedAside_ = {ReadFile(Template() / scenario::kBlockedOutput), scenario::DecoyBytes(), ""};
  }

  fs::path Work() const { return env_.Drive() / scenario::kFolder; }
  fs::path Template() const { return env_.Root() / "template"; }

  // The folder every run starts from: the originals, and an older encrypted
  // copy of one of them standing where its output will go.
  void MakeTemplate() {
    for (const auto& [name, bytes] : originals_) WriteFile(Work() / name, bytes);
    WriteFile(env_.Drive() / "old" / scenario::kBlockedName, scenario::OlderVersion());
    uint32_t error = 0;
    WString password = Password();
    BYTE* key = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), 24, &error);
    ASSERT_EQ(error, 0u);
    std::array<WCHAR, MAX_PATH> destination{};
    WString target = SuiteEnvironment::Path(scenario::kFolder + "/" + scenario::kBlockedOutput);
    std::copy(target.begin(), target.end(), destination.begin());
    WString source = SuiteEnvironment::Path("old/" + scenario::kBlockedName);
    ASSERT_EQ(ZQCA_DualPasswordFileEncryptW(source.c_str(), destination.data(), key, nullptr, 24, false, nullptr),
              ZQCA_OK);
    ZQCA_FreeMemory(key);
    fs::copy(Work(), Template(), fs::copy_options::recursive);
  }

  void ResetWork() {
    fs::remove_all(Work());
    fs::copy(Template(), Work(), fs::copy_options::recursive);
  }

  Verdict Check() {
    return CheckFolder(Work(), originals_, standIns_, env_.Drive() / "scratch", SuiteEnvironment::Path("scratch"),
                       scenario::kFolder, &movedAside_);
  }

  SuiteEnvironment env_{SuiteEnvironment::FastBase()};
  std::map<std::string, std::string> originals_;
  std::map<std::string, std::string> standIns_;
  std::set<std::string> movedAside_;
};

// The checker itself, on folders made to break the promise in each way.
TEST_F(KillSweep, CheckerTellsLossesFromSafeStates) {
  const std::string name = "photo.bin";
  const std::string bytes = originals_.at(name);
  ResetWork();
  DriverRun run = RunDriver(0, env_.Root() / "driver.out");  // makes the key store
  ASSERT_EQ(run.exitCode, 0);
  // An encrypted copy of the original, made as phase 1 would.
  RunBatch({SuiteEnvironment::Path(scenario::kFolder + "/" + name)}, 1);
  const std::string encryptedName = name + ".qelmenc";
  const std::string encrypted = ReadFile(Work() / encryptedName);
  ASSERT_FALSE(encrypted.empty());

  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
    bool loss;
  };
  std::string flipped = encrypted;
  flipped[flipped.size() / 2] ^= 1;
  const std::vector<Case> cases = {
      {"plain only", {{name, bytes}}, false},
      {"encrypted only", {{encryptedName, encrypted}}, false},
      {"both", {{name, bytes}, {encryptedName, encrypted}}, false},
      {"plain and a cipher temporary file", {{name, bytes}, {".hvx-0123abcd.tmp", "x"}}, false},
      {"neither", {}, true},
      {"only a temporary file holding it", {{".hvx-0123abcd.tmp", encrypted}}, true},
      {"plain cut short", {{name, bytes.substr(0, 1000)}}, true},
      {"encrypted cut short", {{encryptedName, encrypted.substr(0, encrypted.size() - 100)}}, true},
      {"plain intact beside a damaged encrypted file", {{name, bytes}, {encryptedName, flipped}}, true},
      {"plain beside a moved-aside file that held it up", {{name, bytes}, {"jurTmpA1.TMP", scenario::DecoyBytes()}}, false},
      {"plain beside a moved-aside file holding something else", {{name, bytes}, {"jurTmpA1.TMP", "x"}}, true},
  };
  for (const Case& c : cases) {
    fs::remove_all(Work());
    fs::create_directories(Work());
    for (const auto& [file, content] : c.files) WriteFile(Work() / file, content);
    Verdict verdict = CheckFolder(Work(), {{name, bytes}}, {}, env_.Drive() / "scratch",
                                  SuiteEnvironment::Path("scratch"), scenario::kFolder, &movedAside_);
    EXPECT_EQ(!verdict.losses.empty(), c.loss) << c.what;
  }
}

TEST_F(KillSweep, UninterruptedRunRestoresEveryFileAndLeavesNothingBehind) {
  ResetWork();
  DriverRun run = RunDriver(0, env_.Root() / "driver.out");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_GT(OpsOf(run.output), 0u);
  // Six encrypted, one of them after a retry; six decrypted likewise, one
  // of them from a copy of its busy source.
  EXPECT_NE(run.output.find("encrypted 6 skipped 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("decrypted 6 skipped 0 remaining 0"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("retry copies 1"), std::string::npos) << run.output;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Work())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected;
  for (const auto& [name, bytes] : originals_) expected.push_back(name);
  EXPECT_EQ(names, expected);
  for (const auto& [name, bytes] : originals_) EXPECT_EQ(ReadFile(Work() / name), bytes) << name;
}

// Outputs made without a name, and again under a temporary name.
class KillSweepBothWays : public KillSweep, public ::testing::WithParamInterface<bool> {};

TEST_P(KillSweepBothWays, NoKillPointLosesAFile) {
  const bool named = GetParam();
  ResetWork();
  DriverRun clean = RunDriver(0, env_.Root() / "driver.out", named);
  ASSERT_EQ(clean.exitCode, 0) << clean.output;
  const uint64_t ops = OpsOf(clean.output);
  ASSERT_GE(ops, 100u) << "the batch is too short to be interrupted at 100 points";

  std::vector<uint64_t> points = KillPoints(ops);
  int filesChecked = 0, losses = 0, killed = 0, withCipherTemp = 0, withMovedAside = 0;
  for (uint64_t point : points) {
    ResetWork();
    DriverRun run = RunDriver(point, env_.Root() / "driver.out", named);
    EXPECT_TRUE(run.killed) << "point " << point << " of " << ops << " was not reached";
    killed += run.killed;
    Verdict verdict = Check();
    filesChecked += verdict.filesChecked;
    losses += static_cast<int>(verdict.losses.size());
    for (const std::string& loss : verdict.losses) ADD_FAILURE() << "point " << point << ": " << loss;
    bool cipherTemp = false, movedAside = false;
    for (const std::string& name : verdict.leftovers) {
      cipherTemp |= IsCipherTempName(name);
      movedAside |= IsReplacementTempName(name) || IsDeleteAsideName(name);
    }
    withCipherTemp += cipherTemp;
    withMovedAside += movedAside;
  }
  std::printf("kill sweep: %s, %llu operations in the batch, %zu points tried, %d killed, %d files checked, "
              "%d losses; leftovers: cipher temporary file after %d kills, moved-aside file after %d kills\n",
              named ? "named temporaries" : "unnamed outputs", static_cast<unsigned long long>(ops), points.size(),
              killed, filesChecked, losses, withCipherTemp, withMovedAside);
  EXPECT_GE(points.size(), 100u);
  EXPECT_EQ(losses, 0);
}

INSTANTIATE_TEST_SUITE_P(Reliability, KillSweepBothWays, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

}  // namespace
}  // namespace halvex::reliability
