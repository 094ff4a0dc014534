// What leaves the Halvex shared library: Halvex and the three exported classes.
#pragma once

#if defined(_WIN32)
#if defined(HALVEX_BUILDING_DLL)
#define HALVEX_API __declspec(dllexport)
#else
#define HALVEX_API
#endif
#else
#define HALVEX_API __attribute__((visibility("default")))
#endif

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
