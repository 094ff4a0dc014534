// Whole percentages for the caller's progress callback, each told once.
#pragma once

#include <cstdint>

#include "suite/zqca.h"

namespace halvex::cipher {

class Reporter {
 public:
  Reporter(ZQCA_ProgressProc proc, uint64_t total) : proc_(proc), total_(total) {}

  // Tells 0. False when the caller asks to stop.
  bool Begin() { return Tell(0); }
  // Tells the percentage of done bytes when it changed. False to stop.
  bool Advance(uint64_t done) {
    int32_t percent = total_ == 0 ? 100 : static_cast<int32_t>(done * 100 / total_);
    return percent == last_ || Tell(percent);
  }

 private:
  bool Tell(int32_t percent) {
    last_ = percent;
    return !proc_ || proc_(percent) == 0;
  }

  ZQCA_ProgressProc proc_;
  uint64_t total_;
  int32_t last_ = -1;
};

}  // namespace halvex::cipher
