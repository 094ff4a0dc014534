// CCryptoFile::DecryptFileW: one list entry restored from its encrypted form.
#include <vector>

#include "engine/cryptofile.h"
#include "engine/internal.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/zq.h"
#include "suite/zqca.h"

using halvex::engine::NamesFileFromBefore;
using halvex::engine::NoteSourceRead;
using halvex::engine::OutputSnapshot;
using halvex::engine::PathBuffer;
using halvex::engine::ProgressOf;
using halvex::engine::SecureWipe;
using halvex::engine::SourceAt;
using halvex::engine::SuiteTempFolderPath;
using halvex::engine::TakeOutputSnapshot;

namespace {

// Codes after which a file at the output path is not the call's own partial
// output: it stood there already, or nothing was opened.
bool KeepsOutput(uint32_t code) {
  return code == ZQCA_ERR_OUTPUT_EXISTS || code == ZQCA_ERR_WRONG_KEY || code == ZQCA_ERR_VERSION ||
         code == ZQCA_ERR_LOCKED;
}

// The buffers of one decryption call, wiped and released together.
struct DecryptCall {
  PathBuffer folder;
  std::vector<WCHAR> password;
  uint32_t passwordLength = 0;
  PathBuffer output;
  BYTE flag = 0;

  explicit DecryptCall(const WString& secret)
      : password(secret.size() + 1, WCHAR{0}), passwordLength(static_cast<uint32_t>(secret.size())) {
    std::copy(secret.begin(), secret.end(), password.begin());
  }
  ~DecryptCall() { SecureWipe(password.data(), password.size() * sizeof(WCHAR)); }
  DecryptCall(const DecryptCall&) = delete;
  DecryptCall& operator=(const DecryptCall&) = delete;

  uint32_t Run(const WString& source, const CCryptoFile& engine) {
    return ZQCA_DualPasswordFileDecryptW(source.c_str(), folder.text, password.data(), passwordLength,
                                         engine.m_pSecondKey, engine.m_dwKeyLen, output.text, &flag,
                                         ProgressOf(engine));
  }
};

// Removes a file this call made, whatever attributes the copy gave it.
void RemoveOwnFile(const WString& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(path.c_str());
}

// The copy a source the cipher library could not open in place is decrypted
// from, in "<temporary folder>webmail\". Its name is unique (made
// exclusively, so no other process and no earlier run shares it) and it is
// held open from its making to the end of the retry, so nobody can swap it;
// it is removed when the retry is over.
class RetryCopy {
 public:
  RetryCopy() = default;
  RetryCopy(const RetryCopy&) = delete;
  RetryCopy& operator=(const RetryCopy&) = delete;
  ~RetryCopy() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    if (!path_.empty()) RemoveOwnFile(path_);
  }

  // True only when the copy stands complete and held. Without a temporary
  // folder no copy is made, never in the process's current folder.
  bool Make(const WString& source) {
    const WString temp = SuiteTempFolderPath();
    if (temp.empty()) return false;
    PathBuffer folder;
    folder.Assign(temp);
    folder.Append(WTEXT("webmail\\"));
    CreateDirectoryW(folder.text, nullptr);  // there from an earlier retry is fine
    PathBuffer name;
    if (GetTempFileNameW(folder.text, WTEXT("hvx"), 0, name.text) == 0) return false;
    name.text[kPathBufferChars - 1] = 0;
    path_ = name.Text();
    // The name is reserved by the empty file just made; the copy must be
    // the only thing that then appears there.
    if (!::DeleteFileW(path_.c_str())) return false;
    if (!CopyFileW(source.c_str(), path_.c_str(), TRUE)) {
      // Whatever took the name meanwhile is not ours to remove.
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) path_.clear();
      return false;
    }
    held_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return held_ != INVALID_HANDLE_VALUE;
  }
  const WString& Path() const { return path_; }

 private:
  WString path_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
};

}  // namespace

void CCryptoFile::DecryptFileW(tagCRYPTOPARAMS* request, uint32_t index) {
  WString source = SourceAt(request, index);

  // As for encryption: the checks share their looks with the cipher's first
  // ones; from its first progress report on, it looks afresh.
  halvex::platform::LookScope looks;
  const tagFES_STATUS status = m_FESUtil.CheckFileProcessable(source.c_str());
  if (status != FES_OK) {
    request->dwErrCode = status;
    m_uFesErrCode = status;
    m_uApiErrCode = 0;
    return;
  }
  if (!ZQCA_CheckEncryptedFileW(source.c_str())) {
    request->dwErrCode = FES_NOT_ENCRYPTED;
    m_uFesErrCode = FES_NOT_ENCRYPTED;
    m_uApiErrCode = 0;
    return;
  }

  if (request->dwType == REQ_IN_PLACE)
    m_bTempOutput = request->pOptions ? static_cast<int32_t>(request->pOptions->bDecryptToTemp) : 0;
  WString outputFolder = m_FESUtil.GetDirectory(source);
  if (m_bTempOutput == 1) {
    WString temp = SuiteTempFolderPath();
    outputFolder = m_FESUtil.GetDirectory(temp);
  }

  DecryptCall call(m_strPassword);
  call.folder.Assign(outputFolder);
  NoteSourceRead(*this, source);
  OutputSnapshot before = TakeOutputSnapshot(call.output.Text());
  uint32_t code = call.Run(source, *this);
  halvex::platform::EndLookScopes();

  // Retried only on a copy that is certainly this source's: when the copy
  // cannot be made, the file stays busy (code 1) and nothing is deleted.
  RetryCopy copy;
  if (code == ZQCA_ERR_SOURCE_BUSY && copy.Make(source)) {
    before = TakeOutputSnapshot(call.output.Text());
    code = call.Run(copy.Path(), *this);
  }

  // As for encryption: a failed call that left the buffer naming a file that
  // stood there before it is not that file's author.
  const WString output = call.output.Text();
  const bool foreignOutput = code != 0 && !KeepsOutput(code) && NamesFileFromBefore(before, output);
  m_strLastOutput = foreignOutput ? WString() : output;
  if (call.flag == 1) ZQ_WriteLastSPWUseChgTime(1);
  request->dwErrCode = code;

  if (code == 0 && request->dwType != REQ_IN_PLACE) {
    request->pFileList->m_vecOutFiles.push_back(output);
    request->pFileList->m_nOutCount++;
  }
  if (code != 0 && request->dwType != REQ_IN_PLACE && !KeepsOutput(code) && !foreignOutput &&
      m_FESUtil.ChkFileExist(output.c_str())) {
    DeleteFileW(output.c_str());
  }
  m_uApiErrCode = code;
}
