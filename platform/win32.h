// The Win32 subset that Halvex and its suite libraries call.
//
// On Windows this is <windows.h> itself. Elsewhere it declares the same
// names, types and constants, implemented over POSIX in platform/posix/,
// with the behaviour the library relies on (see each function below).
// Nothing above this layer calls the operating system directly.
#pragma once

#include <cstdint>
#include <type_traits>

#include "halvex/types.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// CoInitialize and CoUninitialize, left out of <windows.h> by WIN32_LEAN_AND_MEAN.
#include <objbase.h>
// A wide literal in the platform's wide character type.
#define WTEXT(s) L##s
#else

// ---- Types --------------------------------------------------------------
// A wide character is one UTF-16 code unit on every platform.
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWSTR;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* LPVOID;
typedef long HRESULT;

#define WTEXT(s) u##s

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct _FILETIME {
  DWORD dwLowDateTime;   // 100-ns intervals since 1601-01-01 UTC, low half
  DWORD dwHighDateTime;  // high half
} FILETIME;

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    int32_t HighPart;
  };
  int64_t QuadPart;
} LARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES;  // never used: always null
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define MAX_PATH 260

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;  // size, upper 32 bits
  DWORD nFileSizeLow;   // size, lower 32 bits
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW;

// ---- Constants -----------------------------------------------------------
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define FILE_ATTRIBUTE_READONLY 0x00000001u   // no write bit set
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u     // user.DOSATTRIB, or a dot-name
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u     // user.DOSATTRIB
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u     // no other bit set

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

// Error codes as GetLastError reports them.
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_PROTECT 19
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
// Further codes the POSIX layer reports for conditions the ones above do
// not name (the values are Windows' own).
#define ERROR_NOT_SAME_DEVICE 17        // a folder moved to another file system
#define ERROR_NO_MORE_FILES 18          // a wildcard search matched nothing
#define ERROR_GEN_FAILURE 31            // an errno with no closer equivalent
#define ERROR_NEGATIVE_SEEK 131         // a seek before the start of the file
#define ERROR_FILE_TOO_LARGE 223
#define ERROR_DIRECTORY 267             // a folder was expected
#define ERROR_NOACCESS 998              // a buffer the call may not touch (EFAULT)
#define ERROR_INVALID_USER_BUFFER 1784  // WriteFile from a null buffer
#define ERROR_IO_DEVICE 1117            // EIO
#define ERROR_CANT_RESOLVE_FILENAME 1921  // a loop of symbolic links

// CoInitialize: the first call on a thread, and a repeated one.
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)

// ---- Errors -------------------------------------------------------------
// Thread-local, set by every call below that fails (errno mapped).
DWORD GetLastError();
void SetLastError(DWORD error);

// ---- Attributes ---------------------------------------------------------
// stat (following links): 0x10 folder; 0x1 when no write bit is set; 0x2 and
// 0x4 from the user.DOSATTRIB extended attribute, or 0x2 for a name starting
// with "." when that attribute is absent; 0x80 when no other bit is set.
// INVALID_FILE_ATTRIBUTES when stat fails.
DWORD GetFileAttributesW(LPCWSTR path);
// Read-only <-> write bits; hidden and system -> user.DOSATTRIB (removed when
// neither is set); FILE_ATTRIBUTE_NORMAL clears all.
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);

// ---- Handles ------------------------------------------------------------
// Regular files only (anything else fails with 5, without blocking). Share
// modes follow Windows across processes (see posix/sharing.cpp): a conflict
// fails at once with 32; an open with no access never conflicts. A handle
// reads and writes only as its access allows (else 5).
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, LPDWORD written, void* overlapped);
BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size);
BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD method);
BOOL SetEndOfFile(HANDLE handle);
// fsync of the file's data and metadata.
BOOL FlushFileBuffers(HANDLE handle);
BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* access, FILETIME* write);
BOOL SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* access, const FILETIME* write);

// ---- Whole files --------------------------------------------------------
// Refuses a read-only file (5), a folder (5) and a file another handle holds
// without FILE_SHARE_DELETE (32).
BOOL DeleteFileW(LPCWSTR path);
// Never replaces an existing target (183), but a move onto its own name
// succeeds; a source held without FILE_SHARE_DELETE fails with 32.
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
// Data, mode and DOS attributes, written under a temporary name and renamed
// into place; with failIfExists an existing target fails with 80.
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
// mkdir; an existing folder fails with 183.
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
BOOL RemoveDirectoryW(LPCWSTR path);
// Creates "<folder>\<first three characters of prefix><hex>.TMP" exclusively
// and writes its path to name (MAX_PATH characters). Returns the number used,
// 0 on failure (ERROR_DIRECTORY for a missing folder, as Windows reports it,
// with a given number too). Numbers come from a counter kept per process.
// Windows names are case-insensitive; Wine writes the same name in lower case.
UINT GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);

// ---- Directory search ---------------------------------------------------
// For a path without wildcards: one entry with its size in high and low halves.
// With wildcards in the last component: the first match in name order, "."
// and ".." first below a drive's root, as NTFS lists them.
HANDLE FindFirstFileW(LPCWSTR path, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

// ---- Misc ---------------------------------------------------------------
// Monotonic milliseconds, truncated to 32 bits.
DWORD GetTickCount();
int lstrlenW(LPCWSTR text);
// COM has nothing to do on POSIX; the calls are counted so tests see them pair.
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

#endif  // _WIN32

// The host's headers spell the wide character without the Win32 names.
static_assert(std::is_same_v<WCHAR, HALVEX_WCHAR>);
