// -j on POSIX: each batch is this program again, started with
// --job-channel=3, a socket to the parent on descriptor 3 and its standard
// error a pipe the parent writes out above its progress line. A batch's
// process is in a process group of its own, so Ctrl-C at the terminal reaches
// the parent alone, which tells every batch; a batch whose parent is gone
// stops as if told.
#include "cli/identities.h"
#include "cli/jobs.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "halvex/listener.h"
#include "cli/password.h"
#include "cli/report.h"
#include "cli/signals.h"
#include "platform/console.h"
#include "platform/wide.h"
#include "suite/msgbox/lines.h"
#include "suite/progress/host.h"

extern char** environ;

namespace halvex::cli {
namespace {

constexpr int kChannelFd = 3;
// Message kinds. Up: an event, a question, the report. Down: the job, an
// answer, stop (another batch was stopped), Ctrl-C.
constexpr char kEvent = 'P', kQuestion = 'Q', kReport = 'R';
constexpr char kJob = 'J', kAnswer = 'A', kStop = 'C', kInterrupt = 'I';

// Sends one message whole; false once the other side is gone (never SIGPIPE).
bool Send(int fd, char kind, const std::string& body) {
  WireWriter frame;
  frame.data().push_back(kind);
  frame.Number(static_cast<uint32_t>(body.size()));
  std::string data = std::move(frame.data()) + body;
  for (size_t done = 0; done < data.size();) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Takes the next whole message off the front of buffer, if there is one.
std::optional<std::pair<char, std::string>> TakeMessage(std::string& buffer) {
  if (buffer.size() < 5) return std::nullopt;
  WireReader header(std::string_view(buffer).substr(1, 4));
  const size_t size = *header.Number();
  if (buffer.size() < 5 + size) return std::nullopt;
  std::pair<char, std::string> message{buffer[0], buffer.substr(5, size)};
  buffer.erase(0, 5 + size);
  return message;
}

// Blocking read of one message; nothing at the end of the channel.
std::optional<std::pair<char, std::string>> Receive(int fd, std::string& buffer) {
  for (;;) {
    if (auto message = TakeMessage(buffer)) return message;
    char chunk[65536];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<size_t>(n));
  }
}

InPlaceMode ModeOf(const Options& o) {
  if (o.command == Command::kDecrypt) return o.toTemp ? InPlaceMode::kDecryptToTemp : InPlaceMode::kDecrypt;
  return o.selfExtract ? InPlaceMode::kEncryptSelfExtract : InPlaceMode::kEncrypt;
}

// The options a batch's process needs to answer and write as this one would;
// the files and the password travel on the channel, never in arguments.
std::vector<std::string> ChildArguments(const Options& o) {
  std::vector<std::string> a{"halvex", CommandName(o.command)};
  if (o.selfExtract) a.push_back("--self-extract");
  if (o.toTemp) a.push_back("--to-temp");
  if (o.strict) a.push_back("--strict");
  if (o.noInput) a.push_back("--no-input");
  if (o.stub) a.insert(a.end(), {"--stub", *o.stub});
  a.insert(a.end(), {"--on-exists", o.onExists == ExistsPolicy::kReplace ? "replace"
                                    : o.onExists == ExistsPolicy::kStop  ? "stop"
                                                                         : "skip"});
  a.insert(a.end(), {"--on-error", o.onError == ErrorPolicy::kStop        ? "stop"
                                   : o.onError == ErrorPolicy::kRetryOnce ? "retry-once"
                                                                          : "skip"});
  if (o.command == Command::kEncrypt) {
    a.insert(a.end(), {"--on-hidden", o.onHidden == HiddenPolicy::kEncrypt ? "encrypt" : "skip"});
    a.insert(a.end(), {"--links", o.links == LinksPolicy::kEncrypt ? "encrypt" : "refuse"});
  }
  // Recipient lines are public and identities are named by their files: both
  // may stand in arguments, and each batch must use them as this one would.
  for (const std::string& r : o.recipients) a.insert(a.end(), {"--recipient", r});
  for (const std::string& i : o.identities) a.insert(a.end(), {"--identity", i});
  a.push_back("--job-channel=" + std::to_string(kChannelFd));
  return a;
}

struct Child {
  pid_t pid = -1;
  int channel = -1;  // the parent's end
  int errors = -1;   // the read end of its standard error
  std::string in, err;
  std::optional<BatchReport> report;
  JobSpan span;
};

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Starts one batch's process; false when it cannot be started.
bool Spawn(const Options& o, Child& child) {
  int sockets[2], pipeFds[2];
  // The parent's ends close on exec; the child's ends are closed here right
  // after the start, so no later batch inherits another's channel.
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0) return false;
  if (pipe(pipeFds) != 0) {
    close(sockets[0]), close(sockets[1]);
    return false;
  }
  fcntl(sockets[0], F_SETFD, FD_CLOEXEC);
  fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, sockets[1], kChannelFd);
  if (sockets[1] != kChannelFd) posix_spawn_file_actions_addclose(&actions, sockets[1]);
  if (pipeFds[1] != STDERR_FILENO && pipeFds[1] != kChannelFd) posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::vector<std::string> args = ChildArguments(o);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&child.pid, "/proc/self/exe", &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(sockets[1]);
  close(pipeFds[1]);
  child.channel = sockets[0];
  child.errors = pipeFds[0];
  if (rc != 0) {
    child.pid = -1;
    CloseFd(child.channel);
    CloseFd(child.errors);
    return false;
  }
  return true;
}

std::string Size(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024 && u < 4) bytes /= 1024, ++u;
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

// The one progress line of every batch together: files done, bytes, rate
// and time left, drawn on a terminal at most ten times a second.
class SharedProgress {
 public:
  SharedProgress(std::vector<uint64_t> sizes, bool encrypting)
      : title_(encrypting ? "Encrypting" : "Decrypting"), sizes_(std::move(sizes)), percent_(sizes_.size(), -1),
        shown_(platform::StderrIsTerminal()) {
    for (uint64_t size : sizes_) total_ += size;
  }
  ~SharedProgress() { Hide(); }

  void Note(size_t index, uint32_t kind, int32_t percent) {
    if (index >= sizes_.size()) return;
    if (kind == HALVEX_EVENT_OUTCOME && percent_[index] != 101) {
      percent_[index] = 101, ++done_;
    } else if (kind == HALVEX_EVENT_STARTED && percent_[index] != 101) {
      percent_[index] = 0;
    } else if (kind == HALVEX_EVENT_PERCENT && percent_[index] != 101) {
      percent_[index] = std::clamp(percent, 0, 100);
    }
  }

  void Draw(bool now = false) {
    if (!shown_) return;
    const auto t = Clock::now();
    if (!now && t - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = t;
    double bytes = 0;
    for (size_t i = 0; i < sizes_.size(); ++i)
      if (percent_[i] >= 0) bytes += static_cast<double>(sizes_[i]) * std::min(percent_[i], 100) / 100;
    const double seconds = std::chrono::duration<double>(t - start_).count();
    std::string line = std::string(title_) + "  " + std::to_string(done_) + "/" + std::to_string(sizes_.size()) +
                       " files  " + Size(bytes) + " of " + Size(static_cast<double>(total_));
    if (seconds >= 1 && bytes > 0) {
      const double rate = bytes / seconds;
      const long left = static_cast<long>((static_cast<double>(total_) - bytes) / rate + 0.5);
      char pace[64];
      std::snprintf(pace, sizeof pace, "  %s/s  %ld:%02ld left", Size(rate).c_str(), left / 60, left % 60);
      line += pace;
    }
    const int columns = platform::StderrColumns();
    if (columns > 0 && line.size() >= static_cast<size_t>(columns)) line.resize(static_cast<size_t>(columns) - 1);
    msgbox::SetStatusLine(line);
  }

  void Hide() {
    if (shown_) msgbox::SetStatusLine("");
  }

 private:
  using Clock = std::chrono::steady_clock;
  const char* title_;
  std::vector<uint64_t> sizes_;
  std::vector<int> percent_;  // -1 not started, 101 settled
  uint64_t total_ = 0;
  size_t done_ = 0;
  bool shown_;
  Clock::time_point start_ = Clock::now(), drawn_{};
};

// A batch's side of the channel going up: its events, sent in bundles, and
// its questions and report. One message per event would wake the parent
// several times a file, and on many small files those wakings cost the
// batches a good share of their own time. An event goes at once when none
// went for a while (so a lone one is never held), else with the next; any
// other message sends what is held first. Safe from any thread.
class UpChannel {
 public:
  explicit UpChannel(int fd) : fd_(fd) {}

  void Event(uint32_t kind, uint32_t index, int32_t percent) {
    std::lock_guard lock(mutex_);
    held_.Number(kind).Number(index).Number(static_cast<uint32_t>(percent));
    if (Clock::now() - sent_ >= kEvery) SendHeld();
  }

  // False once the parent is gone.
  bool Message(char kind, const std::string& body) {
    std::lock_guard lock(mutex_);
    SendHeld();
    return Send(fd_, kind, body);
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kEvery = std::chrono::milliseconds(50);

  void SendHeld() {
    if (held_.data().empty()) return;
    Send(fd_, kEvent, held_.data());
    held_.data().clear();
    sent_ = Clock::now();
  }

  int fd_;
  std::mutex mutex_;
  WireWriter held_;
  Clock::time_point sent_{};
};

// A finished process's end in words, for the files of a batch that told nothing.
std::string HowItEnded(int status) {
  if (WIFSIGNALED(status)) return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  return "ended";
}

// Reads what a batch wrote to its standard error and writes its whole lines
// above the progress line. False at its end.
bool RelayErrors(Child& c) {
  char chunk[4096];
  const ssize_t n = read(c.errors, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return true;
  if (n > 0) c.err.append(chunk, static_cast<size_t>(n));
  const size_t last = c.err.rfind('\n');
  if (last != std::string::npos) {
    msgbox::WriteLines(c.err.substr(0, last + 1));
    c.err.erase(0, last + 1);
  }
  if (n > 0) return true;
  if (!c.err.empty()) msgbox::WriteLines(c.err + "\n");
  c.err.clear();
  return false;
}

}  // namespace

std::optional<BatchReport> RunInPlaceSideBySide(const Options& o, const std::vector<InputFile>& files,
                                                const WString* password, InPlaceMode mode) {
  const unsigned n = JobsFor(o.jobs, files.size());
  if (n <= 1) return std::nullopt;
  std::vector<std::string> natives;
  std::vector<uint64_t> sizes;
  for (const auto& f : files) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(f.native, ec);
    natives.push_back(f.native);
    sizes.push_back(ec ? 0 : size);
  }
  const std::vector<JobSpan> spans = SplitByFolder(natives, sizes, n);
  if (spans.size() <= 1) return std::nullopt;

  std::vector<Child> children(spans.size());
  const bool interactive = !o.noInput && platform::StdinIsTerminal();
  for (size_t k = 0; k < spans.size(); ++k) {
    Child& c = children[k];
    c.span = spans[k];
    if (!Spawn(o, c)) {
      // Nothing has run yet when the first cannot start: one batch does it all.
      if (k == 0) return std::nullopt;
      continue;
    }
    WireWriter job;
    job.Number(interactive).Number(password != nullptr);
    std::string secret = password ? platform::ToUtf8(*password) : std::string();
    job.Text(secret);
    Wipe(secret);
    job.Number(static_cast<uint32_t>(c.span.end - c.span.begin));
    for (size_t i = c.span.begin; i < c.span.end; ++i) job.Text(files[i].native).Text(platform::ToUtf8(files[i].library));
    Send(c.channel, kJob, job.data());
    Wipe(job.data());
  }
  (void)mode;

  SharedProgress progress(std::move(sizes), o.command == Command::kEncrypt);
  std::deque<std::pair<size_t, std::string>> questions;
  bool told = false, stopped = false;
  InstallInterruptHandler(true);
  auto tellAll = [&](char kind) {
    for (Child& c : children)
      if (c.channel >= 0 && !c.report) Send(c.channel, kind, "");
  };
  for (;;) {
    if (Interrupted() && !told) tellAll(kInterrupt), told = true;
    std::vector<pollfd> fds;
    std::vector<std::pair<size_t, bool>> owners;  // child, channel (else errors)
    for (size_t k = 0; k < children.size(); ++k) {
      if (children[k].channel >= 0) fds.push_back({children[k].channel, POLLIN, 0}), owners.push_back({k, true});
      if (children[k].errors >= 0) fds.push_back({children[k].errors, POLLIN, 0}), owners.push_back({k, false});
    }
    if (fds.empty()) break;
    const int ready = poll(fds.data(), fds.size(), 100);
    if (ready < 0 && errno != EINTR) break;
    for (size_t j = 0; ready > 0 && j < fds.size(); ++j) {
      if (!(fds[j].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Child& c = children[owners[j].first];
      if (!owners[j].second) {
        if (!RelayErrors(c)) CloseFd(c.errors);
        continue;
      }
      char chunk[65536];
      const ssize_t got = read(c.channel, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        CloseFd(c.channel);
        continue;
      }
      c.in.append(chunk, static_cast<size_t>(got));
      while (auto message = TakeMessage(c.in)) {
        WireReader body(message->second);
        if (message->first == kEvent) {
          // A batch sends its events in bundles (UpChannel).
          for (;;) {
            auto kind = body.Number(), index = body.Number(), percent = body.Number();
            if (!percent) break;
            progress.Note(c.span.begin + *index, *kind, static_cast<int32_t>(*percent));
          }
        } else if (message->first == kQuestion) {
          questions.emplace_back(owners[j].first, message->second);
        } else if (message->first == kReport) {
          c.report = DecodeReport(message->second);
          // A batch stopped by an answer or a policy stops the others too, as
          // the one batch would have stopped before their files.
          if (c.report && c.report->counters.status == 1 && !c.report->interrupted && !stopped && !Interrupted())
            tellAll(kStop), stopped = true;
        }
      }
    }
    // One question at a time, on this terminal; the others wait their turn.
    while (!questions.empty()) {
      auto [k, question] = std::move(questions.front());
      questions.pop_front();
      progress.Hide();
      std::optional<std::string> line = platform::AskLine(question, [] { return progress::CancelRequested(); });
      WireWriter answer;
      answer.Number(line.has_value()).Text(line.value_or(""));
      if (children[k].channel >= 0) Send(children[k].channel, kAnswer, answer.data());
      progress.Draw(true);
    }
    progress.Draw();
  }
  progress.Hide();

  std::vector<std::optional<BatchReport>> parts;
  std::vector<std::string> lost;
  for (Child& c : children) {
    CloseFd(c.channel);
    CloseFd(c.errors);
    int status = 0;
    if (c.pid > 0)
      while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
      }
    parts.push_back(std::move(c.report));
    lost.push_back(c.pid > 0 ? HowItEnded(status) : "it could not be started");
  }
  const bool interrupted = Interrupted();
  RemoveInterruptHandler();
  BatchReport report = MergeReports(files, spans, parts, lost);
  report.interrupted = report.interrupted || interrupted;
  return report;
}

int ServeJob(const Options& o) {
  // The parent may be gone by the time this writes: a write then fails quietly.
  signal(SIGPIPE, SIG_IGN);
  const int fd = *o.jobChannel;
  std::string buffer;
  auto job = Receive(fd, buffer);
  if (!job || job->first != kJob) return kExitUsage;
  WireReader in(job->second);
  auto interactive = in.Number(), hasPassword = in.Number();
  auto secret = in.Text();
  auto count = in.Number();
  if (!count) return kExitUsage;
  std::optional<WString> password;
  if (*hasPassword) password = platform::FromUtf8(*secret);
  Wipe(*secret);
  std::vector<InputFile> files;
  for (uint32_t i = 0; i < *count; ++i) {
    auto native = in.Text(), library = in.Text();
    auto wide = library ? platform::FromUtf8(*library) : std::nullopt;
    if (!native || !wide) return kExitUsage;
    files.push_back({std::move(*native), std::move(*wide)});
  }
  Wipe(job->second);  // it held the password
  // The parent checked these before it started any batch.
  KeyLines recipients = RecipientLines(o.recipients);
  std::string error;
  if (!recipients.error.empty() || !UseRecipients(o, recipients.lines, password.has_value()).empty() ||
      (o.command == Command::kDecrypt && !LoadIdentities(o.identities, error)))
    return kExitUsage;

  // Answers and the parent's word come on the channel while the batch runs.
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<std::optional<std::string>> answers;
  bool ended = false;
  std::thread listener([&] {
    for (;;) {
      auto message = Receive(fd, buffer);
      if (!message || message->first == kInterrupt) InterruptFromParent();
      if (message && message->first == kStop) progress::SetCancel(true);
      std::lock_guard lock(mutex);
      if (message && message->first == kAnswer) {
        WireReader body(message->second);
        auto has = body.Number();
        auto line = body.Text();
        answers.push_back(has && *has && line ? line : std::nullopt);
      }
      if (!message) {
        ended = true;
        arrived.notify_all();
        return;
      }
      arrived.notify_all();
    }
  });
  UpChannel up(fd);
  progress::SetInteractive(*interactive != 0);
  progress::SetAnswerSource([&](const std::string& question) -> std::optional<std::string> {
    if (!up.Message(kQuestion, question)) return std::nullopt;
    std::unique_lock lock(mutex);
    arrived.wait(lock, [&] { return ended || !answers.empty(); });
    if (answers.empty()) return std::nullopt;
    auto answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  });
  SetEventTap([&](uint32_t kind, uint32_t index, int32_t percent) {
    if (kind != HALVEX_EVENT_STARTED && kind != HALVEX_EVENT_PERCENT && kind != HALVEX_EVENT_OUTCOME) return;
    up.Event(kind, index, percent);
  });

  BatchReport report = RunInPlace(files, password ? &*password : nullptr, ModeOf(o));
  if (password) Wipe(*password);
  SetEventTap({});
  progress::SetAnswerSource({});
  up.Message(kReport, EncodeReport(report));
  // The parent closes its end once it has the report; that ends the listener.
  shutdown(fd, SHUT_WR);
  listener.join();
  return ExitStatusOf(report);
}

}  // namespace halvex::cli
