// -j without the processes: how the list is split, how a batch's report
// travels, and how the reports become one.
#include "cli/jobs.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "halvex/codes.h"

namespace halvex::cli {
namespace {

// A file costs about this much beyond its bytes (opens, flushes, the
// folder's flush), so that many small files weigh as they take.
constexpr uint64_t kFileWeight = 64u << 10;
// Below this many files per batch, starting processes costs more than the
// default -j gains; an explicit -j is always obeyed.
constexpr size_t kLeastFilesPerJob = 16;
constexpr unsigned kMostDefaultJobs = 8;

std::string FolderOf(const std::string& native) { return std::filesystem::path(native).parent_path().string(); }

}  // namespace

unsigned DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, kMostDefaultJobs);
}

unsigned JobsFor(unsigned told, size_t files) {
  const size_t wanted = told ? told : std::min<size_t>(DefaultJobs(), files / kLeastFilesPerJob);
  return static_cast<unsigned>(std::max<size_t>(1, std::min(wanted, files)));
}

std::vector<JobSpan> SplitByFolder(const std::vector<std::string>& natives, const std::vector<uint64_t>& sizes,
                                   unsigned n) {
  const size_t count = natives.size();
  std::vector<JobSpan> spans;
  if (count == 0) return spans;
  n = static_cast<unsigned>(std::clamp<size_t>(n, 1, count));
  std::vector<uint64_t> before(count + 1, 0);  // the work of the entries before each
  for (size_t i = 0; i < count; ++i) before[i + 1] = before[i] + sizes[i] + kFileWeight;
  std::vector<size_t> borders;  // entries that begin a folder's run
  for (size_t i = 1; i < count; ++i)
    if (FolderOf(natives[i]) != FolderOf(natives[i - 1])) borders.push_back(i);
  const uint64_t total = before[count];
  size_t begin = 0;
  for (unsigned k = 1; k <= n && begin < count; ++k) {
    size_t end = count;
    if (k < n) {
      const uint64_t target = total / n * k;
      end = static_cast<size_t>(std::lower_bound(before.begin(), before.end(), target) - before.begin());
      // A folder's border within a quarter of a batch's work is taken instead.
      const uint64_t slack = total / n / 4;
      size_t best = end;
      uint64_t bestGap = slack + 1;
      for (size_t b : borders) {
        const uint64_t gap = before[b] > target ? before[b] - target : target - before[b];
        if (gap < bestGap) best = b, bestGap = gap;
      }
      end = std::clamp<size_t>(best, begin + 1, count - (n - k));
    }
    spans.push_back({begin, end});
    begin = end;
  }
  return spans;
}

WireWriter& WireWriter::Number(uint32_t value) {
  for (int i = 0; i < 4; ++i) data_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return *this;
}

WireWriter& WireWriter::Text(std::string_view text) {
  Number(static_cast<uint32_t>(text.size()));
  data_.append(text);
  return *this;
}

std::optional<uint32_t> WireReader::Number() {
  if (data_.size() < 4) return std::nullopt;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(data_[i])) << (8 * i);
  data_.remove_prefix(4);
  return value;
}

std::optional<std::string> WireReader::Text() {
  auto size = Number();
  if (!size || data_.size() < *size) return std::nullopt;
  std::string text(data_.substr(0, *size));
  data_.remove_prefix(*size);
  return text;
}

std::string EncodeReport(const BatchReport& r) {
  WireWriter w;
  const BatchCounters& c = r.counters;
  w.Number(r.interrupted).Number(r.setupError.has_value()).Number(r.setupError.value_or(0));
  w.Number(c.type).Number(c.errCode).Number(c.status).Number(c.succeeded).Number(c.skipped);
  w.Number(c.passedOver).Number(c.outCount).Number(static_cast<uint32_t>(r.files.size()));
  for (const FileResult& f : r.files) {
    w.Text(f.path).Number(static_cast<uint32_t>(f.status)).Number(f.code).Text(f.reason);
    w.Number(static_cast<uint32_t>(f.outputs.size()));
    for (const auto& out : f.outputs) w.Text(out);
  }
  return std::move(w.data());
}

std::optional<BatchReport> DecodeReport(std::string_view data) {
  WireReader in(data);
  BatchReport r;
  BatchCounters& c = r.counters;
  auto interrupted = in.Number(), hasSetup = in.Number(), setup = in.Number();
  auto type = in.Number(), err = in.Number(), status = in.Number(), ok = in.Number(), skipped = in.Number();
  auto passed = in.Number(), outCount = in.Number(), files = in.Number();
  if (!files) return std::nullopt;
  r.interrupted = *interrupted != 0;
  if (*hasSetup) r.setupError = *setup;
  c = {*type, *err, *status, *ok, *skipped, *passed, {}, *outCount};
  for (uint32_t i = 0; i < *files; ++i) {
    FileResult f;
    auto path = in.Text();
    auto fileStatus = in.Number(), code = in.Number();
    auto reason = in.Text();
    auto outputs = in.Number();
    if (!outputs || *fileStatus > static_cast<uint32_t>(FileStatus::kRolledBack)) return std::nullopt;
    f.path = std::move(*path);
    f.status = static_cast<FileStatus>(*fileStatus);
    f.code = *code;
    f.reason = std::move(*reason);
    for (uint32_t k = 0; k < *outputs; ++k) {
      auto out = in.Text();
      if (!out) return std::nullopt;
      f.outputs.push_back(std::move(*out));
    }
    r.files.push_back(std::move(f));
  }
  return r;
}

BatchReport MergeReports(const std::vector<InputFile>& files, const std::vector<JobSpan>& spans,
                         const std::vector<std::optional<BatchReport>>& parts, const std::vector<std::string>& lost) {
  BatchReport merged;
  merged.counters.type = REQ_IN_PLACE;
  // A batch that could not start (a key store that cannot be read) could not
  // for any of them: the run is refused as one batch's would be.
  for (const auto& part : parts)
    if (part && part->setupError) {
      merged.setupError = part->setupError;
      merged.counters = part->counters;
      return merged;
    }
  for (size_t k = 0; k < spans.size(); ++k) {
    const JobSpan& span = spans[k];
    const auto& part = parts[k];
    if (!part || part->files.size() != span.end - span.begin) {
      for (size_t i = span.begin; i < span.end; ++i) {
        FileResult r;
        r.path = files[i].native;
        r.status = FileStatus::kFailed;
        r.reason = "its batch's process ended before telling (" + (k < lost.size() ? lost[k] : std::string("?")) +
                   "); the file is as that left it: itself, or done with its output beside or instead of it";
        merged.files.push_back(std::move(r));
      }
      merged.counters.status = 1;
      continue;
    }
    merged.files.insert(merged.files.end(), part->files.begin(), part->files.end());
    BatchCounters& c = merged.counters;
    c.succeeded += part->counters.succeeded;
    c.skipped += part->counters.skipped;
    c.passedOver += part->counters.passedOver;
    c.outCount += part->counters.outCount;
    c.status = std::max(c.status, part->counters.status);
    // The request keeps the code of the last entry that set one: the list's
    // later batch holds the later entries.
    if (part->counters.errCode) c.errCode = part->counters.errCode;
    merged.interrupted = merged.interrupted || part->interrupted;
  }
  return merged;
}

}  // namespace halvex::cli
