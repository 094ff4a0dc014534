// The output kind of the batch that runs (or ran last) in this process: the
// window it uses, and through it what an encryption beside a source is named.
// One per process, as the batch state is: the batch sets it with its window,
// and every CFESUtil of the process reads it when naming a destination, a
// host's own instances included.
#pragma once

#include <cstdint>

namespace halvex::records {

// One of util's PROGRESS_ values; 0 before the first batch.
void SetBatchOutputKind(int32_t kind);
int32_t BatchOutputKind();

}  // namespace halvex::records
