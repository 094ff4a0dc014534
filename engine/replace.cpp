// CCryptoFile::DoFileReplacement: redo a file after moving the file in its
// output's way aside; delete that file on success, put it back otherwise.
#include "engine/cryptofile.h"
#include "engine/internal.h"

using halvex::engine::PathBuffer;
using halvex::engine::SourceAt;

namespace {

// A fresh name in folder, free for the moved file: the platform creates the
// file to reserve the name, and it is removed at once.
WString FreeTemporaryName(const WString& folder) {
  PathBuffer name;
  GetTempFileNameW(folder.c_str(), WTEXT("jurTmp"), 0, name.text);
  name.text[kPathBufferChars - 1] = 0;
  ::DeleteFileW(name.text);
  return name.Text();
}

void PutBack(const WString& moved, const WString& original, DWORD attributes) {
  SetFileAttributesW(moved.c_str(), attributes);
  MoveFileW(moved.c_str(), original.c_str());
}

bool Encrypts(int32_t progressKind) { return progressKind == PROGRESS_ENC || progressKind == PROGRESS_ENC_SELFX; }

}  // namespace

int32_t CCryptoFile::DoFileReplacement(tagCRYPTOPARAMS* request, uint32_t index) {
  WString source = SourceAt(request, index);
  const WString blocking = m_strLastOutput;
  // A decryption that would land on a file of another name than its own
  // says is refused here too, for hosts that call this directly.
  if (!Encrypts(m_nOutputKind) && !halvex::util::IsOwnPlainName(source, blocking)) {
    SetFesErrCode(FES_NAME_TAKEN);
    SetApiErrCode(0);
    return 0;
  }
  const WString moved = FreeTemporaryName(m_FESUtil.GetDirectory(source));

  const tagFES_STATUS status = m_FESUtil.CheckFileProcessable(blocking.c_str());
  if (status != FES_OK) {
    SetFesErrCode(status);
    SetApiErrCode(0);
    return 0;
  }
  if (!MoveFileW(blocking.c_str(), moved.c_str())) {
    SetFesErrCode(FES_MOVE_ASIDE_FAILED);
    SetApiErrCode(0);
    return 0;
  }
  // From here on a failure moves the file back: a user's file must never be
  // left behind under a temporary name.
  const DWORD attributes = GetFileAttributesW(moved.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    MoveFileW(moved.c_str(), blocking.c_str());
    SetFesErrCode(FES_READ_ATTR_FAILED);
    SetApiErrCode(0);
    return 0;
  }
  if (!SetFileAttributesW(moved.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    PutBack(moved, blocking, attributes);
    SetFesErrCode(FES_RESET_ATTR_FAILED);
    SetApiErrCode(0);
    return 0;
  }

  if (Encrypts(m_nOutputKind)) {
    EncryptFileW(request, index);
  } else {
    DecryptFileW(request, index);
  }

  if (request->dwErrCode == 0) {
    // Without a batch to finish it, the redone output stands as it is.
    if (!m_pfnCommitOutput || m_pfnCommitOutput(index, request)) {
      ::DeleteFileW(moved.c_str());
      return 1;
    }
    // A source that changed meanwhile keeps its output elsewhere; here the
    // file moved aside must get its place back, so the new output gives way.
    if (GetFesErrCode() == FES_SOURCE_CHANGED) {
      SetFileAttributesW(m_strLastOutput.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(m_strLastOutput.c_str());
    }
  } else if (GetApiErrCode() != 0 && m_pfnDiscardOutput) {
    m_pfnDiscardOutput(request);
  }
  PutBack(moved, blocking, attributes);
  return 0;
}
