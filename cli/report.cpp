// Text and JSON reports.
#include "cli/report.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/paths.h"
#include "halvex/codes.h"
#include "platform/paths.h"
#include "util/fesutil.h"

namespace halvex::cli {
namespace {

using nlohmann::ordered_json;

// Names are UTF-8 (or WTF-8 for a lone surrogate); the JSON stays valid
// whatever they hold.
std::string Dump(const ordered_json& j) {
  return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

ordered_json SummaryJson(const Summary& s) {
  return {{"succeeded", s.succeeded}, {"skipped", s.skipped},     {"passed_over", s.passedOver},
          {"failed", s.failed},       {"cancelled", s.cancelled}, {"rolled_back", s.rolledBack},
          {"not_encrypted", s.notEncrypted}, {"already_encrypted", s.alreadyEncrypted},
          {"hidden_folders", s.hiddenFolders},
          {"hidden_folder_files", s.hiddenFiles}};
}

// The request's fields as its type defines them, nothing read through the
// wrong view of the options record.
ordered_json BatchJson(const BatchCounters& c) {
  ordered_json j{{"type", c.type}, {"error_code", c.errCode}};
  if (HasCounters(c)) {
    j["status"] = c.status;
    j["succeeded"] = c.succeeded;
    j["skipped"] = c.skipped;
    j["passed_over"] = c.passedOver;
  }
  if (HasResults(c)) j["results"] = c.results;
  j["outputs"] = c.outCount;
  return j;
}

std::string Counted(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string StateName(const FileState& s) {
  if (s.selfExtracting) return "self-extracting";
  return s.encrypted ? "encrypted" : "plain";
}

// What opens an encrypted file, in words; empty for a plain one.
std::string Needs(const FileState& s) {
  if (!s.encrypted) return "";
  std::string needs;
  if (s.keyStore) needs = s.keyStoreId ? "key store " + Hex8(s.keyStoreId) : "a key store";
  if (s.password) needs += needs.empty() ? "password" : " or password";
  return needs.empty() ? "?" : needs;
}

// A key's creation time in UTC, or nothing when unknown.
std::optional<std::string> Created(int64_t seconds, const char* format) {
  if (seconds <= 0) return std::nullopt;
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* utc = std::gmtime(&t);
  char text[32];
  if (!utc || !std::strftime(text, sizeof text, format, utc)) return std::nullopt;
  return std::string(text);
}

// A decryption's output under a name the encrypted file's own does not give.
bool Renamed(const FileResult& f) {
  if (f.outputs.empty()) return false;
  const auto source = platform::FromNativePath(f.path), output = platform::FromNativePath(f.outputs.front());
  return source && output && !util::IsOwnPlainName(*source, *output);
}

}  // namespace

std::string Hex8(uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}

Summary Summarize(const BatchReport& report) {
  Summary s;
  s.hiddenFolders = report.hiddenLeftOut.size();
  for (const auto& h : report.hiddenLeftOut) s.hiddenFiles += h.files;
  for (const auto& f : report.files) {
    if (IsLeftAlone(report, f)) {
      ++(f.code == FES_ALREADY_ENCRYPTED ? s.alreadyEncrypted : s.notEncrypted);
      continue;
    }
    switch (f.status) {
      case FileStatus::kDone: ++s.succeeded; break;
      case FileStatus::kSkipped: ++s.skipped; break;
      case FileStatus::kPassedOver: ++s.passedOver; break;
      case FileStatus::kFailed: ++s.failed; break;
      case FileStatus::kCancelled: ++s.cancelled; break;
      case FileStatus::kRolledBack: ++s.rolledBack; break;
    }
  }
  return s;
}

int ExitStatusOf(const BatchReport& report) {
  if (report.setupError) return kExitUsage;
  bool allDone = true;
  for (const auto& f : report.files) allDone = allDone && (f.status == FileStatus::kDone || IsLeftAlone(report, f));
  // Ctrl-C that stopped the batch before every file was done, at a question
  // or while a file ran.
  if (report.interrupted && !allDone) return kExitCancelled;
  return allDone ? kExitDone : kExitSomeNotDone;
}

std::string TextReport(const std::string& command, const BatchReport& report, bool listDone) {
  std::ostringstream out;
  const Summary s = Summarize(report);
  if (!report.folder.empty()) out << "message folder: " << Printable(report.folder) << "\n";
  if (!report.placedIn.empty()) out << "placed in: " << Printable(report.placedIn) << "\n";
  for (const auto& f : report.files) {
    if (IsLeftAlone(report, f)) continue;
    if (f.status == FileStatus::kDone) {
      if (!listDone && !(report.listRenamed && Renamed(f))) continue;
      out << "  done         " << Printable(f.path);
      for (const auto& o : f.outputs) out << " -> " << Printable(o);
      if (!f.placed.empty()) out << " -> " << Printable(f.placed);
      out << "\n";
      continue;
    }
    std::string status = StatusName(f.status);
    status.resize(12, ' ');
    out << "  " << status << " " << Printable(f.path) << ": " << f.reason;
    if (f.code) out << " (code " << f.code << ")";
    out << "\n";
  }
  for (const auto& h : report.hiddenLeftOut)
    out << "  left alone   " << Printable(h.native) << ": a hidden folder with " << Counted(h.files, "file", "files") << "\n";
  if (s.hiddenFolders)
    out << Counted(s.hiddenFolders, "hidden folder", "hidden folders") << " (" << Counted(s.hiddenFiles, "file", "files")
        << ") left alone; --hidden includes them\n";
  if (s.notEncrypted == 1) out << "1 file was not encrypted and was left alone\n";
  if (s.notEncrypted > 1) out << s.notEncrypted << " files were not encrypted and were left alone\n";
  if (s.alreadyEncrypted == 1) out << "1 file was already encrypted and was left alone\n";
  if (s.alreadyEncrypted > 1) out << s.alreadyEncrypted << " files were already encrypted and were left alone\n";
  out << command << ": " << s.succeeded << " succeeded, " << s.skipped << " skipped, " << s.passedOver
      << " passed over, " << s.failed << " failed, " << s.cancelled << " cancelled";
  if (s.rolledBack) out << ", " << s.rolledBack << " rolled back";
  out << "\n";
  return out.str();
}

std::string JsonReport(const std::string& command, const BatchReport& report) {
  ordered_json files = ordered_json::array();
  for (const auto& f : report.files) {
    ordered_json o;
    o["path"] = f.path;
    o["output"] = f.outputs.empty() ? ordered_json(nullptr) : ordered_json(f.outputs.front());
    if (!report.placedIn.empty()) o["placed"] = f.placed.empty() ? ordered_json(nullptr) : ordered_json(f.placed);
    o["status"] = StatusName(f.status);
    o["code"] = f.code;
    o["reason"] = f.reason;
    files.push_back(std::move(o));
  }
  ordered_json j;
  j["command"] = command;
  if (!report.folder.empty()) j["folder"] = report.folder;
  if (!report.placedIn.empty()) j["placed_in"] = report.placedIn;
  j["files"] = std::move(files);
  ordered_json hidden = ordered_json::array();
  for (const auto& h : report.hiddenLeftOut) hidden.push_back({{"path", h.native}, {"files", h.files}});
  j["hidden_folders"] = std::move(hidden);
  j["summary"] = SummaryJson(Summarize(report));
  j["batch"] = BatchJson(report.counters);
  j["interrupted"] = report.interrupted;
  j["exit"] = ExitStatusOf(report);
  return Dump(j);
}

std::string TextStatus(const std::vector<FileState>& states) {
  std::ostringstream out;
  for (const auto& s : states) {
    std::string state = StateName(s);
    if (s.locked) state += ", locked";
    state.resize(std::max<size_t>(state.size(), 24), ' ');
    std::string needs = Needs(s);
    needs.resize(std::max<size_t>(needs.size(), 31), ' ');
    out << state << " " << needs << " " << Printable(s.path) << "\n";
  }
  return out.str();
}

std::string JsonStatus(const std::vector<FileState>& states) {
  ordered_json files = ordered_json::array();
  for (const auto& s : states) {
    ordered_json f{{"path", s.path}, {"state", StateName(s)}, {"locked", s.locked}};
    if (s.encrypted) {
      f["key_store"] = s.keyStore && s.keyStoreId ? ordered_json(Hex8(s.keyStoreId)) : ordered_json(nullptr);
      f["stored_key"] = s.keyStore;
      f["password"] = s.password;
    }
    files.push_back(std::move(f));
  }
  ordered_json j;
  j["command"] = "status";
  j["files"] = std::move(files);
  j["exit"] = 0;
  return Dump(j);
}

namespace {

// A FILETIME (100-ns intervals since 1601) in UTC, or nothing when it is not
// recorded or out of the calendar's reach.
std::optional<std::string> FileTimeText(uint64_t filetime, const char* format) {
  constexpr int64_t kUnixEpoch = 11644473600;  // seconds from 1601 to 1970
  if (filetime == 0) return std::nullopt;
  const std::time_t t = static_cast<std::time_t>(static_cast<int64_t>(filetime / 10000000) - kUnixEpoch);
  const std::tm* utc = std::gmtime(&t);
  char text[40];
  if (!utc || !std::strftime(text, sizeof text, format, utc)) return std::nullopt;
  return std::string(text);
}

std::string KindText(const FileHeader& h) {
  std::string kind = h.kind == "message" ? "message file" : h.kind == "self-extracting" ? "" : "encrypted in place";
  if (!h.program.empty())
    kind += std::string(kind.empty() ? "" : ", ") + "self-extracting" +
            (h.program == "windows" ? " (Windows program)"
             : h.program == "linux" ? " (Linux program)"
                                    : " (no program in front)");
  return h.locked ? kind + ", locked" : kind;
}

// What only the key reveals: version 2 on also seals the permissions.
std::vector<std::string> NeedsKey(const FileHeader& h) {
  if (h.version >= 2) return {"contents", "permissions"};
  return {"contents"};
}

}  // namespace

std::string TextInspect(const std::vector<FileHeader>& headers) {
  std::ostringstream out;
  for (const auto& h : headers) {
    if (!h.error.empty()) {
      out << Printable(h.path) << ": " << h.error << "\n";
      continue;
    }
    std::string needs;
    for (const auto& n : NeedsKey(h)) needs += (needs.empty() ? "" : ", ") + n;
    out << Printable(h.path) << "\n"
        << "  kind:          " << KindText(h) << "\n"
        << "  version:       " << h.version << "\n"
        << "  name:          " << Printable(h.name) << "\n"
        << "  size:          " << h.size << (h.size == 1 ? " byte" : " bytes") << "\n"
        << "  modified:      " << FileTimeText(h.modified, "%Y-%m-%d %H:%M:%S UTC").value_or("not recorded") << "\n"
        << "  key store:     "
        << (!h.storedKey ? "none" : h.keyStoreId ? Hex8(h.keyStoreId) : "yes (the file does not record which)") << "\n"
        << "  password:      " << (h.password ? "yes" : "no") << "\n";
    if (h.recipients > 0) out << "  recipients:    " << h.recipients << "\n";
    out << "  needs the key: " << needs << "\n";
  }
  return out.str();
}

std::string JsonInspect(const std::vector<FileHeader>& headers, int exitStatus) {
  ordered_json files = ordered_json::array();
  for (const auto& h : headers) {
    ordered_json f{{"path", h.path}};
    if (!h.error.empty()) {
      f["error"] = h.error;
      files.push_back(std::move(f));
      continue;
    }
    auto modified = FileTimeText(h.modified, "%Y-%m-%dT%H:%M:%SZ");
    f["kind"] = h.kind;
    if (!h.program.empty()) f["program"] = h.program;
    f["locked"] = h.locked;
    f["version"] = h.version;
    f["name"] = h.name;
    f["size"] = h.size;
    f["modified"] = modified ? ordered_json(*modified) : ordered_json(nullptr);
    f["key_store"] = h.storedKey && h.keyStoreId ? ordered_json(Hex8(h.keyStoreId)) : ordered_json(nullptr);
    f["stored_key"] = h.storedKey;
    f["password"] = h.password;
    f["recipients"] = h.recipients;
    f["needs_key"] = NeedsKey(h);
    files.push_back(std::move(f));
  }
  ordered_json j;
  j["command"] = "inspect";
  j["files"] = std::move(files);
  j["exit"] = exitStatus;
  return Dump(j);
}

std::string TextKeys(const std::vector<keystore::KeyInfo>& keys) {
  std::ostringstream out;
  out << "ID        CREATED (UTC)\n";
  for (const auto& k : keys) {
    std::string line = Hex8(k.id) + "  " + Created(k.created, "%Y-%m-%d %H:%M:%S").value_or("unknown");
    if (k.encrypts) line.resize(30, ' '), line += k.chosen ? "encrypts (chosen with 'use')" : "encrypts";
    out << line << "\n";
  }
  return out.str();
}

std::string JsonKeys(const std::string& keyFile, const std::vector<keystore::KeyInfo>& keys) {
  ordered_json list = ordered_json::array();
  for (const auto& k : keys) {
    auto created = Created(k.created, "%Y-%m-%dT%H:%M:%SZ");
    list.push_back({{"id", Hex8(k.id)},
                    {"created", created ? ordered_json(*created) : ordered_json(nullptr)},
                    {"encrypts", k.encrypts},
                    {"chosen", k.chosen}});
  }
  ordered_json j;
  j["command"] = "keystore";
  j["path"] = keyFile;
  j["keys"] = std::move(list);
  j["exit"] = 0;
  return Dump(j);
}

std::string JsonError(const std::string& command, const std::string& message, int exitStatus) {
  ordered_json j;
  j["command"] = command;
  j["error"] = message;
  j["exit"] = exitStatus;
  return Dump(j);
}

}  // namespace halvex::cli
