// Win32 file calls as the cipher library uses them.
#include "suite/cipher/fileio.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <system_error>

#include "platform/durable.h"
#include "suite/cipher/crypto.h"
#include "suite/zqca.h"

namespace halvex::cipher::fileio {
namespace {

// A DWORD caps one ReadFile or WriteFile; the library never asks for more
// than a chunk at a time anyway.
constexpr size_t kMaxIo = 1u << 30;
// Writes go out in pieces of this size. The kernel backs a large aligned
// write with large page-cache folios, and on a virtual machine whose host
// takes back free memory, copying into those is often several times slower:
// 1 GiB written in 1 MiB pieces took 2.1 to 2.6 s of copying on such a
// machine, in 128 KiB pieces 0.3 to 1.7 s and most often under 0.5 s.
constexpr size_t kWritePiece = 128u << 10;
constexpr int kTempNameAttempts = 16;
constexpr WCHAR kTempPrefix[] = WTEXT(".hvx-");
constexpr WCHAR kTempSuffix[] = WTEXT(".tmp");
constexpr int kTempDigits = 8;
constexpr size_t kTempNameChars = std::size(kTempPrefix) - 1 + kTempDigits + std::size(kTempSuffix) - 1;
// How much the writer writes between writeback hints, and how much a file is
// read between hints that its pages may go.
constexpr size_t kWritebackStep = 8u << 20;
constexpr size_t kReadReleaseStep = 8u << 20;

// Temporary names count up from a random start drawn once per process, so a
// file costs no draw of its own and names stay unlikely to meet another
// process's; a name found taken (another process, or a forked copy of this
// one, counting through the same stretch) draws a fresh start.
WString TempName(bool freshStart) {
  static std::mutex mutex;
  static bool drawn = false;
  static uint32_t next = 0;
  uint32_t value;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!drawn || freshStart) {
      uint8_t bytes[4];
      crypto::NonceRandom(bytes);
      next = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
      drawn = true;
    }
    value = next++;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  WString name = kTempPrefix;
  for (int shift = 4 * (kTempDigits - 1); shift >= 0; shift -= 4)
    name.push_back(static_cast<WCHAR>(kHex[(value >> shift) & 15]));
  return name + kTempSuffix;
}

// The folder without its final backslash, except for a drive root.
WString FolderForSync(const WString& folder) {
  if (folder.size() > 3 && folder.back() == u'\\') return folder.substr(0, folder.size() - 1);
  return folder;
}

}  // namespace

std::optional<size_t> BoundedLength(const WCHAR* text, size_t limit) {
  for (size_t i = 0; i < limit; ++i)
    if (text[i] == 0) return i;
  return std::nullopt;
}

std::optional<WString> FolderOf(WStringView path) {
  size_t slash = path.rfind(u'\\');
  if (slash == WStringView::npos) return std::nullopt;
  return WString(path.substr(0, slash + 1));
}

WStringView NameOf(WStringView path) {
  size_t slash = path.rfind(u'\\');
  return slash == WStringView::npos ? path : path.substr(slash + 1);
}

uint32_t CodeFromLastError(uint32_t fallback) {
  switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION:
    case 33:  // ERROR_LOCK_VIOLATION: a byte-range lock held elsewhere
      return ZQCA_ERR_SOURCE_BUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ZQCA_ERR_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return ZQCA_ERR_ACCESS;
    case ERROR_DISK_FULL:
    case 39:  // ERROR_HANDLE_DISK_FULL
      return ZQCA_ERR_DISK_FULL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ZQCA_ERR_PATH_TOO_LONG;
    case ERROR_NOT_ENOUGH_MEMORY:
      return ZQCA_ERR_NO_MEMORY;
    default:
      return fallback;
  }
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    readSinceRelease_ = other.readSinceRelease_;
    atStart_ = other.atStart_;
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  return *this;
}

bool File::Close() {
  if (!IsOpen()) return true;
  bool ok = CloseHandle(handle_) != 0;
  handle_ = INVALID_HANDLE_VALUE;
  return ok;
}

bool File::ReadUpTo(std::span<uint8_t> buffer, size_t* got) {
  atStart_ = false;
  size_t done = 0;
  while (done < buffer.size()) {
    DWORD want = static_cast<DWORD>(std::min(buffer.size() - done, kMaxIo));
    DWORD read = 0;
    if (!ReadFile(handle_, buffer.data() + done, want, &read, nullptr)) return false;
    if (read == 0) break;
    done += read;
  }
  *got = done;
  // A large file is read once, front to back: its pages have served once read
  // and would only crowd out other memory, and recycling them is cheaper for
  // the system than finding fresh ones for what we write.
  readSinceRelease_ += done;
  if (readSinceRelease_ >= kReadReleaseStep) {
    platform::ReleaseReadPages(handle_);
    readSinceRelease_ = 0;
  }
  return true;
}

bool File::ReadExact(std::span<uint8_t> buffer) {
  size_t got = 0;
  if (!ReadUpTo(buffer, &got)) return false;
  if (got != buffer.size()) {
    SetLastError(ERROR_HANDLE_EOF);
    return false;
  }
  return true;
}

bool File::WriteAll(std::span<const uint8_t> data) {
  atStart_ = false;
  size_t done = 0;
  while (done < data.size()) {
    DWORD want = static_cast<DWORD>(std::min(data.size() - done, kWritePiece));
    DWORD written = 0;
    if (!WriteFile(handle_, data.data() + done, want, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);  // a short write that makes no progress
      return false;
    }
    done += written;
  }
  return true;
}

bool File::Seek(uint64_t offset) {
  if (offset == 0 && atStart_) return true;
  atStart_ = false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<int64_t>(offset);
  return SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) != 0;
}

std::optional<uint64_t> File::Size() {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle_, &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<uint64_t>(size.QuadPart);
}

namespace {

// Tells a reader's or writer's thread to stop and waits for it: the file
// may be closed or deleted as soon as this returns.
void StopWorker(std::mutex& mutex, std::condition_variable& changed, bool& stopping, std::thread& thread) {
  if (!thread.joinable()) return;
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
}

}  // namespace

PipelinedWriter::PipelinedWriter(File& out, size_t bufferBytes, size_t bufferCount)
    : out_(out), buffers_(std::max<size_t>(bufferCount, 1), std::vector<uint8_t>(bufferBytes)),
      sizes_(buffers_.size(), 0) {
  if (buffers_.size() == 1) return;  // nothing to overlap: Submit writes inline
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to spare: Submit writes inline instead.
  }
}

bool PipelinedWriter::Submit(size_t bytes) {
  if (!thread_.joinable()) {
    ++submitted_;  // moves to the next buffer, as the threaded path does
    return out_.WriteAll({buffers_[(submitted_ - 1) % buffers_.size()].data(), bytes});
  }
  std::unique_lock lock(mutex_);
  if (failed_) return FailWithSavedError();
  sizes_[submitted_ % buffers_.size()] = bytes;
  ++submitted_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return failed_ || submitted_ - written_ < buffers_.size(); });
  return failed_ ? FailWithSavedError() : true;
}

bool PipelinedWriter::Finish() {
  if (!thread_.joinable()) return true;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return failed_ || written_ == submitted_; });
  return failed_ ? FailWithSavedError() : true;
}

// The error belongs to the writer thread; GetLastError is per thread.
bool PipelinedWriter::FailWithSavedError() {
  SetLastError(error_);
  return false;
}

void PipelinedWriter::Run() {
  size_t sinceWriteback = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || written_ < submitted_; });
    if (stopping_) return;
    size_t slot = written_ % buffers_.size();
    lock.unlock();
    bool ok = out_.WriteAll({buffers_[slot].data(), sizes_[slot]});
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    sinceWriteback += sizes_[slot];
    if (ok && sinceWriteback >= kWritebackStep) {
      // Keeps the disk busy while we work rather than all at the final flush.
      platform::StartWriteback(out_.get());
      // What went out a step before has had a step's time to reach the disk:
      // its pages are let go, so that the file's size in memory stays bounded.
      ok = platform::ReleaseWrittenPages(out_.get(), kWritebackStep + sinceWriteback);
      if (!ok) error = GetLastError();
      sinceWriteback = 0;
    }
    lock.lock();
    if (!ok) {
      failed_ = true;
      error_ = error;
      changed_.notify_all();
      return;
    }
    ++written_;
    changed_.notify_all();
  }
}

void PipelinedWriter::Stop() { StopWorker(mutex_, changed_, stopping_, thread_); }

PipelinedReader::PipelinedReader(File& in, uint64_t total, size_t bufferBytes, size_t bufferCount)
    : in_(in), total_(total),
      pieces_(total == 0 || bufferBytes == 0 ? 1 : (total + bufferBytes - 1) / bufferBytes),
      buffers_(std::min<uint64_t>(std::max<size_t>(bufferCount, 1), pieces_),
               std::vector<uint8_t>(std::max<size_t>(bufferBytes, 1))) {
  if (buffers_.size() == 1) return;  // nothing to overlap: Next reads inline
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread to spare: Next reads inline instead.
  }
}

size_t PipelinedReader::PieceSize(uint64_t piece) const {
  const uint64_t size = buffers_.front().size();
  return static_cast<size_t>(std::min<uint64_t>(size, total_ - std::min(total_, piece * size)));
}

const uint8_t* PipelinedReader::Next(size_t bytes) {
  const uint64_t piece = taken_;
  if (piece >= pieces_ || bytes != PieceSize(piece)) {
    SetLastError(ERROR_HANDLE_EOF);  // a caller out of step with the plan reads nothing it did not plan
    return nullptr;
  }
  std::vector<uint8_t>& buffer = buffers_[piece % buffers_.size()];
  if (!thread_.joinable()) {
    if (!in_.ReadExact({buffer.data(), bytes})) return nullptr;
    ++taken_;
    return buffer.data();
  }
  std::unique_lock lock(mutex_);
  ++taken_;  // the previous piece's buffer is free for the reader from now on
  changed_.notify_all();
  changed_.wait(lock, [&] { return failed_ || read_ > piece; });
  if (read_ > piece) return buffer.data();
  SetLastError(error_);  // GetLastError is per thread: the reader's, brought here
  return nullptr;
}

void PipelinedReader::Run() {
  std::unique_lock lock(mutex_);
  for (uint64_t piece = 0; piece < pieces_; ++piece) {
    // The caller holds the piece it took last; every other buffer may be filled.
    changed_.wait(lock, [&] { return stopping_ || piece < taken_ + buffers_.size() - 1; });
    if (stopping_) return;
    lock.unlock();
    const size_t bytes = PieceSize(piece);
    const bool ok = in_.ReadExact({buffers_[piece % buffers_.size()].data(), bytes});
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    lock.lock();
    if (!ok) {
      failed_ = true;
      error_ = error;
      changed_.notify_all();
      return;
    }
    ++read_;
    changed_.notify_all();
  }
}

void PipelinedReader::Stop() { StopWorker(mutex_, changed_, stopping_, thread_); }

File OpenExisting(const WString& path, DWORD access, DWORD share, uint32_t* code) {
  HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) *code = CodeFromLastError(ZQCA_ERR_ACCESS);
  return File(h);
}

bool Exists(const WString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint32_t TempFile::Create(const WString& folder) {
  // An unnamed file needs no room for a name, but one that takes a name
  // (always on Windows) does: the limit stays the same everywhere.
  if (folder.size() + kTempNameChars > kMaxPath) return ZQCA_ERR_PATH_TOO_LONG;
  if (HANDLE h = platform::CreateUnnamedFile(folder); h != INVALID_HANDLE_VALUE) {
    file_ = File(h);
    path_.clear();
    return ZQCA_OK;
  }
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    WString candidate = folder + TempName(attempt > 0);
    if (candidate.size() > kMaxPath) return ZQCA_ERR_PATH_TOO_LONG;
    // Private from the start; decryption gives the output its recorded mode
    // only once it is complete.
    HANDLE h = platform::CreatePrivateFile(candidate);
    if (h != INVALID_HANDLE_VALUE) {
      file_ = File(h);
      path_ = candidate;
      return ZQCA_OK;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return CodeFromLastError(ZQCA_ERR_WRITE);
  }
  return ZQCA_ERR_WRITE;
}

bool TempFile::Publish(const WString& finalPath) {
#ifdef _WIN32
  // The move is written through, so it is on disk when the call returns.
  return file_.Close() && MoveFileExW(path_.c_str(), finalPath.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
#else
  // Named while still held: made sharing nothing, it can be held by no other
  // open, so the move has none to look for.
  const bool named = path_.empty() ? platform::NameUnnamedFile(file_.get(), finalPath)
                                   : platform::RenameHeldFile(file_.get(), path_, finalPath);
  if (!named) return false;
  if (file_.Close()) return true;
  const DWORD error = GetLastError();
  DeleteFileW(finalPath.c_str());  // the source stays the one copy
  SetLastError(error);
  return false;
#endif
}

uint32_t TempFile::Commit(const WString& folder, const WString& finalPath) {
  if (!FlushFileBuffers(file_.get())) return CodeFromLastError(ZQCA_ERR_WRITE);
  if (!Publish(finalPath)) {
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return ZQCA_ERR_OUTPUT_EXISTS;
    return CodeFromLastError(ZQCA_ERR_WRITE);
  }
  // Until the folder is synced the new name may not survive a crash, and a
  // caller told of success deletes the source next: a failed sync is a
  // failure, and the output goes again so that the source stays the one copy.
  if (!platform::SyncDirectory(FolderForSync(folder))) {
    DeleteFileW(finalPath.c_str());
    return ZQCA_ERR_WRITE;
  }
  committed_ = true;
  return ZQCA_OK;
}

void TempFile::Discard() {
  file_.Close();
  if (!committed_ && !path_.empty()) DeleteFileW(path_.c_str());
  path_.clear();
}

}  // namespace halvex::cipher::fileio
