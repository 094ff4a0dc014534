// What a host's listener learns about every entry, for each request type.
#include <gtest/gtest.h>

#include <filesystem>

#include "halvex/listener.h"
#include "tests/batch/batch_fixture.h"

namespace halvex::test {
namespace {

using Names = std::vector<std::string>;

// Every event but "started", as text: "index outcome [reason] [output file
// name] [code]", "index asked question: answer", "index error fes/api: answer",
// "index percent n".
void HALVEX_CALLBACK Record(void* context, const tagHALVEXEVENT* e) {
  static const char* const kOutcomes[] = {"", "done", "skipped", "passed-over", "failed", "refused", "cancelled",
                                          "rolled-back"};
  static const char* const kReasons[] = {"",       "missing",     "system",      "hidden",
                                         "exists", "error-dialog", "not-started", "while-running", "hard-links"};
  Names& events = *static_cast<Names*>(context);
  const std::string index = std::to_string(e->dwIndex);
  if (e->dwKind == HALVEX_EVENT_PERCENT) events.push_back(index + " percent " + std::to_string(e->nPercent));
  if (e->dwKind == HALVEX_EVENT_QUESTION)
    events.push_back(index + " asked " + std::to_string(e->dwQuestion) + ": " + std::to_string(e->nAnswer));
  if (e->dwKind == HALVEX_EVENT_ERROR)
    events.push_back(index + " error " + std::to_string(e->dwFesCode) + "/" + std::to_string(e->dwApiCode) + ": " +
                     std::to_string(e->nAnswer));
  if (e->dwKind != HALVEX_EVENT_OUTCOME) return;
  std::string text = std::to_string(e->dwIndex) + " " + kOutcomes[e->dwOutcome];
  if (e->dwReason) text += std::string(" ") + kReasons[e->dwReason];
  if (e->pwszOutput) {
    const std::string output = Utf8(e->pwszOutput);
    text += " " + output.substr(output.find_last_of('\\') + 1);
  }
  if (e->dwCode) text += " " + std::to_string(e->dwCode);
  events.push_back(text);
}

struct Case {
  const char* label;
  uint32_t type, action, status;
  Names plain, encrypted, listed;  // files in Docs\ (encrypted: the fake cipher's format)
  std::vector<uint32_t> encryptCodes, decryptCodes, promptAnswers, errorAnswers;
  Names events;
  Names linked = {};  // plain files that get a second name
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.label; }

class ListenerTest : public BatchTest, public ::testing::WithParamInterface<Case> {};

TEST_P(ListenerTest, ReportsEveryEntrysFate) {
  const Case& c = GetParam();
  for (const std::string& n : c.plain) drive.Write("Docs/" + n, "plain " + n);
  for (const std::string& n : c.encrypted) drive.Write("Docs/" + n, "FAKEENC\n" + n);
  for (const std::string& n : c.linked)
    std::filesystem::create_hard_link(drive.Native("Docs/" + n), drive.Native("Docs/" + n + ".link"));
  Names listed;
  for (const std::string& n : c.listed) listed.push_back("Docs\\" + n);
  SetList(listed);
  fakes::CipherStep reporting = Succeed();
  reporting.percents = {100};
  for (uint32_t code : c.encryptCodes) fakes::script().encryptSteps.push_back(code ? Fail(code) : reporting);
  for (uint32_t code : c.decryptCodes) fakes::script().decryptSteps.push_back(code ? Fail(code) : Succeed());
  for (uint32_t a : c.promptAnswers) fakes::script().promptAnswers.push_back(static_cast<int32_t>(a));
  for (uint32_t a : c.errorAnswers) fakes::script().errorAnswers.push_back(static_cast<int32_t>(a));
  std::vector<uint32_t> results(c.listed.size());
  options.dwAction = c.action;
  if (c.type == 3 || c.type == 4) options.pdwFileResults = results.data();
  else options.dwStatus = c.status;

  Names events;
  HalvexSetListener(Record, &events);
  Run(c.type);
  HalvexSetListener(nullptr, nullptr);
  EXPECT_EQ(events, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ListenerTest,
    ::testing::Values(
        Case{"EncryptInPlace", 0, 1, 0, {"a.txt", ".h.txt", "b.txt"}, {}, {"a.txt", "gone.txt", ".h.txt", "b.txt"},
             {0, 1325}, {}, {5}, {11},
             {"0 percent 100", "0 done a.txtENX", "1 refused missing", "2 asked 2: 5", "2 skipped hidden",
              "3 error 1301/1325: 11", "3 skipped error-dialog 1325"}},
        Case{"HardLinkedFileRefused", 0, 1, 0, {"a.txt", "b.txt"}, {}, {"a.txt", "b.txt"}, {0}, {}, {}, {},
             {"0 refused hard-links", "1 percent 100", "1 done b.txtENX"}, {"a.txt"}},
        Case{"DecryptWithAWrongKey", 0, 0, 0, {}, {"a.dat.qelmenc", "b.dat.qelmenc"}, {"a.dat.qelmenc", "b.dat.qelmenc"},
             {}, {1001, 0}, {}, {}, {"0 passed-over 1001", "1 done b.dat"}},
        Case{"OutputExistsThenStop", 0, 1, 0, {"a.txt", "b.txt"}, {"a.txtENX"}, {"a.txt", "b.txt"},
             {}, {}, {6}, {}, {"0 asked 1: 6", "0 cancelled exists 10", "1 cancelled not-started"}},
        Case{"ErrorDialogStop", 0, 1, 0, {"a.txt", "b.txt"}, {}, {"a.txt", "b.txt"}, {1325}, {}, {}, {6},
             {"0 error 1301/1325: 6", "0 failed error-dialog 1325", "1 cancelled not-started"}},
        Case{"CopiesAllOrNothing", 5, 0, 0, {"a.txt", "b.txt", "c.txt"}, {}, {"a.txt", "gone.txt", "b.txt", "c.txt"},
             {0, 1325}, {}, {}, {},
             {"0 percent 100", "0 done a.txt.exe", "1 refused missing", "2 failed 1325", "0 rolled-back",
              "3 cancelled not-started"}},
        Case{"DecryptBeside", 1, 1, 0, {}, {"a.dat.qelmenc", "b.dat.qelmenc"}, {"a.dat.qelmenc", "b.dat.qelmenc"},
             {}, {1001, 0}, {}, {}, {"0 passed-over 1001", "1 done b.dat"}},
        Case{"MessageFolder", 3, 0, 0, {"a.txt"}, {"e.txt"}, {"a.txt", "gone.txt", "e.txt"}, {}, {}, {}, {},
             {"0 done a.txt.qelmenx", "1 refused missing", "2 failed 8501"}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace halvex::test
