// The library's one BatchState.
#include "batch/state.h"

BatchState& State() {
  // Built on first use (thread-safe) and destroyed when the module unloads,
  // so no other module-level object can reach it before it exists.
  static BatchState state;
  return state;
}
