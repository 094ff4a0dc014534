// Which file stands at a name, and since when: enough to tell that a file
// read earlier is still the very file at its name before it is deleted, and
// whether a file came into being after a given moment.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/win32.h"
#include "platform/wide.h"

namespace halvex::platform {

// Times are FILETIME values as one number: 100-ns intervals since 1601.
struct FileIdentity {
  uint64_t volume = 0;     // POSIX: st_dev; Windows: the volume serial number
  uint64_t index = 0;      // POSIX: the inode; Windows: the file index
  uint64_t size = 0;
  int64_t lastWrite = 0;   // last change of the data
  // Last change of the data or the metadata, which a writer cannot set back
  // as it can the modification time (POSIX ctime; the Windows change time,
  // 0 where the file system keeps none).
  int64_t change = 0;
  // When the file came into being where the file system keeps that (birth
  // time); else the POSIX change time, which is never earlier.
  int64_t creation = 0;
  uint32_t links = 0;      // the names the file has (hard links)

  // The same file with the same content as far as its metadata tells:
  // everything but the creation time.
  bool SameFileUnchanged(const FileIdentity& other) const {
    return SameFileSameData(other) && change == other.change;
  }
  // The same file, its data and names untouched. The change time is left
  // out: a rename and an attribute change of our own move it too.
  bool SameFileSameData(const FileIdentity& other) const {
    return volume == other.volume && index == other.index && size == other.size &&
           lastWrite == other.lastWrite && links == other.links;
  }
};

// The identity of the file at path (links followed). Nothing, with the last
// error set, when there is no file to look at.
std::optional<FileIdentity> GetFileIdentity(LPCWSTR path);

// What DeleteFileIfSame did.
enum class DeleteIfSame {
  kDeleted,  // it was the expected file, and it is gone
  kChanged,  // another file, or the file changed, stood at the name: kept
  kFailed,   // nothing was deleted or moved; the last error says why
};

// Deletes the file at path as DeleteFileW does (never a folder or a
// read-only file, never one held without delete sharing), but only while it
// is the very file expected describes, its data unchanged (SameFileSameData).
// A file saved over the name at any moment before the delete is kept: the
// check and the delete act on one file, never on two files of one name.
// kChanged with keptAt set: the file found was moved aside to be checked,
// and its name was taken again before it could go back; keptAt is where it
// lies now. The last error is kept on kChanged.
DeleteIfSame DeleteFileIfSame(LPCWSTR path, const FileIdentity& expected, WString* keptAt);

// The clock the file system stamps new files with, read now. A file created
// after this call never gets a smaller creation time; one created in the same
// clock tick may get an equal one.
int64_t FileClockNow();

}  // namespace halvex::platform
