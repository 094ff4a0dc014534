// -j: an in-place batch split into batches that run side by side, one
// process each (the library runs one batch per process). The parent asks the
// questions, draws the one progress line and writes the one report; each
// batch's process is quiet and tells its parent everything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/batch.h"

namespace halvex::cli {

// The batches -j gives when not told: the number of cores, at most 8.
unsigned DefaultJobs();

// How many batches a run of files takes: n as told, else the default for a
// list long enough that more processes pay for their start; never more than
// there are files.
unsigned JobsFor(unsigned told, size_t files);

// Entries [begin, end) of the list.
struct JobSpan {
  size_t begin = 0, end = 0;
};
// Cuts the list (in its order, where each folder's files stand together)
// into at most n runs of about equal work, at a folder's border where one is
// near; a folder is cut only where there are fewer folders than batches.
std::vector<JobSpan> SplitByFolder(const std::vector<std::string>& natives, const std::vector<uint64_t>& sizes,
                                   unsigned n);

// The messages between parent and batch: numbers and strings, in order.
class WireWriter {
 public:
  WireWriter& Number(uint32_t value);
  WireWriter& Text(std::string_view text);
  std::string& data() { return data_; }

 private:
  std::string data_;
};
class WireReader {
 public:
  explicit WireReader(std::string_view data) : data_(data) {}
  // Nothing once the data runs short: a message cut off is refused whole.
  std::optional<uint32_t> Number();
  std::optional<std::string> Text();

 private:
  std::string_view data_;
};

// A batch's report as its process sends it to the parent.
std::string EncodeReport(const BatchReport& report);
std::optional<BatchReport> DecodeReport(std::string_view data);

// One report of the whole list from the batches' own, in list order, read as
// one batch's would be. A batch without a report (its process died) leaves
// its files failed, with lost saying how it ended.
BatchReport MergeReports(const std::vector<InputFile>& files, const std::vector<JobSpan>& spans,
                         const std::vector<std::optional<BatchReport>>& parts, const std::vector<std::string>& lost);

// Runs the in-place batch as JobsFor says; nothing when that is one batch
// (or the system cannot), and the caller runs it itself.
std::optional<BatchReport> RunInPlaceSideBySide(const Options& o, const std::vector<InputFile>& files,
                                                const WString* password, InPlaceMode mode);

// The process of one batch: its files and password come from the parent on
// o.jobChannel, its events and questions go there, and its report last.
int ServeJob(const Options& o);

}  // namespace halvex::cli
