// The halvex command run as users run it, on real folders: each test gets a
// fresh folder, key store, settings and temporary folder of its own.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/immutable.h"

extern char** environ;

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

struct FileSnapshot {
  std::string content;
  int64_t mtime = 0;
  bool operator==(const FileSnapshot&) const = default;
};
using TreeSnapshot = std::map<std::string, FileSnapshot>;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string s(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  return s;
}

std::string Bytes(size_t size, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::string s(size, '\0');
  for (size_t i = 0; i < size; i += 8) {
    const uint64_t word = gen();
    std::memcpy(s.data() + i, &word, std::min<size_t>(8, size - i));
  }
  return s;
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "halvex-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    data_ = root_ / "data";
    fs::create_directories(data_);
    fs::create_directories(root_ / "run");
    UseKeyStore("keys/main");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void UseKeyStore(const std::string& rel) { keystore_ = root_ / rel; }

  // The environment of the command: ours, without anything of the caller's
  // that would point it elsewhere.
  std::vector<std::string> Environment(const std::vector<std::string>& extra) const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("HALVEX_", 0) == 0 || v.rfind("XDG_", 0) == 0 || v.rfind("HOME=", 0) == 0 ||
          v.rfind("LSAN_OPTIONS=", 0) == 0)
        continue;
      env.push_back(v);
    }
    env.push_back("HALVEX_KEYSTORE=" + keystore_.string());
    env.push_back("HALVEX_CONFIG=" + (root_ / "config/settings.ini").string());
    env.push_back("XDG_RUNTIME_DIR=" + (root_ / "run").string());
    env.push_back("HOME=" + (root_ / "home").string());
    // In a sanitizer build: what libgcrypt holds until exit is not a leak.
    env.push_back("LSAN_OPTIONS=suppressions=" HALVEX_LSAN_SUPPRESSIONS);
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  // In a child process: becomes the command.
  [[noreturn]] void Exec(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env = Environment(extraEnv);
    std::vector<char*> argv{const_cast<char*>(HALVEX_CLI_PATH)}, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr), envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }

  // Starts the command detached from any terminal, stdin empty.
  pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    const std::string out = (root_ / "stdout").string(), err = (root_ / "stderr").string();
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      int in = open("/dev/null", O_RDONLY);
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0), dup2(o, 1), dup2(e, 2);
      Exec(args, extraEnv);
    }
    return pid;
  }

  Outcome Wait(pid_t pid) {
    int raw = 0;
    waitpid(pid, &raw, 0);
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.out = ReadFile(root_ / "stdout");
    r.err = ReadFile(root_ / "stderr");
    return r;
  }

  Outcome Halvex(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
    return Wait(Spawn(args, extraEnv));
  }

  // Runs the command on a pseudo-terminal (of that many columns, when
  // given), typing each answer once its prompt has appeared after the
  // previous one; out holds all it showed.
  Outcome OnTerminal(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& dialogue, unsigned short columns = 0) {
    int master = -1;
    struct winsize size {};
    size.ws_row = 24, size.ws_col = columns;
    pid_t pid = forkpty(&master, nullptr, nullptr, columns ? &size : nullptr);
    if (pid == 0) Exec(args, {});
    Outcome r;
    auto readMore = [&] {
      pollfd p{master, POLLIN, 0};
      char buf[4096];
      ssize_t n = poll(&p, 1, 30000) > 0 ? read(master, buf, sizeof buf) : -1;
      if (n > 0) r.out.append(buf, static_cast<size_t>(n));
      return n > 0;
    };
    size_t seen = 0;
    for (const auto& [prompt, answer] : dialogue) {
      while (r.out.find(prompt, seen) == std::string::npos && readMore()) {}
      if (r.out.find(prompt, seen) == std::string::npos) break;
      seen = r.out.find(prompt, seen) + prompt.size();
      const std::string line = answer + "\n";
      EXPECT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    while (readMore()) {}
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
  }

  std::string PasswordFile(const std::string& password) {
    fs::path p = root_ / ("pw-" + std::to_string(passwordFiles_++));
    std::ofstream(p) << password << "\n";
    return p.string();
  }

  void Write(const std::string& rel, const std::string& content, int64_t mtime = 1500000000) {
    fs::path p = data_ / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    // Nanoseconds too: a restore must not round them to the header's 100 ns.
    struct timespec times[2] = {{mtime, 0}, {mtime, static_cast<long>(mtime % 1000) * 1000001 + 7}};
    utimensat(AT_FDCWD, p.c_str(), times, 0);
  }

  // Runs a shell command line in the data folder with the command's
  // environment; $HALVEX names the command.
  Outcome Shell(const std::string& line) {
    std::vector<std::string> extra{std::string("HALVEX=") + HALVEX_CLI_PATH};
    pid_t pid = fork();
    if (pid == 0) {
      setsid();
      const std::string out = (root_ / "stdout").string(), err = (root_ / "stderr").string();
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open("/dev/null", O_RDONLY);
      dup2(in, 0), dup2(o, 1), dup2(e, 2);
      if (chdir(root_.c_str()) != 0) _exit(126);
      std::vector<std::string> env = Environment(extra);
      std::vector<char*> envp;
      for (auto& v : env) envp.push_back(v.data());
      envp.push_back(nullptr);
      const char* argv[] = {"/bin/bash", "-o", "pipefail", "-c", line.c_str(), nullptr};
      execve(argv[0], const_cast<char**>(argv), envp.data());
      _exit(127);
    }
    return Wait(pid);
  }

  // What stat and getfattr say of everything under the data folder, the
  // folders included: names, modes, owners, nanosecond times, attributes.
  std::string Metadata() {
    Outcome r = Shell("cd data && find . -mindepth 1 -print0 | sort -z | xargs -0 stat -c '%n %F %a %u:%g %U:%G %y' "
                      "&& getfattr -R -d -m - . 2>/dev/null | grep -v '^$' || true");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TreeSnapshot Snapshot() const {
    TreeSnapshot s;
    for (const auto& e : fs::recursive_directory_iterator(data_)) {
      if (!e.is_regular_file()) continue;
      struct stat st {};
      stat(e.path().c_str(), &st);
      s[fs::relative(e.path(), data_).string()] = {ReadFile(e.path()), st.st_mtim.tv_sec};
    }
    return s;
  }

  // status --json of every file under the data folder: path -> state.
  std::map<std::string, std::string> States() {
    Outcome r = Halvex({"status", "-r", "--json", data_.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> states;
    const json j = json::parse(r.out);
    for (const auto& f : j["files"])
      states[fs::relative(f["path"].get<std::string>(), data_).string()] = f["state"];
    return states;
  }

  fs::path root_, data_, keystore_;
  int passwordFiles_ = 0;
};

TEST_F(CommandTest, EncryptThenDecryptTreeRestoresEveryByteAndTime) {
  const std::pair<const char*, size_t> files[] = {
      {"empty", 0},           {"one", 1},           {"a/chunk-less-one", 65535},
      {"a/chunk", 65536},     {"a/b/chunk-plus-one", 65537}, {"a/b/c/big.bin", 300000},
      {"report.doc", 1234},   {"sp ace \xc3\xa9t\xc3\xa9.txt", 77}, {".hidden", 42},
      // Legal here, refused or rewritten by Windows: each comes back byte for byte.
      {"meeting 10:30.txt", 5}, {"back\\slash", 6},  {"all*?\"<>|", 7},  {"bad\xff\xfe utf8", 8},
      {"trailing.", 9},         {"trailing ", 10},    {"...", 11},         {"con.txt", 12},
      {"tab\tnew\nline", 13},  {"pua \xef\x80\xba\xef\x80\xae", 14}, {"sur \xed\xb2\x80", 15}};
  unsigned seed = 1;
  for (auto [name, size] : files) {
    Write(name, Bytes(size, seed), 1500000000 + seed);
    ++seed;
  }
  // What a backup or sync tool compares besides the bytes: modes, owners (a
  // superuser restores them), extended attributes and POSIX ACLs.
  fs::permissions(data_ / "report.doc", fs::perms(0640));
  fs::permissions(data_ / "a/chunk", fs::perms(04755));
  setxattr((data_ / "one").c_str(), "user.origin", "camera 2", 8, 0);
  if (geteuid() == 0) {
    EXPECT_EQ(chown((data_ / "one").c_str(), 65534, 65534), 0);
    EXPECT_EQ(chown((data_ / "a/chunk").c_str(), 65534, 65534), 0);
    fs::permissions(data_ / "a/chunk", fs::perms(04755));  // chown cleared the set-id bit
    // user::rw- user:65534:r-- group::r-- mask::r-- other::---
    const uint32_t acl[] = {2, 0x00060001, 0xffffffff, 0x00040002, 65534, 0x00040004, 0xffffffff,
                            0x00040010, 0xffffffff, 0x00000020, 0xffffffff};
    setxattr((data_ / "report.doc").c_str(), "system.posix_acl_access", acl, sizeof acl, 0);
  }
  for (const char* folder : {"a", "a/b", "a/b/c"}) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {1400000000, 123456789}};
    utimensat(AT_FDCWD, (data_ / folder).c_str(), times, 0);
  }
  const TreeSnapshot before = Snapshot();
  const std::string metadataBefore = Metadata();

  Outcome enc = Halvex({"encrypt", "-r", "--on-hidden", "encrypt", data_.string()});
  ASSERT_EQ(enc.status, 0) << enc.out << enc.err;
  auto states = States();
  EXPECT_EQ(states.size(), before.size());
  for (const auto& [name, state] : states) {
    EXPECT_EQ(state, "encrypted") << name;
    EXPECT_EQ(before.count(name), 0u) << name << " still stands under its plain name";
  }
  // Run again, as after Ctrl-C: what is encrypted already is counted, not failed.
  Outcome again = Halvex({"encrypt", "-r", "--on-hidden", "encrypt", data_.string()});
  EXPECT_EQ(again.status, 0) << again.out << again.err;
  EXPECT_NE(again.out.find(std::to_string(before.size()) + " files were already encrypted and were left alone"),
            std::string::npos) << again.out;

  Outcome dec = Halvex({"decrypt", "-r", data_.string()});
  ASSERT_EQ(dec.status, 0) << dec.out << dec.err;
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Metadata(), metadataBefore);
}

// tar c | halvex encrypt - | halvex decrypt - | tar x, and streams that must
// not pass: cut, altered, or opened with the wrong password.
TEST_F(CommandTest, StreamsThroughPipesRoundTripAndACutStreamFails) {
  Write("tree/a.txt", Bytes(100000, 1));
  Write("tree/b/c.bin", Bytes(3 * 1024 * 1024 + 5, 2));
  const std::string pw = PasswordFile("pipe secret"), wrong = PasswordFile("not it");
  Outcome round = Shell("tar cf - -C data tree | $HALVEX encrypt --password-file " + pw +
                        " - > tree.tar.hvx && mkdir back && $HALVEX decrypt --password-file " + pw +
                        " - < tree.tar.hvx | tar xf - -C back && diff -r data/tree back/tree");
  ASSERT_EQ(round.status, 0) << round.err;
  // The file a pipe made opens as any encrypted file, under the output's name.
  fs::copy_file(root_ / "tree.tar.hvx", root_ / "copy.hvx");
  ASSERT_EQ(Halvex({"decrypt", "--password-file", pw, (root_ / "copy.hvx").string()}).status, 0);
  EXPECT_TRUE(fs::exists(root_ / "tree.tar"));

  const uintmax_t size = fs::file_size(root_ / "tree.tar.hvx");
  struct Case {
    const char* what;
    std::string input;  // a shell command writing the stream to stdout
    std::string options;
    const char* message;
    bool holdsBack;
  } cases[] = {
      {"cut at a chunk's end", "head -c " + std::to_string(size - 65552) + " tree.tar.hvx", "",
       "damaged or cut short: nothing was written", true},
      {"cut unverified", "head -c " + std::to_string(size - 100) + " tree.tar.hvx", "--stream-unverified",
       "what was written before the damage is incomplete", false},
      {"a byte changed", "{ head -c 5000 tree.tar.hvx; printf x; tail -c +5002 tree.tar.hvx; }", "",
       "nothing was written", true},
      // On another key store: this one's key would open it without a password.
      {"the wrong password", "cat tree.tar.hvx", "wrong", "wrong password", true},
      {"not encrypted", "cat tree.tar", "", "not an encrypted file", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string keys = "--password-file " + (c.options == "wrong" ? wrong + " --no-input" : pw + " " + c.options);
    const std::string store = c.options == "wrong" ? "HALVEX_KEYSTORE=$PWD/keys/other " : "";
    Outcome r = Shell(c.input + " | " + store + "$HALVEX decrypt " + keys + " - > out.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    if (c.holdsBack) {
      EXPECT_EQ(fs::file_size(root_ / "out.bin"), 0u);
    }
  }
}

// A program's own whole-file flock, shared or exclusive, is not a share mode
// of ours: the file is encrypted, never skipped as in use.
TEST_F(CommandTest, AnOrdinaryFlockHolderDoesNotMakeAFileInUse) {
  for (int how : {LOCK_SH, LOCK_EX}) {
    Write("held.txt", "held by a reader or a writer");
    const int fd = open((data_ / "held.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(fd, how | LOCK_NB), 0);
    Outcome r = Halvex({"encrypt", (data_ / "held.txt").string()});
    close(fd);
    EXPECT_EQ(r.status, 0) << how << r.out << r.err;
    EXPECT_EQ(States(), (std::map<std::string, std::string>{{"held.txtENX", "encrypted"}})) << how;
    fs::remove(data_ / "held.txtENX");
  }
}

TEST_F(CommandTest, HiddenFilesAndFoldersAreLeftPlainUnlessAskedFor) {
  Write("visible.txt", "seen");
  Write(".secret", "unseen");
  Write("repo/.git/objects/abc", "object");
  Write(".ssh/id_rsa", "key");
  Outcome r = Halvex({"encrypt", "-r", "--no-input", "--json", data_.string()});
  EXPECT_EQ(r.status, 1) << r.err;
  auto states = States();
  for (const char* name : {".secret", "repo/.git/objects/abc", ".ssh/id_rsa"}) EXPECT_EQ(states[name], "plain") << name;
  EXPECT_EQ(ReadFile(data_ / "repo/.git/objects/abc"), "object");
  json j = json::parse(r.out);
  ASSERT_EQ(j["files"].size(), 2u) << "files in hidden folders are not in the list";
  for (const auto& f : j["files"])
    if (f["path"].get<std::string>().ends_with(".secret")) {
      EXPECT_EQ(f["status"], "skipped");
      EXPECT_NE(f["reason"].get<std::string>().find("hidden"), std::string::npos) << f["reason"];
    }
  EXPECT_EQ(j["summary"], json::parse(R"({"succeeded": 1, "skipped": 1, "passed_over": 0, "failed": 0, "cancelled": 0,
      "rolled_back": 0, "not_encrypted": 0, "already_encrypted": 0, "hidden_folders": 2, "hidden_folder_files": 2})"));
  EXPECT_NE(r.err.find("2 hidden folders (2 files) left alone; --hidden includes them"), std::string::npos) << r.err;

  // Left out by default is no failure; --hidden takes them, decrypt -r goes everywhere.
  Write("more.txt", "more");
  EXPECT_EQ(Halvex({"encrypt", "-r", "--no-input", (data_ / "repo").string(), (data_ / "more.txt").string()}).status, 0);
  EXPECT_EQ(Halvex({"encrypt", "-r", "--hidden", (data_ / "repo").string()}).status, 0);
  EXPECT_EQ(States()["repo/.git/objects/abc.qelmenc"], "encrypted");
  EXPECT_EQ(Halvex({"decrypt", "-r", data_.string()}).status, 0);
  EXPECT_EQ(ReadFile(data_ / "repo/.git/objects/abc"), "object");
}

// A file restores under the name stored in it; one that came under another
// name never replaces the user's file of the stored name, whatever the policy.
TEST_F(CommandTest, ARenamedFileNeverReplacesAFileOfAnotherName) {
  const std::string pw = PasswordFile("shared");
  Write("notes.txt", "sender's notes");
  Write("other.txt", "encrypted other");
  ASSERT_EQ(Halvex({"encrypt", "-r", "--password-file", pw, data_.string()}).status, 0);
  fs::rename(data_ / "notes.txtENX", data_ / "invoice.pdfENX");
  Write("notes.txt", "the user's notes");
  Write("other.txt", "replaced: the output of its own name");

  Outcome r = Halvex({"decrypt", "-r", "--no-input", "--on-exists", "replace", "--json", "--password-file", pw,
                      (data_ / "invoice.pdfENX").string(), (data_ / "other.txtENX").string()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(ReadFile(data_ / "notes.txt"), "the user's notes");
  EXPECT_EQ(ReadFile(data_ / "other.txt"), "encrypted other");
  const json j = json::parse(r.out);
  ASSERT_EQ(j["files"].size(), 2u);
  EXPECT_EQ(j["files"][0]["status"].get<std::string>() + " " + j["files"][0]["reason"].get<std::string>(),
            "skipped a file named " + (data_ / "notes.txt").string() +
                " exists; this file holds that name but came as another, so it never replaces it");
  EXPECT_EQ(j["files"][1]["output"], (data_ / "other.txt").string());
  EXPECT_EQ(j["summary"]["skipped"].get<int>() + j["summary"]["succeeded"].get<int>(), 2);

  fs::remove(data_ / "notes.txt");
  Outcome named = Halvex({"decrypt", "--password-file", pw, (data_ / "invoice.pdfENX").string()});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_NE(named.out.find("invoice.pdfENX -> " + (data_ / "notes.txt").string()), std::string::npos) << named.out;
  EXPECT_EQ(ReadFile(data_ / "notes.txt"), "sender's notes");
}

// A file with other names is not encrypted in place unless asked for: under
// them its content would stay readable. Decryption takes such files as ever.
TEST_F(CommandTest, HardLinkedFilesAreRefusedUnlessAskedFor) {
  Write("doc.txt", "secret");
  fs::create_hard_link(data_ / "doc.txt", data_ / "other.txt");
  Outcome r = Halvex({"encrypt", "--json", (data_ / "doc.txt").string()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(ReadFile(data_ / "doc.txt"), "secret");
  EXPECT_FALSE(fs::exists(data_ / "doc.txtENX"));
  const json f = json::parse(r.out)["files"][0];
  EXPECT_EQ(f["code"], 1314);
  EXPECT_EQ(f["reason"].get<std::string>().rfind("it has 1 other name; its content would stay readable", 0), 0u)
      << f["reason"];

  r = Halvex({"encrypt", "--links", "encrypt", (data_ / "doc.txt").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("doc.txt has 1 other name"), std::string::npos) << r.err;
  fs::create_hard_link(data_ / "doc.txtENX", data_ / "link.enx");
  EXPECT_EQ(Halvex({"decrypt", (data_ / "doc.txtENX").string()}).status, 0);
  EXPECT_EQ(ReadFile(data_ / "doc.txt"), "secret");
}

TEST_F(CommandTest, QuestionsOnATerminalShowNativePathsAndInsist) {
  Write(".notes.txt", "hidden");
  Write(".cache/a", "cached");
  Write(".config/b", "setting");
  const std::string folder = "/data/.cache is a hidden folder with 1 file. Encrypt it?";
  const std::string question = "/data/.notes.txt is a hidden file. Encrypt it?";
  Outcome r = OnTerminal({"encrypt", "-r", data_.string()},
                         {{folder, "all?"}, {folder, "n"}, {"/data/.config", "yes"}, {question, "yn"}, {question, "y"}});
  EXPECT_EQ(r.status, 0) << r.out;
  for (const std::string& asked : {folder, question}) {
    const size_t first = r.out.find(asked);
    ASSERT_NE(first, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(asked, first + 1), std::string::npos) << "a wrong answer must ask again: " << r.out;
  }
  EXPECT_EQ(r.out.find('\\'), std::string::npos) << "a Windows-form path was shown: " << r.out;
  EXPECT_FALSE(fs::exists(data_ / ".notes.txt")) << r.out;
  EXPECT_EQ(ReadFile(data_ / ".cache/a"), "cached");
  EXPECT_FALSE(fs::exists(data_ / ".config/b")) << r.out;
  EXPECT_NE(r.out.find("1 hidden folder (1 file) left alone"), std::string::npos) << r.out;
}

// A damaged file failed, whichever answer went past it. Its question offers
// no retry, which would meet the same damage (nor does retry-once retry it),
// and a wrong answer is told the choices.
TEST_F(CommandTest, ADamagedFileFailsAndItsQuestionOffersNoRetry) {
  Write("whole.txt", "fine");
  Write("cut.bin", Bytes(200000, 9));
  ASSERT_EQ(Halvex({"encrypt", "-r", data_.string()}).status, 0);
  fs::resize_file(data_ / "cut.bin.qelmenc", 150000);
  Outcome r = Halvex({"decrypt", "-r", "--json", "--on-error", "retry-once", data_.string()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err.find("retrying"), std::string::npos) << r.err;
  const json summary = json::parse(r.out)["summary"];
  EXPECT_EQ(summary["failed"], 1);
  EXPECT_EQ(summary["skipped"], 0);
  EXPECT_EQ(summary["succeeded"], 1);

  const std::string asked = "cut.bin.qelmenc. [s]kip, [c]ancel: ";
  Outcome t = OnTerminal({"decrypt", (data_ / "cut.bin.qelmenc").string()},
                         {{asked, "r"}, {"please answer s (skip) or c (cancel)", "s"}});
  EXPECT_EQ(t.status, 1) << t.out;
  EXPECT_NE(t.out.find("0 succeeded, 0 skipped, 0 passed over, 1 failed"), std::string::npos) << t.out;
}

// The progress line fits the terminal's width, and a notice told during the
// batch stands on a line of its own, never on the bar.
TEST_F(CommandTest, TheProgressLineFitsTheTerminalAndNoticesStayOffIt) {
  Write("a folder with a rather long name/and another below it/the file itself.bin", Bytes(300000, 5));
  Outcome r = OnTerminal({"encrypt", "-r", data_.string()}, {}, 60);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("halvex: made a new key store"), std::string::npos) << r.out;
  size_t lines = 0;
  for (size_t at = 0; (at = r.out.find("Encrypting", at)) != std::string::npos; ++lines, ++at) {
    const std::string line = r.out.substr(at, r.out.find_first_of("\r\n", at) - at);
    EXPECT_LE(line.size(), 59u + 3) << line;  // "\x1b[K" ends it
    EXPECT_EQ(line.find("halvex:"), std::string::npos) << line;
  }
  EXPECT_GT(lines, 0u) << r.out;
}

TEST_F(CommandTest, CtrlCAtAQuestionCancelsAtOnce) {
  Write(".notes.txt", "hidden");
  Write("later.txt", "plain");
  const TreeSnapshot before = Snapshot();
  Outcome r = OnTerminal({"encrypt", (data_ / ".notes.txt").string(), (data_ / "later.txt").string()},
                         {{"is a hidden file. Encrypt it?", "\x03"}});
  EXPECT_EQ(r.status, 130) << r.out;
  EXPECT_EQ(Snapshot(), before) << r.out;
}

TEST_F(CommandTest, WrongPasswordLeavesEveryFileEncrypted) {
  Write("x/one.txt", "first file");
  Write("x/two.txt", Bytes(100000, 7));
  const TreeSnapshot plain = Snapshot();
  ASSERT_EQ(Halvex({"encrypt", "-r", "--password-file", PasswordFile("right horse"), data_.string()}).status, 0);
  const TreeSnapshot encrypted = Snapshot();

  // Another machine: its own stored key, so only the password could open them.
  UseKeyStore("keys/elsewhere");
  Outcome wrong = Halvex({"decrypt", "-r", "--json", "--password-file", PasswordFile("wrong horse"),
                          data_.string()});
  EXPECT_EQ(wrong.status, 1) << wrong.err;
  EXPECT_EQ(Snapshot(), encrypted);
  const json report = json::parse(wrong.out);
  for (const auto& f : report["files"]) {
    EXPECT_EQ(f["status"], "passed-over") << f;
    EXPECT_EQ(f["reason"].get<std::string>().rfind("wrong password", 0), 0u) << f;
  }

  // At a terminal, nothing given: the password is asked for, and a wrong one again.
  Outcome asked = OnTerminal({"decrypt", "-r", data_.string()},
                             {{"Password: ", "wrong horse"}, {"Password: ", "right horse"}});
  EXPECT_EQ(asked.status, 0) << asked.out;
  EXPECT_NE(asked.out.find("wrong password"), std::string::npos) << asked.out;
  EXPECT_EQ(Snapshot(), plain);
}

TEST_F(CommandTest, JsonReportHasOneObjectPerFileAndTheCounters) {
  Write("old.txt", "encrypted before");
  ASSERT_EQ(Halvex({"encrypt", (data_ / "old.txt").string()}).status, 0);
  Write("new.txt", "plain now");
  Outcome r = Halvex({"encrypt", "-r", "--json", data_.string()});
  json j = json::parse(r.out);
  EXPECT_EQ(j["command"], "encrypt");
  EXPECT_EQ(j["exit"], r.status);
  EXPECT_EQ(r.status, 0) << "a file encrypted before is left alone, not a failure";
  ASSERT_EQ(j["files"].size(), 2u);
  for (const auto& f : j["files"]) {
    for (const char* key : {"path", "output", "status", "code", "reason"}) EXPECT_TRUE(f.contains(key)) << key;
    const std::string path = f["path"];
    if (path.ends_with("new.txt")) {
      EXPECT_EQ(f["status"], "done");
      EXPECT_EQ(f["code"], 0);
      EXPECT_TRUE(fs::exists(f["output"].get<std::string>()));
    } else {
      EXPECT_EQ(f["status"], "skipped");
      EXPECT_EQ(f["code"], 8501) << "already encrypted";
      EXPECT_TRUE(f["output"].is_null());
      EXPECT_FALSE(f["reason"].get<std::string>().empty());
    }
  }
  EXPECT_EQ(j["summary"]["succeeded"], 1);
  EXPECT_EQ(j["summary"]["skipped"], 0);
  EXPECT_EQ(j["summary"]["already_encrypted"], 1);
  EXPECT_EQ(j["batch"]["succeeded"], 1);
  EXPECT_EQ(j["batch"]["skipped"], 1);
  EXPECT_EQ(j["batch"]["outputs"], 1);
}

TEST_F(CommandTest, InterruptInTheMiddleLeavesEveryFileWhole) {
  // Many files, each flushed to disk on its own, so the batch runs long
  // enough to be caught in the middle.
  constexpr int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) Write("bulk/f" + std::to_string(i), Bytes(256 << 10, 100 + i));
  const TreeSnapshot plain = Snapshot();

  pid_t pid = Spawn({"encrypt", "-r", data_.string()});
  // Wait until the first file is finished (its plain source removed), then
  // press Ctrl-C.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool started = false;
  while (!started && std::chrono::steady_clock::now() < deadline) {
    started = !fs::exists(data_ / "bulk/f0");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(started);
  kill(pid, SIGINT);
  Outcome r = Wait(pid);
  ASSERT_EQ(r.status, 130) << r.out << r.err;

  int plainLeft = 0;
  for (const auto& [name, snap] : Snapshot()) {
    if (plain.count(name)) {
      EXPECT_EQ(snap, plain.at(name)) << name << " was changed but not encrypted";
      ++plainLeft;
    }
  }
  EXPECT_GT(plainLeft, 0) << "the batch was not stopped";
  EXPECT_LT(plainLeft, kFiles);
  Outcome dec = Halvex({"decrypt", "-r", data_.string()});
  EXPECT_EQ(dec.status, 0) << "plain files alone are no failure: " << dec.out;
  EXPECT_NE(dec.out.find(" files were not encrypted and were left alone\n"), std::string::npos) << dec.out;
  EXPECT_EQ(Snapshot(), plain) << "every file is back, and nothing else is there";
}

// -j 1 and -j 2 tell the same story of the same tree: the same verdict and
// code for each file, the same counters and the same exit status, with a file
// skipped, files refused and (decrypting) a damaged file among them.
TEST_F(CommandTest, SideBySideBatchesReportAsOneBatch) {
  auto build = [&](bool decrypting) {
    fs::remove_all(data_);
    for (int i = 0; i < 12; ++i) Write(std::string(i < 7 ? "a/" : "b/") + "f" + std::to_string(i), Bytes(3000 + i, i));
    Write("b/big.bin", Bytes(300000, 99));
    if (decrypting) {
      ASSERT_EQ(Halvex({"encrypt", "-r", "-j", "1", data_.string()}).status, 0);
      fs::resize_file(data_ / "b/big.bin.qelmenc", 150000);  // damaged: fails
      Write("a/f2", "a newer plain file in the way");         // the output exists: skipped
    } else {
      Write("a/f2.qelmenc", "in the way");  // the output exists: skipped
      fs::create_hard_link(data_ / "a/f3", data_ / "b/f3-link");  // other names: refused
    }
  };
  auto story = [&](const json& j) {
    std::map<std::string, std::pair<std::string, int>> files;
    for (const auto& f : j["files"])
      files[fs::relative(f["path"].get<std::string>(), data_).string()] = {f["status"], f["code"]};
    return std::make_tuple(files, j["batch"].dump(), j["summary"].dump(), j["exit"].get<int>());
  };
  for (const bool decrypting : {false, true}) {
    SCOPED_TRACE(decrypting ? "decrypt" : "encrypt");
    decltype(story(json())) told[2];
    for (int jobs : {1, 2}) {
      build(decrypting);
      Outcome r = Halvex({decrypting ? "decrypt" : "encrypt", "-r", "--json", "--no-input", "-j",
                          std::to_string(jobs), data_.string()});
      EXPECT_EQ(r.status, 1) << r.err;
      told[jobs - 1] = story(json::parse(r.out));
      EXPECT_EQ(std::get<3>(told[jobs - 1]), r.status);
    }
    EXPECT_EQ(std::get<0>(told[0]), std::get<0>(told[1]));
    EXPECT_EQ(std::get<1>(told[0]), std::get<1>(told[1]));
    EXPECT_EQ(std::get<2>(told[0]), std::get<2>(told[1]));
  }
}

// With -j the questions of every batch are asked on the one terminal, one at
// a time, and Ctrl-C there cancels every batch: each file is itself or
// encrypted, never lost.
TEST_F(CommandTest, SideBySideBatchesAskOnTheOneTerminal) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> dialogue;
    int status;
    const char* told;
  };
  const Case cases[] = {
      {"both answered", {{"is a hidden file. Encrypt it?", "n"}, {"is a hidden file. Encrypt it?", "y"}}, 1,
       "1 succeeded, 1 skipped"},
      {"Ctrl-C at the first", {{"is a hidden file. Encrypt it?", "\x03"}}, 130, "cancel"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(data_);
    Write("a/.one", "first hidden");
    Write("b/.two", "second hidden");
    const TreeSnapshot plain = Snapshot();
    Outcome r = OnTerminal({"encrypt", "-j", "2", (data_ / "a/.one").string(), (data_ / "b/.two").string()},
                           c.dialogue);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.told), std::string::npos) << r.out;
    ASSERT_EQ(Halvex({"decrypt", "-r", data_.string()}).status, 0);
    EXPECT_EQ(Snapshot(), plain);
  }
}

// SIGKILL in the middle of a -j run, early and late, to the parent and every
// batch's process, or to the parent alone (its batches then stop after their
// file): every file is itself, or inside a complete encrypted file that
// opens, or both.
TEST_F(CommandTest, KillingASideBySideRunLosesNoFile) {
  struct Case {
    const char* name;
    int after;  // files gone before the kill
    bool batchesToo;
  };
  for (const Case& c : {Case{"all, early", 1, true}, Case{"all, late", 100, true}, Case{"parent alone", 30, false}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(data_);
    for (int i = 0; i < 160; ++i) Write("d" + std::to_string(i % 4) + "/f" + std::to_string(i), Bytes(64 << 10, i));
    const TreeSnapshot plain = Snapshot();
    pid_t pid = Spawn({"encrypt", "-r", "-j", "2", data_.string()});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    auto gone = [&] {
      int n = 0;
      for (const auto& [name, snap] : plain) n += !fs::exists(data_ / name);
      return n;
    };
    while (gone() < c.after && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    std::vector<pid_t> batches;
    for (pid_t child; children >> child;) batches.push_back(child);
    EXPECT_EQ(batches.size(), 2u);
    kill(pid, SIGKILL);
    if (c.batchesToo)
      for (pid_t p : batches) kill(p, SIGKILL);
    EXPECT_EQ(Wait(pid).status, 128 + SIGKILL);
    for (pid_t p : batches)  // reaped by init: gone once /proc forgets them
      while (fs::exists("/proc/" + std::to_string(p)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    // A file killed after its output was published and before its source
    // went stands twice: decrypting skips it (the plain file is there), 1.
    const int status = Halvex({"decrypt", "-r", "-j", "1", data_.string()}).status;
    ASSERT_TRUE(status == 0 || status == 1) << status;
    for (const auto& [name, snap] : Snapshot()) {
      if (plain.count(name)) {
        EXPECT_EQ(snap, plain.at(name)) << name;
        continue;
      }
      // A source moved aside for its delete, or an encrypted copy beside its
      // source, is a second copy, never the only one.
      const fs::path p(name);
      const std::string file = p.filename().string();
      const bool movedAside = file.rfind(".hvxdel-", 0) == 0;
      ASSERT_TRUE(movedAside || file.ends_with(".qelmenc")) << name;
      const std::string original = movedAside ? file.substr(17) : file.substr(0, file.size() - 8);
      EXPECT_TRUE(fs::exists(data_ / p.parent_path() / original)) << name;
    }
    for (const auto& [name, snap] : plain) EXPECT_TRUE(fs::exists(data_ / name)) << name << " was lost";
  }
}

TEST_F(CommandTest, KeystoreExportImportRoundTrip) {
  Write("kept.txt", "under the stored key");
  ASSERT_EQ(Halvex({"encrypt", (data_ / "kept.txt").string()}).status, 0);
  const std::string exported = (root_ / "exported.key").string();

  Outcome path = Halvex({"keystore", "path"});
  EXPECT_EQ(path.out, keystore_.string() + "\n");
  Outcome asked = OnTerminal({"keystore", "export", exported}, {{"Passphrase:", "s3cret"}, {"Passphrase again:", "s3cret"}});
  ASSERT_EQ(asked.status, 0) << asked.out;
  EXPECT_EQ(Halvex({"keystore", "export", "--no-passphrase", exported}).status, 1) << "never replaces a file";

  UseKeyStore("keys/new-machine");
  EXPECT_EQ(Halvex({"keystore", "import", exported}).status, 2) << "no passphrase, no terminal";
  EXPECT_EQ(Halvex({"keystore", "import", "--passphrase-file", PasswordFile("wrong"), exported}).status, 2);
  Outcome imported = Halvex({"keystore", "import", "--passphrase-file", PasswordFile("s3cret"), exported});
  ASSERT_EQ(imported.status, 0) << imported.err;
  ASSERT_EQ(Halvex({"decrypt", "-r", data_.string()}).status, 0);
  EXPECT_EQ(ReadFile(data_ / "kept.txt"), "under the stored key");
}

// The store is lost and encrypting makes a new one: importing the old
// store's backup adds its key, and the files of both keys decrypt in place
// with the stored keys alone.
TEST_F(CommandTest, ImportedKeyJoinsTheRingAndEveryKeyDecrypts) {
  Write("old.txt", "under the old key");
  Write("new.txt", "under the new key");
  ASSERT_EQ(Halvex({"encrypt", (data_ / "old.txt").string()}).status, 0);
  const std::string backup = (root_ / "old.backup").string();
  ASSERT_EQ(Halvex({"keystore", "export", "--no-passphrase", backup}).status, 0);
  fs::remove(keystore_);
  Outcome made = Halvex({"encrypt", (data_ / "new.txt").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.err.find("earlier key store need that store's backup: 'halvex keystore import BACKUP'"),
            std::string::npos) << made.err;

  Outcome status = Halvex({"status", "--json", "-r", data_.string()});
  const json files = json::parse(status.out)["files"];
  std::map<std::string, std::string> needs;
  for (const auto& f : files) {
    EXPECT_EQ(f["password"], false);
    needs[fs::path(f["path"].get<std::string>()).filename().string()] = f["key_store"];
  }
  ASSERT_EQ(needs.size(), 2u) << status.out;
  EXPECT_NE(needs["old.txtENX"], needs["new.txtENX"]);

  Outcome imported = Halvex({"keystore", "import", backup});
  ASSERT_EQ(imported.status, 0) << imported.err;
  const json keys = json::parse(Halvex({"keystore", "list", "--json"}).out)["keys"];
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0]["id"], needs["new.txtENX"]);
  EXPECT_EQ(keys[0]["encrypts"], true) << "the newer key keeps encrypting";
  EXPECT_EQ(keys[1]["id"], needs["old.txtENX"]);
  Outcome dec = Halvex({"decrypt", "-r", data_.string()});
  EXPECT_EQ(dec.status, 0) << dec.out;
  EXPECT_EQ(ReadFile(data_ / "old.txt"), "under the old key");
  EXPECT_EQ(ReadFile(data_ / "new.txt"), "under the new key");
}

// A key store that is missing when decrypting (another HOME, an unmounted
// folder) is never replaced by a new key: each file says what it needs, and
// the backup made when the store was created brings everything back.
// A file encrypted to a recipient opens with the identity alone, on another
// key store and with no password; nothing else opens it.
TEST_F(CommandTest, RecipientFilesOpenWithTheIdentityAloneOnAnotherKeyStore) {
  const std::string identity = (root_ / "id.txt").string(), recipient = (root_ / "recipient.txt").string();
  Outcome made = Halvex({"keygen", "-o", identity});
  ASSERT_EQ(made.status, 0) << made.err;
  std::ofstream(recipient) << "# Ann\n" << made.out;
  struct stat st {};
  ASSERT_EQ(stat(identity.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(Halvex({"keygen", "-o", identity}).status, 1) << "an identity file was replaced";

  Write("a.txt", "for Ann");
  ASSERT_EQ(Halvex({"encrypt", "--no-input", "--recipient", recipient, (data_ / "a.txt").string()}).status, 0);
  EXPECT_FALSE(fs::exists(keystore_)) << "a key store was made that nothing needs";
  UseKeyStore("keys/other");
  Write("b.txt", "plain");
  ASSERT_EQ(Halvex({"encrypt", (data_ / "b.txt").string()}).status, 0);
  Outcome without = Halvex({"decrypt", "--no-input", "-r", data_.string()});
  EXPECT_EQ(without.status, 1);
  EXPECT_NE(without.out.find("the identity of its recipient (--identity FILE)"), std::string::npos)
      << without.out;

  chmod(identity.c_str(), 0640);
  Outcome loose = Halvex({"decrypt", "--no-input", "--identity", identity, (data_ / "a.txtENX").string()});
  EXPECT_EQ(loose.status, 2);
  EXPECT_NE(loose.err.find("others may read it"), std::string::npos) << loose.err;
  chmod(identity.c_str(), 0600);
  Outcome opened = Halvex({"decrypt", "--no-input", "--identity", identity, "-r", data_.string()});
  EXPECT_EQ(opened.status, 0) << opened.out << opened.err;
  EXPECT_EQ(ReadFile(data_ / "a.txt"), "for Ann");

  // An identity kept in the key store's folder is tried without being named.
  Outcome ring = Halvex({"keygen", "--ring"});
  ASSERT_EQ(ring.status, 0) << ring.err;
  const std::string line = ring.out.substr(0, ring.out.find('\n'));
  ASSERT_EQ(Halvex({"encrypt", "--no-input", "--recipient", line, (data_ / "a.txt").string()}).status, 0);
  EXPECT_EQ(Halvex({"decrypt", "--no-input", (data_ / "a.txtENX").string()}).status, 0);
  EXPECT_EQ(ReadFile(data_ / "a.txt"), "for Ann");
}

TEST_F(CommandTest, MissingKeyStoreIsReportedNotReplacedOnDecryption) {
  Write("stored.txt", "under the stored key");
  Write("both.txt", "under both");
  Outcome made = Halvex({"encrypt", (data_ / "stored.txt").string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_TRUE(made.err.find("made a new key store at " + keystore_.string()) != std::string::npos &&
              made.err.find("halvex keystore export") != std::string::npos) << made.err;
  ASSERT_EQ(Halvex({"encrypt", "--password-file", PasswordFile("pw"), (data_ / "both.txt").string()}).status, 0);
  const std::string backup = (root_ / "backup.key").string();
  ASSERT_EQ(Halvex({"keystore", "export", "--no-passphrase", backup}).status, 0);
  const json states = json::parse(Halvex({"status", "--json", "-r", data_.string()}).out)["files"];
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0]["key_store"], states[1]["key_store"]);
  for (const auto& f : states)
    EXPECT_EQ(f["password"], f["path"].get<std::string>().find("both") != std::string::npos) << f;
  fs::remove(keystore_);

  const json report = json::parse(Halvex({"decrypt", "-r", "--json", data_.string()}).out);
  EXPECT_FALSE(fs::exists(keystore_)) << "decryption made a key store";
  ASSERT_EQ(report["files"].size(), 2u);
  for (const auto& f : report["files"]) {
    const std::string reason = f["reason"];
    EXPECT_EQ(f["status"], "passed-over");
    EXPECT_NE(reason.find("the key store "), std::string::npos) << reason;
    EXPECT_NE(reason.find("has no key store"), std::string::npos) << reason;
    const bool hasPassword = f["path"].get<std::string>().find("both") != std::string::npos;
    EXPECT_EQ(reason.find("its password (--password-file FILE or --ask-password)") != std::string::npos, hasPassword)
        << reason;
  }

  ASSERT_EQ(Halvex({"keystore", "import", backup}).status, 0);
  EXPECT_EQ(Halvex({"decrypt", "-r", data_.string()}).status, 0);
  EXPECT_EQ(ReadFile(data_ / "stored.txt"), "under the stored key");
}

TEST_F(CommandTest, BadInputIsRefusedBeforeAnythingIsTouched) {
  Write("good.txt", "must stay plain");
  fs::create_directories(data_ / "folder");
  const std::string good = (data_ / "good.txt").string();
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"encrypt", good, (data_ / "missing.txt").string()}, "no such file"},
      {{"encrypt", good, (data_ / "folder").string()}, "-r"},
      {{"encrypt", "--password-file", (root_ / "no-such-file").string(), good}, "password file"},
      {{"encrypt", "--password", "secret", good}, "never given as an argument"},
      {{"copy", "--no-input", good}, "no password"},
      {{"encrypt"}, "no files"},
  };
  const TreeSnapshot before = Snapshot();
  for (const auto& c : cases) {
    Outcome r = Halvex(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Snapshot(), before) << c.message;
  }
}

TEST_F(CommandTest, CopyMakesSelfExtractingCopiesBesideUntouchedSources) {
  Write("a.txt", "alpha");
  Write("sub/b.bin", Bytes(5000, 3));
  const TreeSnapshot before = Snapshot();
  Outcome r = Halvex({"copy", "-r", "--json", "--password-file", PasswordFile("copy pass"), data_.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(json::parse(r.out)["batch"], json::parse(R"({"type": 5, "error_code": 0, "outputs": 2})"));
  auto states = States();
  EXPECT_EQ(states["a.txt"], "plain");
  EXPECT_EQ(states["a.txt.exe"], "self-extracting");
  EXPECT_EQ(states["sub/b.bin.exe"], "self-extracting");
  for (const auto& [name, snap] : before) EXPECT_EQ(Snapshot().at(name), snap);
}

TEST_F(CommandTest, MailWritesEncryptedCopiesIntoANewMessageFolder) {
  Write("m1.txt", "one");
  Write("m2.txt", "two");
  const TreeSnapshot before = Snapshot();
  Outcome r = Halvex({"mail", "--json", "--password-file", PasswordFile("mail pass"), (data_ / "m1.txt").string(),
                      (data_ / "m2.txt").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  const fs::path folder = j["folder"].get<std::string>();
  EXPECT_TRUE(fs::is_directory(folder));
  ASSERT_EQ(j["files"].size(), 2u);
  for (const auto& f : j["files"]) {
    EXPECT_EQ(f["status"], "done");
    EXPECT_EQ(fs::path(f["output"].get<std::string>()).parent_path(), folder);
  }
  EXPECT_EQ(j["batch"], json::parse(R"({"type": 3, "error_code": 0, "results": [0, 0], "outputs": 2})"));
  EXPECT_EQ(Snapshot(), before) << "the sources stay as they are";
}

// --to hands each copy on as NAME.exe beside what is there, never over it.
TEST_F(CommandTest, MailToPlacesRecipientCopiesAndNeverReplacesOne) {
  Write("m1.txt", "one");
  Write("m2.txt", "two");
  Write("out/m2.txt.exe", "someone else's");
  const std::string out = (data_ / "out").string(), pw = PasswordFile("p");
  Outcome missing = Halvex({"mail", "--to", (data_ / "none").string(), "--password-file", pw, (data_ / "m1.txt").string()});
  EXPECT_EQ(missing.status, 2) << missing.err;
  EXPECT_FALSE(fs::exists(data_ / "none"));
  Outcome r = Halvex({"mail", "--json", "--to", out, "--password-file", pw, (data_ / "m1.txt").string(),
                      (data_ / "m2.txt").string()});
  EXPECT_EQ(r.status, 1) << r.err;
  const json files = json::parse(r.out)["files"];
  EXPECT_EQ(files[0]["placed"], (data_ / "out/m1.txt.exe").string());
  EXPECT_EQ(States()["out/m1.txt.exe"], "self-extracting");
  EXPECT_EQ(files[1]["status"], "failed");
  EXPECT_EQ(ReadFile(data_ / "out/m2.txt.exe"), "someone else's");
  EXPECT_TRUE(fs::exists(files[1]["output"].get<std::string>())) << "the message folder keeps the copy";
}

// clean takes only what mail and --to-temp left, never through a link, and
// leaves a temporary folder others may enter (here: named in the settings) as it is.
TEST_F(CommandTest, CleanRemovesOnlyLeftoversAndRefusesAFolderNotItsOwn) {
  const fs::path temp = root_ / "run/halvex";
  Write("outside/keep", "not halvex's");
  fs::create_directories(temp / "WLM/111");
  fs::create_directories(temp / "YAH");
  std::ofstream(temp / "WLM/111/a.txt.qelmenx") << "copy";
  std::ofstream(temp / "restored.txt") << "plain";
  fs::create_directory_symlink(data_ / "outside", temp / "YAH/222");
  fs::create_symlink(data_ / "outside/keep", temp / "link.txt");
  fs::permissions(temp, fs::perms::owner_all);
  Outcome dry = Halvex({"clean", "--dry-run"});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_TRUE(fs::exists(temp / "restored.txt"));
  Outcome r = Halvex({"clean"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("clean: 2 removed"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(temp / "WLM/111"));
  EXPECT_FALSE(fs::exists(temp / "restored.txt"));
  EXPECT_EQ(ReadFile(data_ / "outside/keep"), "not halvex's");
  fs::create_directories(root_ / "config");
  std::ofstream(root_ / "config/settings.ini") << "temp_folder = " << data_.string() << "\n";
  // A folder the settings name may hold the user's own files: they stay.
  Write("mine.txt", "the user's");
  Outcome named = Halvex({"clean"});
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(ReadFile(data_ / "mine.txt"), "the user's");
  EXPECT_TRUE(fs::exists(data_ / "outside/keep"));
}

// A mail batch reports 1015 for a missing entry and for a refused access
// alike; the reason must say which.
TEST_F(CommandTest, MailNeverCallsARefusedFileMissing) {
  Write("locked.txt", "kept");
  halvex::test::ImmutableFile locked((data_ / "locked.txt").string());
  if (!locked.Active()) GTEST_SKIP() << "cannot make a file immutable here (no CAP_LINUX_IMMUTABLE, or tmpfs)";
  Outcome r = Halvex({"mail", "--json", "--password-file", PasswordFile("p"), (data_ / "locked.txt").string()});
  EXPECT_EQ(r.status, 1) << r.err;
  const json f = json::parse(r.out)["files"][0];
  EXPECT_EQ(f["code"], 1015);
  EXPECT_NE(f["reason"].get<std::string>().find("denied"), std::string::npos) << f;
}

TEST_F(CommandTest, DecryptToTempKeepsTheEncryptedFile) {
  Write("t.txt", "to the temporary folder");
  ASSERT_EQ(Halvex({"encrypt", (data_ / "t.txt").string()}).status, 0);
  const TreeSnapshot encrypted = Snapshot();
  Outcome r = Halvex({"decrypt", "--to-temp", "--json", "-r", data_.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Snapshot(), encrypted);
  const std::string output = json::parse(r.out)["files"][0]["output"];
  EXPECT_EQ(output.rfind((root_ / "run").string(), 0), 0u) << output;
  EXPECT_EQ(ReadFile(output), "to the temporary folder");
}

TEST_F(CommandTest, InspectTellsWhatTheHeaderRecordsWithoutAKeyAndWritesNothing) {
  Write("a.txt", "fifteen bytes!\n");
  Write("plain.txt", "not encrypted");
  const std::string pw = PasswordFile("inspect pass"), a = (data_ / "a.txt").string();
  ASSERT_EQ(Halvex({"copy", "--stub", "linux", "--password-file", pw, a}).status, 0);
  Outcome mail = Halvex({"mail", "--json", "--password-file", pw, a});
  ASSERT_EQ(mail.status, 0) << mail.err;
  ASSERT_EQ(Halvex({"encrypt", "--password-file", pw, a}).status, 0);
  std::string damaged = ReadFile(data_ / "a.txtENX");
  damaged[40] ^= 1;  // inside the checksummed header
  Write("damaged.txtENX", damaged);
  struct Case {
    std::string path, kind;  // kind: the JSON kind, or a part of the error
    std::string program{};   // self-extracting: the program in front
    bool storedKey = false;
  };
  const Case cases[] = {
      {(data_ / "a.txtENX").string(), "in-place", "", true},
      {(data_ / "a.txt.exe").string(), "self-extracting", "linux"},
      {json::parse(mail.out)["files"][0]["output"].get<std::string>(), "message", "windows"},
      {(data_ / "plain.txt").string(), "not an encrypted file"},
      {(data_ / "damaged.txtENX").string(), "damaged"},
      {(data_ / "missing.txtENX").string(), "no such file"},
      {data_.string(), "folder"},
  };
  std::vector<std::string> args{"inspect", "--json"};
  for (const auto& c : cases) args.push_back(c.path);
  const TreeSnapshot before = Snapshot();
  Outcome r = Halvex(args);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const json files = json::parse(r.out)["files"];
  ASSERT_EQ(files.size(), std::size(cases)) << r.out;
  for (size_t i = 0; i < files.size(); ++i) {
    const json& f = files[i];
    const Case& c = cases[i];
    EXPECT_EQ(f["path"], c.path);
    if (f.contains("error")) {
      EXPECT_NE(f["error"].get<std::string>().find(c.kind), std::string::npos) << f;
      continue;
    }
    EXPECT_EQ(f["kind"], c.kind) << f;
    EXPECT_EQ(f.value("program", ""), c.program) << f;
    EXPECT_EQ(f["name"], "a.txt");
    EXPECT_EQ(f["size"], 15);
    EXPECT_EQ(f["modified"], "2017-07-14T02:40:00Z");
    EXPECT_EQ(f["password"], true);
    EXPECT_EQ(f["stored_key"], c.storedKey);
    EXPECT_EQ(f["key_store"].is_string(), c.storedKey) << f;
    EXPECT_EQ(f["needs_key"], json::parse(R"(["contents", "permissions"])"));
  }
  EXPECT_EQ(Snapshot(), before) << "inspect writes nothing";
  Outcome text = Halvex({"inspect", cases[0].path});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("needs the key: contents, permissions"), std::string::npos) << text.out;
}

}  // namespace
