// The Win32 file calls the cipher library makes, wrapped for its needs:
// owned handles, whole reads and writes, codes from GetLastError, and the
// temporary-file discipline (write, flush, close, rename without replacing).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/wide.h"
#include "platform/win32.h"

namespace halvex::cipher::fileio {

// The longest path the library accepts (MAX_PATH less the terminator).
constexpr size_t kMaxPath = MAX_PATH - 1;

// Length of a terminated path held in a buffer of at most limit characters;
// nothing when no terminator is found within it.
std::optional<size_t> BoundedLength(const WCHAR* text, size_t limit);

// "C:\a\b.txt" -> "C:\a\"; nothing without a backslash.
std::optional<WString> FolderOf(WStringView path);
// "C:\a\b.txt" -> "b.txt".
WStringView NameOf(WStringView path);

// Maps GetLastError after a failed call to a ZQCA code; fallback when nothing
// more specific applies (ZQCA_ERR_READ or ZQCA_ERR_WRITE).
uint32_t CodeFromLastError(uint32_t fallback);

class File {
 public:
  File() = default;
  explicit File(HANDLE h) : handle_(h) {}
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = INVALID_HANDLE_VALUE; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close();

  // Reads until buffer is full or the end of the file; *got says how much.
  bool ReadUpTo(std::span<uint8_t> buffer, size_t* got);
  bool ReadExact(std::span<uint8_t> buffer);
  bool WriteAll(std::span<const uint8_t> data);
  bool Seek(uint64_t offset);
  std::optional<uint64_t> Size();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Opens an existing file; on failure *code is set (a sharing violation is
// ZQCA_ERR_SOURCE_BUSY).
File OpenExisting(const WString& path, DWORD access, DWORD share, uint32_t* code);

// A file created under a fresh random name in a folder, deleted again unless
// committed: Commit flushes it, closes it and renames it to its final name
// without replacing anything, then makes the rename durable.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // folder ends with a backslash. Returns a ZQCA code.
  uint32_t Create(const WString& folder);
  File& file() { return file_; }
  const WString& path() const { return path_; }
  // Returns a ZQCA code: ZQCA_ERR_OUTPUT_EXISTS when finalPath appeared meanwhile.
  uint32_t Commit(const WString& folder, const WString& finalPath);
  void Discard();

 private:
  File file_;
  WString path_;
  bool committed_ = false;
};

bool Exists(const WString& path);

}  // namespace halvex::cipher::fileio
