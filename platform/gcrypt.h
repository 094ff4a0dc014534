// One start-up of libgcrypt for everything in the process that uses it: the
// engine's random keys, the cipher library and the key store.
#pragma once

namespace halvex::platform {

// Readies libgcrypt once per process (thread-safe): the kernel's random
// generator, a secure-memory pool that grows as needed, initialisation
// finished. A host that finished initialising libgcrypt itself keeps its own
// settings. Returns false when the installed libgcrypt is too old to use.
bool InitialiseGcrypt();

}  // namespace halvex::platform
