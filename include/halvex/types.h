// The two things every header of the host's interface needs, and nothing
// more: the library's wide character and the mark of what it exports. A host
// that includes these headers gets no Win32 names of the library's own.
// Plain C, so that the C-linkage headers can include it too.
#pragma once

// One UTF-16 code unit, the character of every path and password in a
// request: the same type as the Win32 WCHAR on each system.
#if defined(_WIN32)
typedef wchar_t HALVEX_WCHAR;
#else
typedef char16_t HALVEX_WCHAR;
#endif

// What leaves the Halvex shared library.
#if defined(_WIN32)
#if defined(HALVEX_BUILDING_DLL)
#define HALVEX_API __declspec(dllexport)
#else
#define HALVEX_API
#endif
#else
#define HALVEX_API __attribute__((visibility("default")))
#endif
