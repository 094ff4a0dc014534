// Files written to last: outputs made private, flushed, and named only once
// complete (unnamed while written where the system allows), folders flushed
// after their names change, and the page-cache hints of streaming.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "platform/wide.h"

namespace halvex::platform {

// Makes a rename or creation inside folder durable (fsync of the folder on
// POSIX; nothing to do on Windows, where the file system journals it).
bool SyncDirectory(WStringView folder);

// Asks the system to start writing an open file's changed data to disk now,
// without waiting, so that a final flush has less left to do. Only a hint:
// nothing happens where there is no such call (Windows), and the last error
// is left alone.
void StartWriteback(HANDLE file);

// Lets the system drop the cached pages of what an open file held before its
// current position: data streamed through once and not wanted again soon,
// which would otherwise push other memory out. Only a hint; the last error is
// left alone.
void ReleaseReadPages(HANDLE file);

// Waits until what was written to an open file before its last keepTail bytes
// is on disk, then lets the system drop those cached pages. Returns FALSE with
// the last error set when writing that data failed: the error is reported
// here, and a later flush of the file would not report it again.
bool ReleaseWrittenPages(HANDLE file, uint64_t keepTail);

// Creates path for writing as CreateFileW(GENERIC_WRITE, no sharing,
// CREATE_NEW) does, private to its owner from the start: mode 0600 on POSIX,
// the folder's inherited access on Windows.
HANDLE CreatePrivateFile(WStringView path);

// Gives the file that file (made by CreatePrivateFile, which shares nothing)
// holds the name to, as MoveFileW(from, to) would once file is closed: never
// replacing a file, failing with 183 then. No other open can hold the file,
// so none is looked for; file stays open. POSIX only: Windows renames the
// closed file.
#ifndef _WIN32
bool RenameHeldFile(HANDLE file, WStringView from, WStringView to);
#endif

// A new file in folder that has no name yet, open for writing as
// CreatePrivateFile makes it (owner only, sharing nothing). It appears only
// once NameUnnamedFile names it, and goes with its handle otherwise, even when
// the process dies, so an unfinished output never stands in a folder; and the
// folder gets one change per file fewer than with a temporary name. Gives
// INVALID_HANDLE_VALUE where the system cannot make one (Windows, a file
// system without such files): the caller then makes a named one.
HANDLE CreateUnnamedFile(WStringView folder);
// Gives the file of CreateUnnamedFile the name to, never replacing a file
// (183 then); file stays open, but keeps nobody out once named: name it
// complete, and close it.
bool NameUnnamedFile(HANDLE file, WStringView to);

}  // namespace halvex::platform
