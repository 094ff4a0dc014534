// CFESUtil's list of known document extensions.
#include <array>

#include "util/fesutil.h"

namespace {

// Files with these extensions get "ENX" rather than ".qelmenc", so the host
// can still tell the document type from the encrypted name. Order matters
// only to readers of m_vecExtName.
constexpr std::array<const WCHAR*, 29> kDocumentExtensions = {
    WTEXT("DOC"),  WTEXT("DOCX"), WTEXT("RTF"),  WTEXT("CSV"),  WTEXT("XLS"),  WTEXT("XLSX"),
    WTEXT("PPT"),  WTEXT("PPTX"), WTEXT("PPS"),  WTEXT("PPSX"), WTEXT("TXT"),  WTEXT("ZIP"),
    WTEXT("RAR"),  WTEXT("BMP"),  WTEXT("JPG"),  WTEXT("JPEG"), WTEXT("GIF"),  WTEXT("TIF"),
    WTEXT("TIFF"), WTEXT("PDF"),  WTEXT("HTM"),  WTEXT("HTML"), WTEXT("DOCM"), WTEXT("XLSM"),
    WTEXT("XLSB"), WTEXT("PPTM"), WTEXT("PPSM"), WTEXT("MHT"),  WTEXT("MHTML"),
};

}  // namespace

void CFESUtil::ListExtName() {
  m_vecExtName.clear();
  m_strEncExt = WTEXT(".QELMENC");
  m_vecExtName.assign(kDocumentExtensions.begin(), kDocumentExtensions.end());
}

void CFESUtil::PushToList(WString extension) { m_vecExtName.push_back(std::move(extension)); }
