// The process's batch output kind (see output_kind.h).
#include "records/output_kind.h"

#include <atomic>

namespace halvex::records {

namespace {
// A host may name destinations from another thread while a batch runs.
std::atomic<int32_t> g_outputKind{0};
}  // namespace

void SetBatchOutputKind(int32_t kind) { g_outputKind.store(kind, std::memory_order_relaxed); }

int32_t BatchOutputKind() { return g_outputKind.load(std::memory_order_relaxed); }

}  // namespace halvex::records
