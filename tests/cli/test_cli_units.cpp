// The command's parsing and reporting, without running a batch.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/args.h"
#include "cli/jobs.h"
#include "cli/password.h"
#include "cli/paths.h"
#include "cli/report.h"

namespace halvex::cli {
namespace {

struct ParseCase {
  std::vector<std::string> args;
  std::string errorPart;  // empty: valid
};

class ParseErrors : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseErrors, RefusesOrAccepts) {
  ParseResult r = ParseArgs(GetParam().args);
  if (GetParam().errorPart.empty()) {
    EXPECT_EQ(r.error, "");
  } else {
    EXPECT_NE(r.error.find(GetParam().errorPart), std::string::npos) << r.error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseErrors,
    ::testing::Values(
        ParseCase{{}, "no command"}, ParseCase{{"shred", "a"}, "unknown command"},
        ParseCase{{"encrypt", "--password", "secret", "a"}, "never given as an argument"},
        ParseCase{{"encrypt", "--password=secret", "a"}, "never given as an argument"},
        ParseCase{{"decrypt", "--self-extract", "a"}, "does not apply"},
        ParseCase{{"decrypt", "--on-hidden", "skip", "a"}, "does not apply"},
        ParseCase{{"decrypt", "--links", "encrypt", "a"}, "does not apply"},
        ParseCase{{"encrypt", "--links=always", "a"}, "not a choice"},
        ParseCase{{"copy", "--on-error", "skip", "a"}, "does not apply"},
        ParseCase{{"encrypt", "--on-exists", "overwrite", "a"}, "not a choice"},
        ParseCase{{"encrypt", "--password-file"}, "needs a value"},
        ParseCase{{"encrypt", "--json=yes", "a"}, "takes no value"},
        ParseCase{{"encrypt", "-x", "a"}, "unknown option"},
        ParseCase{{"encrypt", "-r", "--on-error=retry-once", "--password-file", "p", "a"}, ""},
        ParseCase{{"mail", "--yah", "a"}, ""}, ParseCase{{"copy", "--stub", "linux", "a"}, ""},
        ParseCase{{"copy", "--stub=macos", "a"}, "not a choice"},
        ParseCase{{"decrypt", "--stub", "linux", "a"}, "does not apply"}, ParseCase{{"keystore", "import", "k", "--force"}, ""},
        ParseCase{{"--help"}, ""}, ParseCase{{"help"}, ""}, ParseCase{{"help", "status"}, ""},
        ParseCase{{"help", "shred"}, "unknown command 'shred'"},
        ParseCase{{"help", "encrypt", "decrypt"}, "one command"},
        ParseCase{{"decrypt", "--recipient", "r", "a"}, "does not apply"},
        ParseCase{{"encrypt", "--identity", "id", "a"}, "does not apply"},
        ParseCase{{"encrypt", "--recipient"}, "needs a value"},
        ParseCase{{"keygen", "-o", "a", "--output=b"}, "given once"},
        ParseCase{{"encrypt", "--recipient=r", "--recipient", "s", "a"}, ""}, ParseCase{{"keygen", "--ring"}, ""},
        ParseCase{{"encrypt", "-j", "2", "a"}, ""}, ParseCase{{"decrypt", "-j4", "--jobs=3", "a"}, ""},
        ParseCase{{"encrypt", "-j", "0", "a"}, "not a number of batches"},
        ParseCase{{"encrypt", "--jobs", "two", "a"}, "not a number of batches"},
        ParseCase{{"encrypt", "-j"}, "needs a value"}, ParseCase{{"copy", "-j", "2", "a"}, "does not apply"},
        ParseCase{{"encrypt", "--job-channel", "3", "a"}, "unknown option"}));

// -j's runs: every entry in exactly one, none empty, in list order, cut at a
// folder's border where one is near, and a lone folder cut when it must be.
TEST(Jobs, SplitByFolderCutsAtFolderBorders) {
  struct Case {
    const char* name;
    std::vector<std::string> folders;  // one per file
    unsigned n;
    std::vector<size_t> begins;
  };
  const Case cases[] = {
      {"one folder, two batches", {"a", "a", "a", "a"}, 2, {0, 2}},
      {"two even folders", {"a", "a", "a", "b", "b", "b"}, 2, {0, 3}},
      {"a border near the middle", {"a", "a", "a", "a", "b", "b", "b", "c", "c"}, 2, {0, 4}},
      {"more batches than files", {"a", "b"}, 8, {0, 1}},
      {"one file", {"a"}, 4, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> natives;
    for (size_t i = 0; i < c.folders.size(); ++i) natives.push_back("/d/" + c.folders[i] + "/f" + std::to_string(i));
    const auto spans = SplitByFolder(natives, std::vector<uint64_t>(natives.size(), 4096), c.n);
    std::vector<size_t> begins;
    size_t next = 0;
    for (const JobSpan& s : spans) {
      EXPECT_EQ(s.begin, next);
      EXPECT_LT(s.begin, s.end);
      begins.push_back(s.begin);
      next = s.end;
    }
    EXPECT_EQ(next, natives.size());
    EXPECT_EQ(begins, c.begins);
  }
}

// A report cut short on its way from a batch is refused whole, never read
// as fewer files.
TEST(Jobs, ReportTravelsWholeOrNotAtAll) {
  BatchReport r;
  r.counters = {0, 8501, 1, 2, 1, 0, {}, 2};
  r.interrupted = true;
  r.files.push_back({"/d/a\nb", {"/d/a.qelmenc"}, FileStatus::kDone, 0, "", ""});
  r.files.push_back({"/d/c", {}, FileStatus::kSkipped, 10, "the output exists already", ""});
  const std::string wire = EncodeReport(r);
  auto back = DecodeReport(wire);
  ASSERT_TRUE(back);
  EXPECT_EQ(JsonReport("encrypt", *back), JsonReport("encrypt", r));
  for (size_t cut : {size_t{0}, size_t{10}, wire.size() / 2, wire.size() - 1})
    EXPECT_FALSE(DecodeReport(std::string_view(wire).substr(0, cut))) << cut;
}

TEST(Parse, CollectsOptionsAndOperands) {
  ParseResult r = ParseArgs({"decrypt", "a", "--to-temp", "--on-exists=replace", "--on-error", "stop",
                             "--password-file=pw", "--", "-r", "--json"});
  ASSERT_EQ(r.error, "");
  const Options& o = r.options;
  EXPECT_EQ(o.command, Command::kDecrypt);
  EXPECT_TRUE(o.toTemp);
  EXPECT_FALSE(o.recursive) << "after -- everything is a name";
  EXPECT_EQ(o.onExists, ExistsPolicy::kReplace);
  EXPECT_EQ(o.onError, ErrorPolicy::kStop);
  EXPECT_EQ(o.passwordFile, "pw");
  EXPECT_EQ(o.operands, (std::vector<std::string>{"a", "-r", "--json"}));
}

TEST(Parse, PoliciesDefaultToSkip) {
  const Options o = ParseArgs({"encrypt", "a"}).options;
  EXPECT_EQ(o.onExists, ExistsPolicy::kSkip);
  EXPECT_EQ(o.onHidden, HiddenPolicy::kSkip);
  EXPECT_EQ(o.onError, ErrorPolicy::kSkip);
}

// A password file's first line, without its ending, however it falls across
// the reader's fixed buffer; a first line past the limit is refused.
TEST(Password, FileGivesItsFirstLineWithoutTheLineEnding) {
  const std::string longest(4096, 'p');
  const std::pair<std::string, std::string> cases[] = {
      {"secret\n", "secret"},           {"secret\r\nnext line\n", "secret"}, {"no newline", "no newline"},
      {"  spaces kept  \n", "  spaces kept  "}, {"\nsecond", ""},          {longest + "\nx", longest},
      {std::string(700, 'a') + "\r\n", std::string(700, 'a')},           {longest + "p", ""}};
  const std::string path = ::testing::TempDir() + "password-file";
  for (const auto& [content, password] : cases) {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    const PasswordResult r = ObtainPassword({path, false, false, true, true});
    EXPECT_EQ(r.password.value_or(WString()), platform::Widen(password)) << content.substr(0, 40);
    EXPECT_EQ(r.error.empty(), !password.empty()) << content.substr(0, 40) << r.error;
  }
  std::remove(path.c_str());
}

TEST(Paths, PrintableEscapesWhatATerminalWouldInterpret) {
  EXPECT_EQ(Printable("plain name.txt"), "plain name.txt");
  EXPECT_EQ(Printable("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(Printable("bad\xff"), "bad\\xff");
  EXPECT_EQ(Printable("esc\x1b[31m"), "esc\\x1b[31m");
  EXPECT_EQ(Printable("new\nline"), "new\\x0aline");
  EXPECT_EQ(Printable("cut\xc3"), "cut\\xc3");
}

FileResult Result(FileStatus status) {
  FileResult r;
  r.path = "/d/f";
  r.status = status;
  return r;
}

TEST(Report, ExitStatus) {
  struct Case {
    std::vector<FileStatus> files;
    bool interrupted;
    int exit;
  };
  const Case cases[] = {
      {{FileStatus::kDone, FileStatus::kDone}, false, kExitDone},
      {{}, false, kExitDone},
      {{FileStatus::kDone, FileStatus::kSkipped}, false, kExitSomeNotDone},
      {{FileStatus::kPassedOver}, false, kExitSomeNotDone},
      {{FileStatus::kRolledBack, FileStatus::kFailed}, false, kExitSomeNotDone},
      {{FileStatus::kDone, FileStatus::kCancelled}, true, kExitCancelled},
      // A stop answer ends the batch without Ctrl-C: some files not done.
      {{FileStatus::kDone, FileStatus::kCancelled}, false, kExitSomeNotDone},
      // Ctrl-C after the last file: nothing was cancelled.
      {{FileStatus::kDone}, true, kExitDone},
  };
  for (const auto& c : cases) {
    BatchReport report;
    for (auto s : c.files) report.files.push_back(Result(s));
    report.interrupted = c.interrupted;
    EXPECT_EQ(ExitStatusOf(report), c.exit);
  }
  BatchReport setup;
  setup.setupError = 3;
  EXPECT_EQ(ExitStatusOf(setup), kExitUsage);
}

TEST(Report, JsonStaysValidForAnyName) {
  BatchReport report;
  FileResult odd = Result(FileStatus::kFailed);
  odd.path = "/d/quote\" back\\slash\ttab\x01\xff.txt";
  odd.reason = "reason with \"quotes\"";
  odd.code = 1320;
  report.files.push_back(odd);
  FileResult done = Result(FileStatus::kDone);
  done.outputs = {"/d/f.qelmenc"};
  report.files.push_back(done);
  report.counters.succeeded = 1;

  auto j = nlohmann::json::parse(JsonReport("encrypt", report));
  ASSERT_EQ(j["files"].size(), 2u);
  EXPECT_EQ(j["files"][0]["path"].get<std::string>().substr(0, 20), "/d/quote\" back\\slash");
  EXPECT_TRUE(j["files"][0]["output"].is_null());
  EXPECT_EQ(j["files"][0]["code"], 1320);
  EXPECT_EQ(j["files"][1]["output"], "/d/f.qelmenc");
  EXPECT_EQ(j["summary"]["succeeded"], 1);
  EXPECT_EQ(j["summary"]["failed"], 1);
  EXPECT_EQ(j["batch"]["succeeded"], 1);
  EXPECT_EQ(j["exit"], kExitSomeNotDone);
}

TEST(Report, TextListsEveryFileNotDone) {
  BatchReport report;
  FileResult skipped = Result(FileStatus::kSkipped);
  skipped.path = "/d/hidden";
  skipped.reason = "a hidden file";
  report.files = {Result(FileStatus::kDone), skipped};
  std::string text = TextReport("encrypt", report, false);
  EXPECT_NE(text.find("/d/hidden: a hidden file"), std::string::npos) << text;
  EXPECT_EQ(text.find("/d/f"), std::string::npos) << "done files are only counted";
  EXPECT_NE(text.find("1 succeeded, 1 skipped, 0 passed over, 0 failed, 0 cancelled"), std::string::npos);

  // Decryption sums up plain files in one line, and they alone do not make it fail (unless --strict).
  FileResult plain = Result(FileStatus::kSkipped);
  plain.code = 8502;
  report.files = {Result(FileStatus::kDone), plain, plain};
  for (bool strict : {false, true}) {
    report.leftAloneCode = strict ? 0 : 8502;
    text = TextReport("decrypt", report, false);
    EXPECT_EQ(text.find("2 files were not encrypted and were left alone") != std::string::npos, !strict) << text;
    EXPECT_EQ(text.find("/d/f") != std::string::npos, strict) << text;
    EXPECT_EQ(ExitStatusOf(report), strict ? kExitSomeNotDone : kExitDone);
  }
  // Encryption run again sums up what it encrypted before likewise.
  plain.code = 8501;
  report.files = {plain};
  report.leftAloneCode = 8501;
  EXPECT_NE(TextReport("encrypt", report, false).find("1 file was already encrypted and was left alone"),
            std::string::npos);
  EXPECT_EQ(ExitStatusOf(report), kExitDone);
}

}  // namespace
}  // namespace halvex::cli
