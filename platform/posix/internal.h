// Helpers shared by the POSIX implementation of the Win32 subset. Private to
// platform/posix/.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/wide.h"

namespace halvex::platform::posix {

// ---- errors.cpp ----------------------------------------------------------
// The Win32 code for an errno value, without knowledge of the path.
DWORD ErrorFromErrno(int err);
// Records err as the last error. With the native path at hand, ENOENT
// becomes 3 rather than 2 when the path's parent folder is missing too.
void SetErrorFromErrno(int err);
void SetErrorFromErrno(int err, const std::string& native);
// Records code as the last error and returns FALSE, for one-line failures.
BOOL Fail(DWORD code);
BOOL FailErrno(int err, const std::string& native);

// ---- paths.cpp -----------------------------------------------------------
// The native form of a library path, or nothing with the last error set:
// 3 for a path without a mapped drive, 123 for a name that is not valid.
std::optional<std::string> NativeOrFail(LPCWSTR path);
// The final component of a library path ("" for a drive root).
WString FinalComponent(WStringView path);
// Folder part of a native path ("/" for "/x", "." for "x").
std::string NativeParent(const std::string& native);

// ---- names.cpp -----------------------------------------------------------
// One native name component in the library's form: never fails, and
// NativeName gives the same bytes back (see ToNativePath in wide.h).
WString LibraryName(std::string_view native);
// One library name component in native form, or nothing for a name that
// cannot stand: a "/" or NUL, a character Windows refuses in a name (control
// characters and " * : < > ? \ |), or mapped dots that would make "." or "..".
std::optional<std::string> NativeName(WStringView name);

// ---- attributes.cpp ------------------------------------------------------
// The process umask, read without changing it.
mode_t CurrentUmask();
// The DOS attributes of a file whose stat data is st; name is its final
// component (a dot-name is hidden unless the stored attribute says otherwise).
DWORD AttributesOf(const std::string& native, WStringView name, mode_t mode);
// The hidden and system bits of an open file, as AttributesOf would give them.
DWORD DosBitsOf(int fd, WStringView name);
// Stores the hidden and system bits of bits on an open file whose final name
// is name, writing nothing where the name alone gives the same answer.
// Returns 0 or an errno value.
int StoreDosBits(int fd, WStringView name, DWORD bits);
bool IsReadOnlyMode(mode_t mode);

// ---- handles.cpp ---------------------------------------------------------
// What a HANDLE points to. Handles are looked up in a registry, so a closed,
// foreign or mistyped handle fails with 6 instead of touching freed memory.
struct HandleObject {
  enum class Kind { File, Find };
  explicit HandleObject(Kind k, int descriptor = -1, DWORD asked = 0) : kind(k), fd(descriptor), access(asked) {}
  Kind kind;
  int fd = -1;          // File: the open descriptor
  DWORD access = 0;     // File: GENERIC_READ and GENERIC_WRITE as asked for
  // The stat the open took, good for the first question about the file
  // while nothing has been read, written or moved through the handle: an
  // answer nothing this process did since could contradict.
  struct stat opened {};
  std::atomic<bool> openedFresh{false};
  std::atomic<bool> atStart{true};  // nothing read, written or moved since the open
  // A look's handle (OpenToLook): it records nothing, so within a LookScope
  // its descriptor may serve the next open of the same path for reading.
  std::string lookedAt;
};
HANDLE RegisterHandle(HandleObject* object);
// The object behind handle, or null with the last error set to 6.
HandleObject* LookupHandle(HANDLE handle, HandleObject::Kind kind);
// Takes handle out of the registry; the caller releases what it holds.
HandleObject* UnregisterHandle(HANDLE handle, HandleObject::Kind kind);

// A POSIX time as a FILETIME.
FILETIME FileTimeOf(const struct timespec& ts);
// The descriptor of a file handle, or -1 with the last error set (6).
int DescriptorOf(HANDLE handle);
// ---- sharing.cpp ---------------------------------------------------------
// The access DeleteFileW and MoveFileW ask for on the file they remove.
constexpr DWORD kDeleteAccess = 0x00010000;
// Records an open of fd with access and share as Windows does, refusing it
// when it conflicts with an open already recorded (this process or another).
// readable: fd is open for reading. Returns 0, EWOULDBLOCK for a conflict, or
// an errno value; on failure the caller closes fd.
int TakeShareLocks(int fd, DWORD access, DWORD share, bool readable);
// Records an open of a file this open itself created (O_EXCL) a moment ago:
// another handle could hold it only by opening it in that moment, by a name
// nobody has been told yet, so there is nothing to look for and no gate to
// take. Returns 0 or an errno value.
int RecordShareLocks(int fd, DWORD access, DWORD share, bool readable);
// Whether an open of fd with access and share would be refused now, without
// recording it: 0, EWOULDBLOCK for a conflict, or an errno value.
int LookForShareConflict(int fd, DWORD access, DWORD share);
// True when an open of the regular file at native with access and share
// would be let in now. With keepFd, the descriptor is handed back with the gate
// shut, so an operation can run before any other open is recorded; the
// caller closes it. On false the last error is set (32 when the file is held).
bool ProbeShare(const std::string& native, DWORD access, DWORD share, int* keepFd = nullptr);

// ---- looks.cpp -----------------------------------------------------------
// What a LookScope remembers of one path: one statx (links followed) and
// what was read beside it.
struct Look {
  bool known = false;
  std::string native;
  int err = 0;                 // the statx's errno; 0 when sx holds
  struct statx sx {};
  int nameErr = 0;             // the same for the name itself, links not followed
  mode_t nameMode = 0;
  bool bitsKnown = false;      // storedBits was read
  std::optional<DWORD> storedBits;
};
// Every call that changes a file, a name or a folder notes it here, after the
// change: whatever a scope remembers from before is then looked at again.
void NoteChange();
// The scope's record of native, looked at now if it has none; null outside a
// scope. The pointer is good until the next call here.
Look* Remembered(const std::string& native);
// statx of native (links followed) with the basic fields and the birth time,
// from the scope's record where there is one. Returns 0 or an errno value.
int LookAt(const std::string& native, struct statx& sx);
// The type and mode of what stands at native itself (a link is not followed),
// as lstat gives them, from the scope's record where there is one. Returns 0
// or an errno value.
int LookAtName(const std::string& native, mode_t& mode);
// Whether the file system holding the file of sx (at native) is mounted
// read-only; false when that cannot be told.
bool OnReadOnlyMount(const std::string& native, const struct statx& sx);
// Takes a look's handle being closed, to keep its descriptor for the next
// open of the same path for reading in this LookScope. False (closing left
// as it is) outside a scope or for any other handle: the caller closes it.
bool ParkLookHandle(std::unique_ptr<HandleObject>& closing);
// The descriptor parked for native, taken over by a new open for reading (at
// the start of the file, with what its open saw in handle) or, handle null,
// by a probe that only asks about its holders; -1 when there is none or the
// layer has changed something since it was parked.
int TakeParkedDescriptor(const std::string& native, HandleObject* handle);
// Notes a change when it goes out of scope, whatever the outcome: a failed
// call may have changed something on the way.
struct ChangeNote {
  ChangeNote() = default;
  ChangeNote(const ChangeNote&) = delete;
  ChangeNote& operator=(const ChangeNote&) = delete;
  ~ChangeNote() { NoteChange(); }
};
// ---- files.cpp -----------------------------------------------------------
// Copies the regular file at from to the native path to (see CopyFileW);
// the names are the final components, which decide the hidden bit of
// dot-names. An existing target with failIfExists fails with existsError.
// Sets the last error and returns FALSE on failure.
BOOL CopyNative(const std::string& from, const std::string& to, WStringView fromName, WStringView toName,
                bool failIfExists, DWORD existsError);
// rename that fails with EEXIST instead of replacing. Returns 0 or errno;
// where the file system cannot do it atomically, link + unlink stand in for
// files and a check before the rename for folders.
int RenameNoReplace(const std::string& from, const std::string& to);

// ---- paths.cpp -------------------------------------------------------------
// Flushes the folder at native so that the names made in it last. Returns 0
// or errno (0 too where the file system cannot flush a folder at all).
int SyncNativeFolder(const std::string& native);

}  // namespace halvex::platform::posix
