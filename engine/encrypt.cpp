// CCryptoFile::EncryptFileW: one list entry into its encrypted counterpart.
#include "engine/cryptofile.h"
#include "engine/internal.h"
#include "platform/looks.h"
#include "platform/wide.h"
#include "suite/zqca.h"

using halvex::engine::NamesFileFromBefore;
using halvex::engine::NoteSourceRead;
using halvex::engine::OutputSnapshot;
using halvex::engine::PathBuffer;
using halvex::engine::ProgressOf;
using halvex::engine::SourceAt;
using halvex::engine::TakeOutputSnapshot;

namespace {

bool IsMessageBatch(const tagCRYPTOPARAMS* request) {
  return request->dwType == REQ_MESSAGE || request->dwType == REQ_MESSAGE_COPY;
}

// Ends the call before any cipher call with the engine's own verdict.
void Refuse(CCryptoFile& engine, tagCRYPTOPARAMS* request, uint32_t errCode, uint32_t fesCode) {
  request->dwErrCode = errCode;
  engine.SetFesErrCode(fesCode);
  engine.SetApiErrCode(0);
}

}  // namespace

void CCryptoFile::EncryptFileW(tagCRYPTOPARAMS* request, uint32_t index) {
  WString source = SourceAt(request, index);

  // The checks look at the source and its output again and again, and the
  // cipher's first looks are theirs; from its first progress report on, the
  // cipher's work looks afresh (see ProgressOf).
  halvex::platform::LookScope looks;
  const tagFES_STATUS status = m_FESUtil.CheckFileProcessable(source.c_str());
  if (status != FES_OK) return Refuse(*this, request, status, status);

  if (ZQCA_CheckEncryptedFileW(source.c_str())) {
    // Message batches copy self-extracting files as they are; their code
    // tells the driver so.
    const bool selfExtractor = IsMessageBatch(request) && m_FESUtil.ChkIsSelfExtractorFile(source.c_str());
    return Refuse(*this, request, selfExtractor ? uint32_t{ERR_SELF_EXTRACTOR} : uint32_t{FES_ALREADY_ENCRYPTED},
                  FES_ALREADY_ENCRYPTED);
  }

  const WString destination = IsMessageBatch(request)
                                  ? m_FESUtil.GetMsgDestEncFilePath(m_FESUtil.m_strMsgSubFolder.c_str(), source.c_str())
                                  : halvex::util::DestEncFilePath(m_FESUtil, source.c_str(), m_nOutputKind);
  if (destination.size() > kMaxPathChars) return Refuse(*this, request, ERR_DEST_TOO_LONG, FES_DEST_TOO_LONG);

  PathBuffer output;
  output.Assign(destination);
  NoteSourceRead(*this, source);
  const OutputSnapshot before = TakeOutputSnapshot(destination);
  const uint32_t code = ZQCA_DualPasswordFileEncryptW(source.c_str(), output.text, m_pFirstKey, m_pSecondKey,
                                                      m_dwKeyLen, m_bSelfExtract != 0, ProgressOf(*this));
  halvex::platform::EndLookScopes();

  // A failed call that left the buffer naming a file that stood there before
  // did not write it: it must not be taken for the call's output, which the
  // callers delete after a failure. Code 10 names the file in the way on
  // purpose and is kept.
  const bool foreignOutput = code != 0 && code != ZQCA_ERR_OUTPUT_EXISTS && NamesFileFromBefore(before, output.Text());
  m_strLastOutput = foreignOutput ? WString() : output.Text();
  request->dwErrCode = code;

  if (code == 0 && request->dwType != REQ_IN_PLACE) {
    request->pFileList->m_vecOutFiles.push_back(destination);
    request->pFileList->m_nOutCount++;
  }
  if (code != 0 && request->dwType != REQ_IN_PLACE && code != ZQCA_ERR_OUTPUT_EXISTS && !before.fileStood &&
      m_FESUtil.ChkFileExist(destination.c_str())) {
    DeleteFileW(destination.c_str());
  }
  m_uApiErrCode = code;
}
