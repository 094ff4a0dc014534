// Crash states: the file-system calls of real batches, recorded by the
// platform layer, replayed into every state a power cut may leave under the
// model in README.md, each materialised in a scratch folder and checked.
#include <gtest/gtest.h>

#include <set>

#include "platform/testing.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

using platform::FsCall;

bool IsFlush(const FsCall& c) { return c.kind == FsCall::kFlush || c.kind == FsCall::kSyncFolder; }
bool IsData(const FsCall& c) { return c.kind == FsCall::kWrite || c.kind == FsCall::kTruncate; }
// Operations on names, journaled in order: what a crash keeps of them is a prefix.
bool IsName(const FsCall& c) { return !IsFlush(c) && !IsData(c) && !(c.kind == FsCall::kCreate && c.path.empty()); }

struct Disk {
  std::map<std::string, uint64_t> names;  // native path -> file
  std::map<uint64_t, std::string> data;
};

// One state: the calls up to flush `from` all kept, then `names` more name
// operations up to the next flush, and each file's data as of its last flush
// plus `lag[file]` of its later writes (all of them where not listed).
struct State {
  size_t from, to, names;
  std::map<uint64_t, size_t> lag;
};

void ApplyData(Disk& d, const FsCall& c) {
  std::string& bytes = d.data[c.file];
  if (c.kind == FsCall::kTruncate) return bytes.resize(c.offset);
  if (bytes.size() < c.offset + c.bytes.size()) bytes.resize(c.offset + c.bytes.size());
  bytes.replace(c.offset, c.bytes.size(), c.bytes);
}

void ApplyName(Disk& d, const FsCall& c) {
  if (c.kind == FsCall::kCreate || c.kind == FsCall::kLink) d.names[c.path] = c.file;
  if (c.kind == FsCall::kUnlink) d.names.erase(c.path);
  if (auto it = d.names.find(c.path); c.kind == FsCall::kRename && it != d.names.end()) {
    d.names[c.path2] = it->second;
    d.names.erase(c.path);
  }
}

Disk Build(const Disk& start, const std::vector<FsCall>& calls, const State& s) {
  Disk d = start;
  std::map<uint64_t, size_t> seen, durable;  // data calls of each file, and those before its last flush
  for (size_t i = 0, names = 0; i < s.to; ++i) {
    const FsCall& c = calls[i];
    if (IsData(c)) ++seen[c.file];
    if (c.kind == FsCall::kFlush) durable[c.file] = seen[c.file];
    if (IsName(c) && (i < s.from || names++ < s.names)) ApplyName(d, c);
  }
  std::map<uint64_t, size_t> applied;
  for (size_t i = 0; i < s.to; ++i) {
    if (!IsData(calls[i])) continue;
    const uint64_t f = calls[i].file;
    const auto lag = s.lag.find(f);
    if (applied[f]++ < (lag == s.lag.end() ? seen[f] : durable[f] + lag->second)) ApplyData(d, calls[i]);
  }
  return d;
}

// Every state of the model: for each stretch between two flushes, each prefix
// of its name operations, and for each named file with writes not flushed
// yet, each shorter prefix of those writes.
std::vector<State> AllStates(const Disk& start, const std::vector<FsCall>& calls) {
  std::vector<size_t> starts{0};
  for (size_t i = 0; i < calls.size(); ++i)
    if (IsFlush(calls[i])) starts.push_back(i + 1);
  std::vector<State> states;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t from = starts[k], to = k + 1 < starts.size() ? starts[k + 1] - 1 : calls.size();
    const size_t names = std::count_if(calls.begin() + from, calls.begin() + to, IsName);
    std::map<uint64_t, size_t> unflushed;
    for (size_t i = 0; i < to; ++i) {
      if (calls[i].kind == FsCall::kFlush) unflushed.erase(calls[i].file);
      if (IsData(calls[i])) ++unflushed[calls[i].file];
    }
    for (size_t p = 0; p <= names; ++p) {
      states.push_back({from, to, p, {}});
      const Disk d = Build(start, calls, states.back());
      for (const auto& [path, file] : d.names)
        for (size_t q = 0; unflushed.count(file) && q < unflushed[file]; ++q) states.push_back({from, to, p, {{file, q}}});
    }
  }
  return states;
}

struct Scenario {
  std::string what;
  uint32_t type, action;  // request type; 1 encrypts
  std::map<std::string, std::string> originals;  // below the drive
};

class CrashStates : public ::testing::Test {
 protected:
  fs::path Native(const std::string& rel) const { return env_.Drive() / rel; }

  // Runs the scenario's batch with the calls recorded; returns the state before.
  Disk Record(const Scenario& sc, std::vector<FsCall>& calls) {
    std::vector<WString> list;
    for (const auto& [rel, bytes] : sc.originals) {
      WriteFile(Native(rel), bytes);
      list.push_back(SuiteEnvironment::Path(rel));
    }
    if (sc.action == 0) list = RunBatch(list, 1).outputs;
    Disk start;
    for (const auto& entry : fs::recursive_directory_iterator(env_.Root()))
      if (entry.is_regular_file()) {
        struct stat st;
        stat(entry.path().c_str(), &st);
        start.names[entry.path().string()] = st.st_ino;
        start.data[st.st_ino] = ReadFile(entry.path());
      }
    platform::RecordFsCalls(env_.Root().string(), &calls);
    std::vector<WString> storage = list;
    storage.push_back(WString());
    std::vector<WCHAR*> pointers;
    for (WString& p : storage) pointers.push_back(p.data());
    CFileList files(pointers.data());
    tagCRYPTOOPTIONS options{};
    options.dwAction = sc.action;
    tagCRYPTOPARAMS request{sc.type, Password(), &files, 0, &options};
    Halvex(&request);
    platform::RecordFsCalls({}, nullptr);
    EXPECT_EQ(request.dwErrCode, 0u) << sc.what;
    return start;
  }

  // The names a state holds that hold an original's bytes; lost: why it fails.
  std::set<std::string> Check(const Scenario& sc, const Disk& d, std::string& lost) {
    const fs::path scratch = env_.Drive() / "state";
    fs::remove_all(scratch);
    const std::string root = env_.Root().string() + "/";
    for (const auto& [path, file] : d.names) {
      const std::string rel = path.substr(root.size());
      if (rel.rfind("drive/", 0) != 0 && rel.find("/WLM/") == std::string::npos) continue;  // key store, settings
      const auto bytes = d.data.find(file);
      WriteFile(scratch / rel, bytes == d.data.end() ? std::string() : bytes->second);
    }
    std::set<std::string> kept, plain;
    for (const auto& entry : fs::recursive_directory_iterator(scratch)) {
      if (!entry.is_regular_file()) continue;
      const std::string rel = fs::relative(entry.path(), scratch).string(), name = entry.path().filename().string();
      if (IsCipherTempName(name) || name.rfind(".halvex-copy-", 0) == 0) continue;  // never a final name
      const std::string bytes = ReadFile(entry.path());
      const std::string own = IsDeleteAsideName(name) ? rel.substr(0, rel.size() - name.size()) +
                                                            name.substr(kDeleteAsidePrefix) : rel;
      const auto original = sc.originals.find(own.substr(6));  // less "drive/"
      if (original != sc.originals.end() && original->second == bytes) {
        kept.insert(original->first), plain.insert(rel);
        continue;
      }
      auto [cached, fresh] = opened_.try_emplace(bytes);
      if (fresh) cached->second = OpenEncrypted(SuiteEnvironment::Path("state/" + rel), env_.Drive() / "open", WTEXT("C:\\open"));
      bool found = false;
      for (const auto& [orel, obytes] : sc.originals)
        if (cached->second.code == ZQCA_OK && fs::path(orel).filename() == cached->second.name && obytes == cached->second.content)
          kept.insert(orel), found = true;
      if (!found) lost = rel + ": a final name that holds no original (code " + std::to_string(cached->second.code) + ")";
    }
    for (const auto& [rel, bytes] : sc.originals)
      if (!kept.count(rel)) lost = rel + ": neither intact nor recoverable";
    return plain;
  }

  SuiteEnvironment env_{SuiteEnvironment::FastBase()};
  std::map<std::string, Opened> opened_;  // by content
};

std::map<std::string, std::string> Files(const std::string& folder, int count, size_t big = 0) {
  std::map<std::string, std::string> files;
  for (int i = 0; i < count; ++i) files[folder + "/f" + std::to_string(i) + ".txt"] = Pattern(size_t(i) * 397, unsigned(i + 1));
  if (big) files[folder + "/big.bin"] = Pattern(big, 99);
  return files;
}

TEST_F(CrashStates, NoStateLosesAFileOrBringsADeletedPlaintextBack) {
  cipher::SetKdfParams(kCheapKdf);
  NonInteractive(progress::Choice::kSkip, progress::ErrorChoice::kSkip);
  std::vector<Scenario> scenarios;
  for (uint32_t action : {1u, 0u}) {
    std::map<std::string, std::string> files = Files("a", 40), more = Files("b", 3, 600 << 10);
    files.insert(more.begin(), more.end());
    scenarios.push_back({action ? "encrypt in place" : "decrypt in place", REQ_IN_PLACE, action, files});
  }
  scenarios.push_back({"copy", REQ_SELF_EXTRACT, 1, Files("c", 4)});
  scenarios.push_back({"mail", REQ_MESSAGE, 1, Files("m", 8)});
  // The default run checks a spread of each recording's states, every one
  // after the batch returned among them; HALVEX_LONG=1 checks them all.
  const size_t budget = Long() ? SIZE_MAX : 150;
  size_t checked = 0, lost = 0, exposed = 0;
  for (bool named : {false, true})
    for (const Scenario& sc : scenarios) {
      SCOPED_TRACE(sc.what + (named ? ", named temporaries" : ", unnamed outputs"));
      fs::remove_all(env_.Drive());
      fs::remove_all(env_.Root() / "run" / "halvex" / "WLM");
      fs::create_directories(env_.Drive());
      platform::ForceNamedTemporaries(named);
      std::vector<FsCall> calls;
      const Disk start = Record(sc, calls);
      platform::ForceNamedTemporaries(false);
      const std::vector<State> states = AllStates(start, calls);
      std::string why;
      const std::set<std::string> plainAtEnd = Check(sc, Build(start, calls, {calls.size(), calls.size(), 0, {}}), why);
      ASSERT_EQ(why, "");
      const size_t step = std::max<size_t>(1, states.size() / budget);
      for (size_t i = 0; i < states.size(); ++i) {
        const bool afterReturn = states[i].to == calls.size();
        if (i % step != 0 && !afterReturn) continue;
        ++checked;
        const std::set<std::string> plain = Check(sc, Build(start, calls, states[i]), why);
        if (!why.empty()) ++lost, ADD_FAILURE() << "state " << i << ": " << why;
        why.clear();
        if (afterReturn && !std::includes(plainAtEnd.begin(), plainAtEnd.end(), plain.begin(), plain.end()))
          ++exposed, ADD_FAILURE() << "state " << i << ": a deleted plaintext is back";
      }
    }
  std::printf("crash states: %zu checked, %zu lost, %zu exposed\n", checked, lost, exposed);
  EXPECT_GE(checked, 1000u);
}

}  // namespace
}  // namespace halvex::reliability
