// The progress library: the cancel flag, the answers without and with a user, the lock, the line.
#include "suite/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

#include "halvex/host.h"
#include "suite/progress/host.h"

namespace fs = std::filesystem;
namespace hp = halvex::progress;

namespace {

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-progress-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    setenv("HALVEX_CONFIG", (dir_ / "settings.ini").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    hp::SetCancel(false);
    hp::SetInteractive(false);
    hp::SetPolicies(hp::Choice::kSkip, hp::Choice::kSkip, hp::ErrorChoice::kSkip);
  }
  void TearDown() override {
    if (window_) Encryption_Progress_ReleaseForm(&window_);
    FF_UI_ReleaseMutex(&ui_);
    hp::SetCancel(false);
    hp::ClearInteractiveOverride();
    hp::SetAnswerSource({});
    HalvexSetQuiet(0);
    unsetenv("HALVEX_CONFIG");
    unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(dir_);
  }
  int32_t Check() {
    ui_.hWnd = window_;
    ui_.nResult = -1;
    Encryption_Progress_CheckButton(&ui_);
    return ui_.nResult;
  }
  int32_t Prompt(int32_t question, int32_t more = 1) {
    FF_ReplaceHiddenForm_Show(1, WTEXT("C:\\a.doc"), question, more, &ui_);
    return ui_.nResult;
  }
  int32_t Error(const WCHAR* name) {
    FF_HandleErrorMsg_Show(name, 1306, 0, &ui_);
    return ui_.nResult;
  }
  // Answers typed by the user, one per question; nothing once they run out.
  void Type(std::deque<std::string> lines) {
    hp::SetInteractive(true);
    auto queue = std::make_shared<std::deque<std::string>>(std::move(lines));
    hp::SetAnswerSource([queue](const std::string&) -> std::optional<std::string> {
      if (queue->empty()) return std::nullopt;
      std::string line = queue->front();
      queue->pop_front();
      return line;
    });
  }

  fs::path dir_;
  void* window_ = nullptr;
  tagUIEXCHANGE ui_{};
};

TEST_F(ProgressTest, CancelFlagReadsBackAsSixUnlessTheButtonIsDisabled) {
  Encryption_Progress_Create(&window_);
  ASSERT_NE(nullptr, window_);
  EXPECT_EQ(0, Check());
  hp::SetCancel(true);
  EXPECT_EQ(6, Check());
  EXPECT_EQ(6, Check()) << "the flag stays until the host clears it";
  hp::SetCancel(false);
  EXPECT_EQ(0, Check());

  hp::SetCancel(true);
  Encryption_Progress_SetButtonDisable(&window_);
  EXPECT_EQ(0, Check());
  Encryption_Progress_ReleaseForm(&window_);
  EXPECT_EQ(nullptr, window_);

  Decryption_Progress_Create(&window_);
  ui_.hWnd = window_;
  Decryption_Progress_CheckButton(&ui_);
  EXPECT_EQ(6, ui_.nResult) << "a new window's button is enabled";
  Decryption_Progress_ReleaseForm(&window_);
}

TEST_F(ProgressTest, PoliciesAnswerWhenNobodyIsThere) {
  struct Case {
    hp::Choice exists, hidden;
    int32_t existsCode, hiddenCode;
  } cases[] = {
      {hp::Choice::kSkip, hp::Choice::kSkip, 5, 5},
      {hp::Choice::kYes, hp::Choice::kStop, 4, 2},
      {hp::Choice::kStop, hp::Choice::kYes, 2, 4},
  };
  for (const Case& c : cases) {
    hp::SetPolicies(c.exists, c.hidden, hp::ErrorChoice::kSkip);
    EXPECT_EQ(c.existsCode, Prompt(1));
    EXPECT_EQ(c.hiddenCode, Prompt(2));
  }
}

TEST_F(ProgressTest, ErrorPolicyRetriesEachFileOnceThenSkips) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(11, Error(WTEXT("a")));
  hp::SetPolicies(hp::Choice::kSkip, hp::Choice::kSkip, hp::ErrorChoice::kStop);
  EXPECT_EQ(6, Error(WTEXT("a")));
  hp::SetPolicies(hp::Choice::kSkip, hp::Choice::kSkip, hp::ErrorChoice::kRetryOnce);
  EXPECT_EQ(10, Error(WTEXT("a")));
  EXPECT_EQ(11, Error(WTEXT("a")));
  EXPECT_EQ(10, Error(WTEXT("b")));
  Encryption_Progress_Create(&window_);  // a new batch
  EXPECT_EQ(10, Error(WTEXT("a")));
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, said.find("could not delete the source file (1306, 0): a (skipped)")) << said;
}

TEST_F(ProgressTest, EveryAnswerCanBeTypedAndEndOfInputFallsBackToThePolicy) {
  struct Case {
    const char* typed;
    int32_t prompt, error;
  } cases[] = {
      {"y", 4, -1}, {"n", 5, -1}, {"a", 16, -1}, {"S", 17, 11}, {"c", 2, 6}, {"r", -1, 10}, {"  yes ", 4, -1},
      {"Skip All", 17, -1}, {"retry", -1, 10},
  };
  for (const Case& c : cases) {
    if (c.prompt >= 0) {
      Type({"?", "", "yn", "yess", c.typed});  // anything but one offered answer asks again
      EXPECT_EQ(c.prompt, Prompt(2)) << c.typed;
    }
    if (c.error >= 0) {
      Type({"x", "rs", c.typed});
      EXPECT_EQ(c.error, Error(WTEXT("f"))) << c.typed;
    }
  }
  hp::SetPolicies(hp::Choice::kYes, hp::Choice::kSkip, hp::ErrorChoice::kStop);
  Type({});
  EXPECT_EQ(4, Prompt(1));
  testing::internal::CaptureStderr();
  EXPECT_EQ(6, Error(WTEXT("f")));
  testing::internal::GetCapturedStderr();
}

// FF_UI_InitMutex in a child process: its result and nResult, as the exit code.
int ChildTakesMutex() {
  pid_t pid = fork();
  if (pid == 0) {
    tagUIEXCHANGE ui{};
    int32_t got = FF_UI_InitMutex(1, &ui);
    _exit(got * 100 + ui.nResult);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ProgressTest, MutexKeepsOtherProcessesOutUntilReleased) {
  ASSERT_EQ(1, FF_UI_InitMutex(1, &ui_));
  EXPECT_EQ(0, ui_.nResult);
  EXPECT_EQ(19, ChildTakesMutex()) << "0 with nResult 19";
  tagUIEXCHANGE again{};
  EXPECT_EQ(0, FF_UI_InitMutex(1, &again)) << "a second batch of this process waits its turn too";
  EXPECT_EQ(19, again.nResult);
  FF_UI_ReleaseMutex(&ui_);
  EXPECT_EQ(100, ChildTakesMutex()) << "released: the next one gets it";
}

// Runs the window calls with stderr on fd and returns what was written there.
std::string WindowOutput(int writeFd, int readFd) {
  fflush(stderr);
  int saved = dup(STDERR_FILENO);
  dup2(writeFd, STDERR_FILENO);
  void* window = nullptr;
  Encryption_Progress_Create(&window);
  Encryption_Progress_SetFileName(WTEXT("...plan.doc"), &window);  // not shown yet: nothing
  Encryption_Progress_Show(&window);
  Encryption_Progress_SetPercent(42, &window);
  Encryption_Progress_Hide(&window);
  Encryption_Progress_SetPercent(43, &window);  // hidden: nothing
  Encryption_Progress_ReleaseForm(&window);
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(writeFd);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(readFd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(readFd);
  return out;
}

TEST_F(ProgressTest, LineIsDrawnOnlyOnATerminalUnlessTheHostIsQuiet) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  EXPECT_EQ("", WindowOutput(fds[1], fds[0])) << "stderr is not a terminal";

  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) GTEST_SKIP() << "no pseudo-terminal here";
  fcntl(master, F_SETFL, O_NONBLOCK);
  std::string out = WindowOutput(slave, master);
  EXPECT_NE(std::string::npos, out.find("Encrypting ...plan.doc")) << out;
  EXPECT_NE(std::string::npos, out.find("42%")) << out;
  EXPECT_EQ(std::string::npos, out.find("43%")) << out;

  HalvexSetQuiet(1);
  ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
  fcntl(master, F_SETFL, O_NONBLOCK);
  EXPECT_EQ("", WindowOutput(slave, master)) << "a quiet host's terminal stays clean";
}

}  // namespace
