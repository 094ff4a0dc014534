// Small helpers the platform tests share. The set-up helpers at the top work
// on both builds, so one test states what Windows does and runs against the
// POSIX layer and the real Win32 calls alike; the rest inspect POSIX state.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/wide.h"
#include "platform/win32.h"
#include "tests/support/immutable.h"

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace halvex::test {

// Clears every write permission: mode 0444 on POSIX, the read-only
// attribute on Windows.
inline void MakeReadOnly(const std::string& native) {
  namespace fs = std::filesystem;
  fs::permissions(native, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

inline void MakeFolder(const std::string& native) { std::filesystem::create_directory(native); }

inline bool IsWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
  return false;
#endif
}

// Wine, like the POSIX layer, shows a name starting with "." as hidden;
// Windows itself does not.
inline bool DotNamesAreHidden() {
#ifdef _WIN32
  return IsWine();
#else
  return true;
#endif
}

// A drive letter that names no drive: Windows reports a missing path, as
// the POSIX layer does; Wine reports a missing file.
inline DWORD UnknownDriveError() { return IsWine() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND; }

// The attributes without the archive bit. Wine marks every file "archive",
// as Windows marks the files it writes; the POSIX layer never does. The
// library reads neither it nor FILE_ATTRIBUTE_NORMAL, which Windows gives
// only when no other bit is set.
inline DWORD Attributes(const WString& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return attributes;
  attributes &= ~DWORD{FILE_ATTRIBUTE_ARCHIVE};
  return attributes ? attributes : DWORD{FILE_ATTRIBUTE_NORMAL};
}

// Whether a read-only file refuses writing here. Windows refuses; Wine
// leaves it to the host's permissions, which root passes by. The POSIX
// layer checks the mode itself, so it refuses even for root.
inline bool ReadOnlyRefusesWriting(const std::string& nativeFolder, const WString& folder) {
#ifdef _WIN32
  const std::string probe = nativeFolder + "\\ro-probe";
  const WString wide = folder + WTEXT("\\ro-probe");
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return true;
  CloseHandle(h);
  MakeReadOnly(probe);
  h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool refused = h == INVALID_HANDLE_VALUE;
  if (!refused) CloseHandle(h);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(wide.c_str());
  return refused;
#else
  (void)nativeFolder, (void)folder;
  return true;
#endif
}

#ifndef _WIN32

inline std::optional<std::string> ReadDosAttrib(const std::string& native) {
  char buffer[64];
  ssize_t n = getxattr(native.c_str(), "user.DOSATTRIB", buffer, sizeof buffer);
  if (n < 0) return std::nullopt;
  return std::string(buffer, static_cast<size_t>(n));
}

inline void WriteDosAttrib(const std::string& native, const std::string& value) {
  setxattr(native.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0);
}

inline mode_t ModeOf(const std::string& native) {
  struct stat st {};
  stat(native.c_str(), &st);
  return st.st_mode & 07777;
}

// Sets the umask for a scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};
#endif  // _WIN32

}  // namespace halvex::test
