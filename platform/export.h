// What leaves the Halvex shared library (HALVEX_API: Halvex, the listener
// and the three exported classes) and what leaves the suite libraries.
#pragma once

#include "halvex/types.h"

// The suite libraries' calls are exported from their own DLLs on Windows and
// visible to the linker everywhere, so a test can link a fake instead.
#if defined(_WIN32)
#if defined(HALVEX_BUILDING_SUITE)
#define SUITE_API __declspec(dllexport)
#else
#define SUITE_API
#endif
#else
#define SUITE_API __attribute__((visibility("default")))
#endif
