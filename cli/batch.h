// Running one batch through Halvex and telling, for every file, what became
// of it and why.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/paths.h"
#include "platform/wide.h"

namespace halvex::cli {

enum class FileStatus {
  kDone,        // encrypted, decrypted or copied
  kSkipped,     // left as it was, by an answer or a policy
  kPassedOver,  // refused by the cipher (no key opens it, unknown format, locked)
  kFailed,      // something went wrong; the reason says what
  kCancelled,   // the batch was stopped before or while this file ran
  kRolledBack,  // done, then undone because another file of an all-or-nothing batch failed
};

struct FileResult {
  std::string path;                  // native
  std::vector<std::string> outputs;  // native; empty unless done
  FileStatus status = FileStatus::kFailed;
  uint32_t code = 0;                 // the library's code for the file; 0 when done
  std::string reason;                // empty when done
  std::string placed;                // mail --to: the recipient's copy, native; empty if none
};

// The request's own fields after the call, read as its type defines them:
// the options record is a result array for the message batches and is not
// read at all by the self-extracting copy batch.
struct BatchCounters {
  uint32_t type = 0;  // the request's dwType
  uint32_t errCode = 0;
  // In-place batches (type 0) only.
  uint32_t status = 0;  // 1: stopped by cancel or a stop answer
  uint32_t succeeded = 0;
  uint32_t skipped = 0;
  uint32_t passedOver = 0;
  // Message batches (types 3, 4) only: one result per entry, in entry order.
  std::vector<uint32_t> results;
  uint32_t outCount = 0;
};
// Whether the request's type has the in-place counters, or the result array.
bool HasCounters(const BatchCounters& c);
bool HasResults(const BatchCounters& c);

struct BatchReport {
  std::vector<FileResult> files;
  BatchCounters counters;
  bool interrupted = false;  // Ctrl-C reached the batch
  std::optional<uint32_t> setupError;  // the engine could not be prepared; no file touched
  std::string folder;        // mail: the new message folder
  std::string placedIn;      // mail --to: the folder the recipients' copies went to
  // Files the batch skipped without a word for this code (plain files met by
  // decryption, encrypted ones met by encryption run again): the report sums
  // them up in one line, and they are no reason for status 1. 0: none.
  uint32_t leftAloneCode = 0;
  // encrypt -r: hidden folders whose files were never handed to the batch;
  // like plain files left alone by decryption, no reason for status 1.
  std::vector<HiddenFolder> hiddenLeftOut;
  // decrypt: a file restored under another name than its own gives is
  // listed, so no output goes unnamed.
  bool listRenamed = false;
};

// mail --to: copies each output into folder under the name a recipient
// opens (NAME.exe), never replacing a file; a copy that cannot be placed
// makes its entry failed, its output staying in the message folder.
void PlaceOutputs(BatchReport& report, const std::string& folder);

// Whether f is a file the batch left alone as already what the command makes
// of it (or, decrypting, never encrypted), summed up rather than reported.
bool IsLeftAlone(const BatchReport& report, const FileResult& f);

enum class InPlaceMode { kEncrypt, kEncryptSelfExtract, kDecrypt, kDecryptToTemp };

// Whether file is encrypted with a slot a password opens.
bool HasPasswordSlot(const InputFile& file);
// Whether any of files has a password slot and no key this user's key store
// holds opens it: a password given for them may be needed.
bool PasswordNeeded(const std::vector<InputFile>& files);

// Types 0, 5, 3 and 4. password: null for the stored key (type 0 only).
BatchReport RunInPlace(const std::vector<InputFile>& files, const WString* password, InPlaceMode mode);
BatchReport RunCopy(const std::vector<InputFile>& files, const WString& password);
BatchReport RunMail(const std::vector<InputFile>& files, const WString& password, bool yah);

// Hears every listener event of the in-place batches as it comes: a -j
// batch's process passes them to its parent. kind and index as the
// listener's; percent for a PERCENT event, else 0. Empty: nobody.
using EventTap = std::function<void(uint32_t kind, uint32_t index, int32_t percent)>;
void SetEventTap(EventTap tap);

// A result code of the library in words.
std::string DescribeCode(uint32_t code);
const char* StatusName(FileStatus status);

}  // namespace halvex::cli
