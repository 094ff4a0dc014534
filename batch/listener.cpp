// The listener a host registers, and the events the batch sends it. The
// listener is called directly: it is this library's own interface, not a
// suite call, so the suite libraries a batch runs against stay as they are.
#include <optional>

#include "batch/events.h"
#include "batch/state.h"
#include "suite/zqca.h"

namespace {

HALVEX_LISTENER g_listener = nullptr;
void* g_context = nullptr;

// The entry the running cipher call works on, for its percent events.
const tagCRYPTOPARAMS* g_request = nullptr;
uint32_t g_index = 0;

const WCHAR* PathOf(const tagCRYPTOPARAMS* request, uint32_t index) {
  if (!request || !request->pFileList) return nullptr;
  const std::vector<WString>& files = request->pFileList->m_vecFiles;
  return index < files.size() ? files[index].c_str() : nullptr;
}

tagHALVEXEVENT Event(uint32_t kind, const tagCRYPTOPARAMS* request, uint32_t index) {
  tagHALVEXEVENT e{};
  e.cbSize = sizeof e;
  e.dwKind = kind;
  e.dwType = request ? request->dwType : 0;
  e.dwIndex = index;
  e.pwszPath = PathOf(request, index);
  return e;
}

void Send(const tagHALVEXEVENT& e) { g_listener(g_context, &e); }

}  // namespace

extern "C" void HalvexSetListener(HALVEX_LISTENER listener, void* context) {
  g_listener = listener;
  g_context = listener ? context : nullptr;
}

void NotifyStarted(const tagCRYPTOPARAMS* request, uint32_t index) {
  g_request = request;
  g_index = index;
  if (g_listener) Send(Event(HALVEX_EVENT_STARTED, request, index));
}

void NotifyPercent(int32_t percent) {
  if (!g_listener) return;
  tagHALVEXEVENT e = Event(HALVEX_EVENT_PERCENT, g_request, g_index);
  e.nPercent = percent;
  Send(e);
}

void NotifyQuestion(uint32_t question, int32_t answer, const WString& path) {
  if (!g_listener) return;
  tagHALVEXEVENT e = Event(HALVEX_EVENT_QUESTION, g_request, g_index);
  e.dwQuestion = question;
  e.nAnswer = answer;
  if (question == HALVEX_QUESTION_OUTPUT_EXISTS) e.pwszOutput = path.c_str();
  Send(e);
}

void NotifyError(uint32_t fesCode, uint32_t apiCode, int32_t answer) {
  if (!g_listener) return;
  tagHALVEXEVENT e = Event(HALVEX_EVENT_ERROR, g_request, g_index);
  e.dwFesCode = fesCode;
  e.dwApiCode = apiCode;
  e.nAnswer = answer;
  Send(e);
}

void NotifyOutcome(const tagCRYPTOPARAMS* request, uint32_t index, uint32_t outcome, uint32_t reason,
                   const WString* output) {
  if (!g_listener) return;
  tagHALVEXEVENT e = Event(HALVEX_EVENT_OUTCOME, request, index);
  e.dwOutcome = outcome;
  e.dwReason = reason;
  if (output) e.pwszOutput = output->c_str();
  Send(e);
}

void NotifyOutcomeWithCodes(const tagCRYPTOPARAMS* request, uint32_t index, uint32_t outcome, uint32_t reason,
                            const WString* output) {
  if (!g_listener) return;
  const CCryptoFile& engine = State().cryptoFile;
  tagHALVEXEVENT e = Event(HALVEX_EVENT_OUTCOME, request, index);
  e.dwOutcome = outcome;
  e.dwReason = reason;
  e.dwFesCode = engine.GetFesErrCode();
  e.dwApiCode = engine.GetApiErrCode();
  e.dwCode = request->dwErrCode;
  if (output) e.pwszOutput = output->c_str();
  // A source found changed is kept beside its output: the host learns both.
  if (e.dwFesCode == FES_SOURCE_CHANGED) {
    e.pwszOutput = engine.m_strLastOutput.c_str();
    if (!engine.m_strSourceKeptAt.empty()) e.pwszKeptAt = engine.m_strSourceKeptAt.c_str();
  }
  Send(e);
}

void NotifyNotStarted(const tagCRYPTOPARAMS* request, uint32_t index) {
  if (!g_listener) return;
  const uint32_t count = request->pFileList->m_nFileCount;
  for (uint32_t i = index; i < count && i < request->pFileList->m_vecFiles.size(); ++i)
    NotifyOutcome(request, i, HALVEX_OUTCOME_CANCELLED, HALVEX_REASON_NOT_STARTED);
}

uint32_t OutcomeOfCode(uint32_t code) {
  switch (code) {
    case 0: return HALVEX_OUTCOME_DONE;
    case ZQCA_ERR_WRONG_KEY:
    case ZQCA_ERR_VERSION:
    case ZQCA_ERR_LOCKED: return HALVEX_OUTCOME_PASSED_OVER;
    case ZQCA_ERR_CANCELLED: return HALVEX_OUTCOME_CANCELLED;
    default: return HALVEX_OUTCOME_FAILED;
  }
}
