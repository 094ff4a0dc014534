// The Win32 file calls the cipher library makes, wrapped for its needs:
// owned handles, whole reads and writes, codes from GetLastError, and the
// temporary-file discipline (write, flush, close, rename without replacing).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

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
  File(File&& other) noexcept
      : handle_(other.handle_), readSinceRelease_(other.readSinceRelease_), atStart_(other.atStart_) {
    other.handle_ = INVALID_HANDLE_VALUE;
  }
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
  size_t readSinceRelease_ = 0;
  // Every handle here comes fresh from an open, at offset 0, and only these
  // members move it: a seek to the start before anything else needs no call.
  bool atStart_ = true;
};

// Writes a file on a second thread so that filling the next buffer (reading,
// sealing or opening) overlaps the write of the previous one, which may block
// on writeback. The buffers are fixed: the caller fills Buffer(), hands it over
// with Submit and gets a free one back. Writes keep their order. The first
// failed write stops the writer; Submit and Finish then fail with that write's
// GetLastError restored on the calling thread. Should the thread not start,
// writes happen inline. The destructor stops the writer and waits for the
// write in progress, so the file may be closed or deleted right after.
class PipelinedWriter {
 public:
  // bufferCount 1: no thread, every Submit writes inline (a file of one buffer has nothing to overlap).
  PipelinedWriter(File& out, size_t bufferBytes, size_t bufferCount = 3);
  ~PipelinedWriter() { Stop(); }
  PipelinedWriter(const PipelinedWriter&) = delete;
  PipelinedWriter& operator=(const PipelinedWriter&) = delete;

  std::span<uint8_t> Buffer() { return buffers_[submitted_ % buffers_.size()]; }
  // Queues the first bytes of Buffer() and waits for a free buffer.
  bool Submit(size_t bytes);
  // Waits until everything queued is written.
  bool Finish();

 private:
  void Run();
  bool FailWithSavedError();
  void Stop();

  File& out_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::vector<size_t> sizes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t submitted_ = 0;  // written by the caller only
  uint64_t written_ = 0;
  bool failed_ = false;
  DWORD error_ = ERROR_SUCCESS;
  bool stopping_ = false;
  std::thread thread_;
};

// Reads a file on a second thread, a few buffers ahead of the caller, so that
// the read of the next piece (which may wait for the disk) overlaps sealing or
// opening the current one. The file is read front to back in pieces of
// bufferBytes, the last one shorter; Next hands them over in order, each valid
// until the following call. A failed or short read stops the reader, and Next
// then fails with its GetLastError restored on the calling thread (a file
// shorter than total is ERROR_HANDLE_EOF, as ReadExact says). Memory stays at
// bufferCount buffers. bufferCount 1, or a thread that cannot start: every
// Next reads inline. The destructor waits for the read in progress, so the
// file may be read on, closed or deleted right after.
class PipelinedReader {
 public:
  PipelinedReader(File& in, uint64_t total, size_t bufferBytes, size_t bufferCount = 3);
  ~PipelinedReader() { Stop(); }
  PipelinedReader(const PipelinedReader&) = delete;
  PipelinedReader& operator=(const PipelinedReader&) = delete;

  // The next piece; bytes must be its size (the loops know it). Null on failure.
  const uint8_t* Next(size_t bytes);

 private:
  size_t PieceSize(uint64_t piece) const;
  void Run();
  void Stop();

  File& in_;
  uint64_t total_;
  uint64_t pieces_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t taken_ = 0;  // pieces handed to the caller
  uint64_t read_ = 0;   // pieces the reader has filled
  bool failed_ = false;
  DWORD error_ = ERROR_SUCCESS;
  bool stopping_ = false;
  std::thread thread_;
};

// Opens an existing file; on failure *code is set (a sharing violation is
// ZQCA_ERR_SOURCE_BUSY).
File OpenExisting(const WString& path, DWORD access, DWORD share, uint32_t* code);

// A new file in a folder, gone again unless committed: Commit flushes it,
// gives it its final name without replacing anything, closes it and makes
// the name durable. Where the system allows, the file has no name until then
// (nothing is left behind by a crash); elsewhere it has a fresh random one.
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
  // Closes the finished file and gives it finalPath without replacing anything.
  bool Publish(const WString& finalPath);

  File file_;
  WString path_;  // empty for an unnamed file
  bool committed_ = false;
};

bool Exists(const WString& path);

}  // namespace halvex::cipher::fileio
