// CFESUtil destination naming: outputs beside their sources, per-message
// folders under the suite's temporary folder, and outputs inside them.
#include <algorithm>
#include <array>

#include "platform/win32.h"
#include "records/output_kind.h"
#include "suite/zq.h"
#include "util/fesutil.h"

namespace {

constexpr WCHAR kBackslash = u'\\';
// How many numbers after the tick count a message folder may take when the
// tick count's own folder exists (a batch in the same tick, or a folder left
// from an earlier start of the system).
constexpr uint32_t kTickRetries = 100;

WString OrEmpty(const WCHAR* text) { return text ? WString(text) : WString(); }

bool EndsWithBackslash(const WString& text) { return !text.empty() && text.back() == kBackslash; }

WString WithBackslash(WString text) {
  if (!EndsWithBackslash(text)) text.push_back(kBackslash);
  return text;
}

WString ToUpperAscii(WString text) {
  for (WCHAR& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<WCHAR>(c - u'a' + u'A');
  }
  return text;
}

// Plain unsigned decimal: never a sign, at most 10 characters.
WString Decimal(uint32_t value) {
  WString digits;
  do {
    digits.push_back(static_cast<WCHAR>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  std::reverse(digits.begin(), digits.end());
  return digits;
}

WString SuiteTempFolder() {
  std::array<WCHAR, kPathBufferChars> buffer{};
  uint32_t size = kPathBufferChars;
  ZQ_GetTempFolderPathW(buffer.data(), &size);
  // Up to the first terminator, and never past the buffer.
  auto end = std::find(buffer.begin(), buffer.end(), WCHAR{0});
  return WString(buffer.begin(), end);
}

// Creates folder (given with its final backslash); fails when it exists.
bool MakeFolder(const WString& folder) {
  WString path = folder;
  if (path.size() > 1 && EndsWithBackslash(path)) path.pop_back();
  return CreateDirectoryW(path.c_str(), nullptr) != 0;
}

// A new folder named after the tick count inside parent, or the next free
// number after it; empty when none could be made.
WString MakeTickFolder(const WString& parent) {
  const uint32_t tick = GetTickCount();
  for (uint32_t offset = 0; offset <= kTickRetries; ++offset) {
    WString folder = parent + Decimal(tick + offset) + kBackslash;
    if (MakeFolder(folder)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return WString();
}

}  // namespace

WString CFESUtil::GetDestEncFilePath(const WCHAR* source) {
  // The kind of the process's batch, so that a host's own instance names what
  // the batch's engine would. Kinds that name no encryption (none yet, or a
  // decryption) keep the in-place names hosts have always been given.
  return halvex::util::DestEncFilePath(*this, source, halvex::records::BatchOutputKind());
}

WString halvex::util::DestEncFilePath(CFESUtil& util, const WCHAR* source, int32_t outputKind) {
  WString path = OrEmpty(source);
  const WString extension = util.GetExtName(path);
  // Rebuilt from the splitters, so the name asked for is exactly what the
  // splitters see (a forward slash in the final part included).
  WString destination = util.GetDirectory(path) + util.GetFileName(path) + extension;
  if (outputKind == PROGRESS_ENC_HIDDEN || outputKind == PROGRESS_ENC_SELFX) return destination + WTEXT(".exe");
  const WString upper = ToUpperAscii(extension);
  const bool isDocument = !upper.empty() &&
                          std::find(util.m_vecExtName.begin(), util.m_vecExtName.end(), upper) != util.m_vecExtName.end();
  return destination + (isDocument ? WTEXT("ENX") : WTEXT(".qelmenc"));
}

bool halvex::util::IsOwnPlainName(WStringView encrypted, WStringView output) {
  const auto finalPart = [](WStringView path) { return path.substr(path.find_last_of(kBackslash) + 1); };
  const WStringView name = finalPart(encrypted), plain = finalPart(output);
  if (plain.empty() || name.size() <= plain.size() || name.substr(0, plain.size()) != plain) return false;
  const WString suffix = ToUpperAscii(WString(name.substr(plain.size())));
  return suffix == WTEXT(".QELMENC") || suffix == WTEXT("ENX") || suffix == WTEXT(".EXE") || suffix == WTEXT(".QELMENX");
}

WString CFESUtil::CreateMsgSubFolder(const WCHAR* folderName, const WCHAR* subFolderName) {
  const WString temp = SuiteTempFolder();
  // Without a temporary folder a relative path would land in the process's
  // current folder: make nothing at all.
  if (temp.empty()) return WString();
  const WString parent = WithBackslash(temp) + OrEmpty(folderName);
  MakeFolder(parent);  // usually there from an earlier batch
  if (!subFolderName) return MakeTickFolder(parent);
  if (subFolderName[0] == 0) return WString();
  const WString folder = parent + WithBackslash(subFolderName);
  return MakeFolder(folder) ? folder : WString();
}

WString CFESUtil::GetMsgDestEncFilePath(const WCHAR* folder, const WCHAR* source) {
  WString path = OrEmpty(source);
  return OrEmpty(folder) + GetFileName(path) + GetExtName(path) + WTEXT(".qelmenx");
}
