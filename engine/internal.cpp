// The engine's shared helpers: fixed path buffers, wiping, list access.
#include "engine/internal.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "engine/cryptofile.h"
#include "platform/identity.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/zq.h"

namespace halvex::engine {

void PathBuffer::Assign(WStringView value) {
  std::fill(std::begin(text), std::end(text), WCHAR{0});
  Append(value);
}

void PathBuffer::Append(WStringView value) {
  const size_t used = Text().size();
  const size_t room = kPathBufferChars - 1 - used;
  const size_t n = std::min(room, value.size());
  std::copy_n(value.data(), n, text + used);
  text[used + n] = 0;
}

WString PathBuffer::Text() const {
  const WCHAR* end = std::find(std::begin(text), std::end(text), WCHAR{0});
  return WString(std::begin(text), end);
}

void SecureWipe(void* data, size_t size) {
  // Stores through a volatile pointer are kept even though nothing reads the
  // memory afterwards.
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) bytes[i] = 0;
}

void WipeString(WString& text) {
  if (!text.empty()) SecureWipe(text.data(), text.size() * sizeof(WCHAR));
  text.clear();
}

WString SourceAt(const tagCRYPTOPARAMS* request, uint32_t index) {
  if (!request || !request->pFileList) return WString();
  const auto& files = request->pFileList->m_vecFiles;
  return index < files.size() ? files[index] : WString();
}

void NoteSourceRead(CCryptoFile& engine, const WString& source) {
  const DWORD savedError = GetLastError();
  engine.m_strSourceRead = source;
  engine.m_sourceIdentity = halvex::platform::GetFileIdentity(source.c_str());
  SetLastError(savedError);
}

namespace {
int32_t NeverStop(int32_t) { return 0; }

// The progress callback of the cipher call under way. One call runs at a
// time, but the cipher may report from a thread of its own.
std::atomic<ZQCA_ProgressProc> hostProgress{NeverStop};

// The cipher's first report ends what the checks remembered: the host, told
// of the progress, may change files, and the rest of the call looks afresh.
// Until then the cipher's own look at the source and its output is the
// checks' look.
int32_t ReportToHost(int32_t percent) {
  halvex::platform::EndLookScopes();
  return hostProgress.load()(percent);
}
}  // namespace

ZQCA_ProgressProc ProgressOf(const CCryptoFile& engine) {
  hostProgress = engine.m_pfnProgress ? engine.m_pfnProgress : NeverStop;
  return ReportToHost;
}

WString SuiteTempFolderPath() {
  PathBuffer buffer;
  uint32_t size = kPathBufferChars;
  ZQ_GetTempFolderPathW(buffer.text, &size);
  // The settings library may have filled the buffer to its last character.
  buffer.text[kPathBufferChars - 1] = 0;
  return buffer.Text();
}

OutputSnapshot TakeOutputSnapshot(const WString& outputPath) {
  OutputSnapshot snapshot;
  snapshot.path = outputPath;
  snapshot.fileStood = !outputPath.empty() && GetFileAttributesW(outputPath.c_str()) != INVALID_FILE_ATTRIBUTES;
  snapshot.started = halvex::platform::FileClockNow();
  return snapshot;
}

bool NamesFileFromBefore(const OutputSnapshot& before, const WString& outputAfter) {
  if (outputAfter.empty()) return false;
  if (outputAfter == before.path) return before.fileStood;
  // A name the call gave: a file made by the call was created at or after
  // its start. Whatever is older stood there before.
  const DWORD savedError = GetLastError();
  const auto identity = halvex::platform::GetFileIdentity(outputAfter.c_str());
  SetLastError(savedError);
  return identity && identity->creation < before.started;
}

}  // namespace halvex::engine
