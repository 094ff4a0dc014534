// The kill sweep's driver: runs the scenario's two batches with the real
// suite libraries in a process of its own, so that the sweep can kill it.
//
// The platform layer's file calls are linked through counting wrappers
// (--wrap, see CMakeLists.txt). HALVEX_KILL_AT=N raises SIGKILL on entry to
// the N-th call that changes files, so interruptions follow the batch's own
// progress. On a normal end the driver prints "ops <count>" for the sweep
// to pick its points from.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"
#include "platform/testing.h"
#include "platform/win32.h"
#include "tests/reliability/kill_scenario.h"

namespace {

uint64_t killAt = 0;  // 0: never
uint64_t ops = 0;

void Step() {
  if (++ops == killAt) raise(SIGKILL);
}

// The retry file's first write fails once per phase: a transient error that
// the retry policy gets past.
bool failNextWrite = false;
bool failedThisPhase = false;

bool EndsWith(const WString& text, const std::string& tail) {
  WString wide = halvex::platform::Widen("\\" + tail);
  return text.size() >= wide.size() && text.compare(text.size() - wide.size(), wide.size(), wide) == 0;
}

void NoteOpened(LPCWSTR path, DWORD access) {
  using halvex::reliability::scenario::kRetryName;
  if (failedThisPhase || !(access & GENERIC_READ) || !path) return;
  WString p(path);
  if (EndsWith(p, kRetryName) || EndsWith(p, kRetryName + ".qelmenc")) failNextWrite = true;
}

// In phase 2 the cipher's first open of the busy file's encrypted form is
// refused as another program's open would be; the retry reads a copy.
bool busyArmed = false;
unsigned retryCopies = 0;

bool RefusedAsBusy(LPCWSTR path, DWORD access, DWORD share) {
  using halvex::reliability::scenario::kBusyName;
  if (!busyArmed || !path || access != GENERIC_READ || share != FILE_SHARE_READ) return false;
  if (!EndsWith(WString(path), kBusyName + ".qelmenc")) return false;
  busyArmed = false;
  return true;
}

}  // namespace

// The real calls (platform/posix) and their counting stand-ins. Names are
// the Itanium-mangled C++ names the linker wraps.
HANDLE RealCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
    __asm__("__real__Z11CreateFileWPKDsjjP20_SECURITY_ATTRIBUTESjjPv");
BOOL RealWriteFile(HANDLE, const void*, DWORD, LPDWORD, void*) __asm__("__real__Z9WriteFilePvPKvjPjS_");
BOOL RealFlushFileBuffers(HANDLE) __asm__("__real__Z16FlushFileBuffersPv");
BOOL RealCloseHandle(HANDLE) __asm__("__real__Z11CloseHandlePv");
BOOL RealMoveFileW(LPCWSTR, LPCWSTR) __asm__("__real__Z9MoveFileWPKDsS0_");
BOOL RealDeleteFileW(LPCWSTR) __asm__("__real__Z11DeleteFileWPKDs");
BOOL RealSetFileAttributesW(LPCWSTR, DWORD) __asm__("__real__Z18SetFileAttributesWPKDsj");
BOOL RealCopyFileW(LPCWSTR, LPCWSTR, BOOL) __asm__("__real__Z9CopyFileWPKDsS0_i");
BOOL RealCreateDirectoryW(LPCWSTR, LPSECURITY_ATTRIBUTES) __asm__("__real__Z16CreateDirectoryWPKDsP20_SECURITY_ATTRIBUTES");
UINT RealGetTempFileNameW(LPCWSTR, LPCWSTR, UINT, LPWSTR) __asm__("__real__Z16GetTempFileNameWPKDsS0_jPDs");
BOOL RealSetFileTime(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*)
    __asm__("__real__Z11SetFileTimePvPK9_FILETIMES2_S2_");

HANDLE WrapCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE templ)
    __asm__("__wrap__Z11CreateFileWPKDsjjP20_SECURITY_ATTRIBUTESjjPv");
HANDLE WrapCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                       DWORD creation, DWORD flags, HANDLE templ) {
  Step();
  NoteOpened(path, access);
  if (RefusedAsBusy(path, access, share)) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  return RealCreateFileW(path, access, share, security, creation, flags, templ);
}

BOOL WrapWriteFile(HANDLE h, const void* data, DWORD size, LPDWORD written, void* overlapped)
    __asm__("__wrap__Z9WriteFilePvPKvjPjS_");
BOOL WrapWriteFile(HANDLE h, const void* data, DWORD size, LPDWORD written, void* overlapped) {
  Step();
  if (failNextWrite) {
    failNextWrite = false;
    failedThisPhase = true;
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  }
  return RealWriteFile(h, data, size, written, overlapped);
}

BOOL WrapFlushFileBuffers(HANDLE h) __asm__("__wrap__Z16FlushFileBuffersPv");
BOOL WrapFlushFileBuffers(HANDLE h) {
  Step();
  return RealFlushFileBuffers(h);
}

BOOL WrapCloseHandle(HANDLE h) __asm__("__wrap__Z11CloseHandlePv");
BOOL WrapCloseHandle(HANDLE h) {
  Step();
  return RealCloseHandle(h);
}

BOOL WrapMoveFileW(LPCWSTR from, LPCWSTR to) __asm__("__wrap__Z9MoveFileWPKDsS0_");
BOOL WrapMoveFileW(LPCWSTR from, LPCWSTR to) {
  Step();
  return RealMoveFileW(from, to);
}

BOOL WrapDeleteFileW(LPCWSTR path) __asm__("__wrap__Z11DeleteFileWPKDs");
BOOL WrapDeleteFileW(LPCWSTR path) {
  Step();
  return RealDeleteFileW(path);
}

BOOL WrapSetFileAttributesW(LPCWSTR path, DWORD attributes) __asm__("__wrap__Z18SetFileAttributesWPKDsj");
BOOL WrapSetFileAttributesW(LPCWSTR path, DWORD attributes) {
  Step();
  return RealSetFileAttributesW(path, attributes);
}

BOOL WrapCopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) __asm__("__wrap__Z9CopyFileWPKDsS0_i");
BOOL WrapCopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  Step();
  const BOOL copied = RealCopyFileW(from, to, failIfExists);
  retryCopies += copied && from && EndsWith(from, halvex::reliability::scenario::kBusyName + ".qelmenc");
  return copied;
}

BOOL WrapCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
    __asm__("__wrap__Z16CreateDirectoryWPKDsP20_SECURITY_ATTRIBUTES");
BOOL WrapCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  Step();
  return RealCreateDirectoryW(path, security);
}

UINT WrapGetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name)
    __asm__("__wrap__Z16GetTempFileNameWPKDsS0_jPDs");
UINT WrapGetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
  Step();
  return RealGetTempFileNameW(folder, prefix, unique, name);
}

BOOL WrapSetFileTime(HANDLE h, const FILETIME* created, const FILETIME* accessed, const FILETIME* written)
    __asm__("__wrap__Z11SetFileTimePvPK9_FILETIMES2_S2_");
BOOL WrapSetFileTime(HANDLE h, const FILETIME* created, const FILETIME* accessed, const FILETIME* written) {
  Step();
  return RealSetFileTime(h, created, accessed, written);
}

// The output's own steps: made without a name (or under a temporary one),
// named, and its folder flushed.
#define HALVEX_WRAP(ret, name, mangled, params, args)                      \
  ret Real##name params __asm__("__real_" mangled);                       \
  ret Wrap##name params __asm__("__wrap_" mangled);                       \
  ret Wrap##name params {                                                 \
    Step();                                                               \
    return Real##name args;                                               \
  }
HALVEX_WRAP(HANDLE, CreateUnnamedFile, "_ZN6halvex8platform17CreateUnnamedFileESt17basic_string_viewIDsSt11char_traitsIDsEE",
            (WStringView folder), (folder))
HALVEX_WRAP(bool, NameUnnamedFile, "_ZN6halvex8platform15NameUnnamedFileEPvSt17basic_string_viewIDsSt11char_traitsIDsEE",
            (HANDLE file, WStringView to), (file, to))
HALVEX_WRAP(HANDLE, CreatePrivateFile, "_ZN6halvex8platform17CreatePrivateFileESt17basic_string_viewIDsSt11char_traitsIDsEE",
            (WStringView path), (path))
HALVEX_WRAP(bool, RenameHeldFile,
            "_ZN6halvex8platform14RenameHeldFileEPvSt17basic_string_viewIDsSt11char_traitsIDsEES5_",
            (HANDLE file, WStringView from, WStringView to), (file, from, to))
HALVEX_WRAP(bool, SyncDirectory, "_ZN6halvex8platform13SyncDirectoryESt17basic_string_viewIDsSt11char_traitsIDsEE",
            (WStringView folder), (folder))

int main() {
  using namespace halvex;
  using namespace halvex::reliability;
  if (const char* at = std::getenv("HALVEX_KILL_AT")) killAt = std::strtoull(at, nullptr, 10);
  // Outputs under a temporary name, as on a file system without unnamed files.
  platform::ForceNamedTemporaries(std::getenv("HALVEX_KILL_NAMED") != nullptr);
  cipher::SetKdfParams(kCheapKdf);
  NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kRetryOnce);
  // A source's delete is two steps: kills also fall between them.
  platform::SetDeleteHook([](platform::DeleteStep) { Step(); });

  BatchResult encrypted = RunBatch(scenario::PhaseOneList(), 1);

  // The decoy is the test's doing, not the batch's: written behind the
  // counting layer's back.
  auto decoy = platform::ToNativePath(SuiteEnvironment::Path(scenario::kFolder + "/" + scenario::kDecoyName));
  if (!decoy) return 2;
  WriteFile(*decoy, scenario::DecoyBytes());
  failedThisPhase = false;
  busyArmed = true;
  BatchResult decrypted = RunBatch(encrypted.outputs, 0);

  std::printf("ops %llu\nencrypted %u skipped %u\ndecrypted %u skipped %u remaining %zu\nretry copies %u\n",
              static_cast<unsigned long long>(ops), encrypted.succeeded, encrypted.skipped,
              decrypted.succeeded, decrypted.skipped, decrypted.remaining.size(), retryCopies);
  return 0;
}
