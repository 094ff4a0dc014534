// What a host program controls besides the request itself: whether anybody
// may be asked, how questions are answered when nobody is, cancelling a
// running batch, whether the library may write to the terminal, and turning
// its own paths and passwords into the library's form; and what the library
// tells about itself: its version and a sentence for each code.
//
// Plain C types only, so the same calls work from any compiler across the
// Windows DLL boundary. On Linux these functions live in libhalvex.so; on
// Windows most live in the progress library's DLL (libhalvex_progress.dll),
// whose windows obey them, and those marked so in halvex.dll. Set the
// controls before calling Halvex; only HalvexCancel is meant to be called
// while a batch runs (from any thread).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "halvex/types.h"  // HALVEX_WCHAR

#if defined(_WIN32)
#if defined(HALVEX_BUILDING_SUITE)
#define HALVEX_HOST_API __declspec(dllexport)
#else
#define HALVEX_HOST_API __declspec(dllimport)
#endif
#else
#define HALVEX_HOST_API __attribute__((visibility("default")))
#endif


// Returned by the setters below.
#define HALVEX_OK 0
#define HALVEX_INVALID_ARGUMENT 87  // a value outside its list; nothing changed
#define HALVEX_NO_MEMORY 8          // memory ran out; nothing changed

// ---- Questions -------------------------------------------------------------
// Who answers the library's questions (a hidden file, an output that exists,
// a file that failed).
#define HALVEX_ASK_AUTO (-1)  // the default: the user when stdin is a terminal
                              // (on Windows, and on a Linux desktop: when the
                              // windows are shown)
#define HALVEX_ASK_NEVER 0    // nobody: the policies below answer every question
#define HALVEX_ASK_USER 1     // the user, on the terminal (or in a dialog on Windows)

// Answers to "the output exists, replace it?" and "this file is hidden,
// encrypt it?" when nobody is asked.
#define HALVEX_ANSWER_SKIP 0  // leave the file as it is, count it skipped (the default)
#define HALVEX_ANSWER_YES 1   // replace the output / encrypt or decrypt the hidden file
#define HALVEX_ANSWER_STOP 2  // end the batch here (type 0 reports dwStatus 1 after
                              // the existing-output question, not the hidden-file one)

// Answers to "this file failed" when nobody is asked.
#define HALVEX_ON_ERROR_SKIP 0        // go on with the next file (the default)
#define HALVEX_ON_ERROR_STOP 1        // end the batch here, as a cancel does
#define HALVEX_ON_ERROR_RETRY_ONCE 2  // try the file once more, then skip it; skip at
                                      // once what a retry meets again (a damaged
                                      // file, a format, a stored name, a long path)

#ifdef __cplusplus
extern "C" {
#endif

// One of the HALVEX_ASK_ values. HALVEX_ASK_NEVER is what a service or a
// program without a user wants: nothing ever waits for an answer.
HALVEX_HOST_API int HalvexSetInteractive(int mode);

// The answers given when nobody is asked: HALVEX_ANSWER_ values for an
// existing output and for a hidden file, a HALVEX_ON_ERROR_ value for a
// failed file. All three default to skipping, which loses nothing.
HALVEX_HOST_API int HalvexSetPolicies(int onExists, int onHidden, int onError);

// Whether in-place encryption takes a file that has other names (hard
// links). Its content would stay readable under them, so the default refuses
// it before anything is written (outcome REFUSED, reason
// HALVEX_REASON_HARD_LINKS, code 1314). Decryption and the batches that keep
// their sources are never affected. Exported by the library itself
// (halvex.dll on Windows), which applies it.
#define HALVEX_LINKS_REFUSE 0   // the default
#define HALVEX_LINKS_ENCRYPT 1  // encrypt it anyway; the other names keep the plain content
HALVEX_API int HalvexSetLinkPolicy(int policy);

// Presses the cancel button of the running batch (and of any batch started
// before HalvexResetCancel): the file in progress is abandoned and left as
// it was, finished files stay finished, and in type 0 dwStatus reads 1.
// Safe from any thread and from a signal handler. Batches of types 3, 4 and
// 5, and types 1, 2 and 6 making self-extracting copies, have no cancel
// button and run to their end.
HALVEX_HOST_API void HalvexCancel(void);
// Releases the button again, for the next batch.
HALVEX_HOST_API void HalvexResetCancel(void);
// 1 while the button is pressed.
HALVEX_HOST_API int HalvexCancelRequested(void);

// Non-zero: the library writes nothing to stderr (no progress line, no
// message lines) and opens no progress window or message box. Questions are
// still asked when HalvexSetInteractive allows it.
HALVEX_HOST_API void HalvexSetQuiet(int quiet);

// ---- Recipients and identities ---------------------------------------------
// Public-key encryption: a file encrypted to a recipient opens with the
// matching identity alone, with no password and on any key store. The
// forms are one line of text each: a recipient "halvex1..." (halvex keygen
// prints one), an identity "HALVEX-SECRET-KEY-1..." (the line of an identity
// file; keep it as secret as a key store). Both carry a checksum, so a line
// mistyped or cut short is refused. These three are exported by the cipher
// library (libhalvex_cipher.dll on Windows); they hold until changed, for
// every batch after.
#define HALVEX_RECIPIENTS_ALSO 0  // the batch's password and key-store slots as well
#define HALVEX_RECIPIENTS_ONLY 1  // the recipients' slots alone: the sender's
                                  // password and key store cannot open the file

// Every file encrypted from now on also opens with each recipient's
// identity (at most 128 lines). With HALVEX_RECIPIENTS_ONLY nothing else
// opens it. HALVEX_INVALID_ARGUMENT (nothing changed): a line that is no
// recipient, too many, or another value of only. count 0 clears the list.
HALVEX_HOST_API int HalvexSetRecipients(const char* const* lines, size_t count, int only);
// Decryption from now on tries this identity first, on the files made for
// it; before the password, and whatever the key store. HALVEX_INVALID_ARGUMENT:
// the line is no identity. The library keeps a copy: wipe the line after.
HALVEX_HOST_API int HalvexAddIdentity(const char* line);
// Forgets (and wipes) every identity added.
HALVEX_HOST_API void HalvexClearIdentities(void);

// ---- The library itself ----------------------------------------------------
// These three are exported by the library itself (halvex.dll on Windows).

// The library's version as text ("0.1.0"), and as numbers into whichever of
// major, minor and patch are not null. Before 1.0 a minor version may change
// the interface: compare it with the version the host was built against
// (the CMake package's Halvex_VERSION).
HALVEX_API const char* HalvexVersion(int* major, int* minor, int* patch);

// One constant English sentence for a code of halvex/codes.h, as a host shows
// it to a user or writes it to a log: a request's dwErrCode, an element of
// pdwFileResults, or either code of an error question or a listener event.
// A value with two meanings (1015, 1301, 1313, ...) gets a sentence naming
// both and where each is read. Any other value gives "unknown code N", text
// that stays valid until the next call on the same thread. Never null.
HALVEX_API const char* HalvexDescribeCode(uint32_t code);

// A password typed or stored as UTF-8 in the wide form a request takes
// (pwszPassword), as the halvex command turns its own: sizes and writes as the
// path calls below do (the units needed with the final NUL; nothing written
// unless all of it fits), and 0 for bytes that are not UTF-8 (the
// three-byte form of a lone surrogate is taken, as the command takes it).
// Nothing is copied on the way: wipe the buffer (and the UTF-8 text) once
// the batch is over.
HALVEX_API size_t HalvexPasswordFromUtf8(const char* utf8, HALVEX_WCHAR* buffer, size_t capacity);

// ---- Paths -----------------------------------------------------------------
// The library names files the Windows way ("Z:\home\ann\a.txt" for
// "/home/ann/a.txt" on Linux; see HALVEX_DRIVES for more drive letters).
// Both calls write at most capacity characters including the final NUL and
// return the number of characters the whole result needs including that NUL,
// so a call with a null buffer and capacity 0 sizes it. 0: the path has no
// form on the other side (a relative path, a drive letter with no folder
// mapped to it, ...) and nothing was written.

// A native absolute path (UTF-8; on Windows the path as it is) in the
// library's form, for a request's file list.
HALVEX_HOST_API size_t HalvexFromNativePath(const char* native, HALVEX_WCHAR* buffer, size_t capacity);
// A path of the library's (an output, a file the list hands back) as the
// system names it, in UTF-8 bytes to pass to open() or to show.
HALVEX_HOST_API size_t HalvexToNativePath(const HALVEX_WCHAR* path, char* buffer, size_t capacity);

#ifdef __cplusplus
}  // extern "C"
#endif
