// Following a batch file by file. The library tells its host about a file
// only through the suite calls it makes (the window's file name, the
// questions, the error dialog, the message box); the command is linked so
// that those calls pass through here on their way to the suite libraries
// (ld --wrap), and an observer sees each one with the answer it got.
#pragma once

#include <cstdint>

#include "platform/wide.h"

namespace halvex::cli {

struct SuiteEvent {
  enum class Kind {
    kFileName,  // a window was given the (shortened) name of the current file
    kQuestion,  // hidden-file (2) or destination-exists (1) question
    kError,     // the per-file error dialog
    kMessage,   // a message box: a failed replacement
  };
  Kind kind;
  WStringView name;       // kFileName, kQuestion, kError
  int32_t question = 0;   // kQuestion
  uint32_t fes = 0;       // kError, kMessage
  uint32_t api = 0;       // kError, kMessage
  int32_t answer = 0;     // kQuestion, kError: the nResult the dialog left
};

class BatchObserver {
 public:
  virtual ~BatchObserver() = default;
  virtual void OnEvent(const SuiteEvent& event) = 0;
};

// Null: nobody listens. One batch runs at a time, on the calling thread.
void SetBatchObserver(BatchObserver* observer);

// Sets the observer for one scope.
class ObserverScope {
 public:
  explicit ObserverScope(BatchObserver& observer) { SetBatchObserver(&observer); }
  ~ObserverScope() { SetBatchObserver(nullptr); }
  ObserverScope(const ObserverScope&) = delete;
  ObserverScope& operator=(const ObserverScope&) = delete;
};

}  // namespace halvex::cli
