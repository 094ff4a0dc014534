// The key store's files on Windows: created exclusively, moved into place.
#include "platform/win32.h"

#include <cstdlib>

#include "suite/keystore/keyfile_os.h"

namespace halvex::keystore::os {

namespace fs = std::filesystem;

fs::path DefaultKeyFilePath() {
  if (const wchar_t* appdata = _wgetenv(L"APPDATA"); appdata && *appdata)
    return fs::path(appdata) / L"Halvex" / L"keystore";
  return {};
}

ReadResult ReadPrivateFile(const fs::path& path, uint8_t* out, size_t size, size_t* got) {
  *got = 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                          : ReadResult::kFailed;
  }
  bool ok = true;
  while (ok && *got <= size) {
    DWORD n = 0;
    ok = ReadFile(h, out + *got, static_cast<DWORD>(size + 1 - *got), &n, nullptr) != 0;
    if (!ok || n == 0) break;
    *got += n;
  }
  CloseHandle(h);
  return ok ? ReadResult::kOk : ReadResult::kFailed;
}

// The user's profile folders are private to the user already.
bool MakePrivateFolders(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return fs::is_directory(dir, ec);
}

bool WriteNewPrivateFile(const fs::path& path, const uint8_t* data, size_t size) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
  ok = FlushFileBuffers(h) && ok;
  CloseHandle(h);
  if (!ok) DeleteFileW(path.c_str());
  return ok;
}

Publish PublishNoReplace(const fs::path& from, const fs::path& to) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Publish::kDone;
  DWORD error = GetLastError();
  return (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? Publish::kExists : Publish::kFailed;
}

bool PublishReplace(const fs::path& from, const fs::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// NTFS journals the rename.
void SyncFolder(const fs::path&) {}

}  // namespace halvex::keystore::os
