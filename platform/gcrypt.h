// One start-up of libgcrypt, and one source of random bytes, for everything
// in the process that uses them: the engine's random keys, the cipher
// library and the key store.
#pragma once

#include <cstddef>

namespace halvex::platform {

// Readies libgcrypt once per process (thread-safe): the kernel's random
// generator, a secure-memory pool that grows as needed, initialisation
// finished. A host that finished initialising libgcrypt itself keeps its own
// settings. Returns false when the installed libgcrypt is too old to use.
bool InitialiseGcrypt();

// size random bytes into out from the kernel's generator through libgcrypt,
// readied first: keys, salts, nonces and unique names alike. Aborts the
// process when no random source can be had, never returns weak bytes.
void RandomBytes(void* out, size_t size);

}  // namespace halvex::platform
