// CFESUtil path splitting: folder, name, extension, and the display tail.
#include <cstdint>

#include "util/fesutil.h"

namespace {

constexpr WCHAR kBackslash = u'\\';
constexpr WCHAR kSlash = u'/';
constexpr WCHAR kDot = u'.';
constexpr WCHAR kColon = u':';

// Everything after the last backslash: only the backslash separates here.
WStringView FinalComponent(WStringView path) {
  size_t slash = path.rfind(kBackslash);
  return slash == WStringView::npos ? path : path.substr(slash + 1);
}

}  // namespace

WString CFESUtil::GetDirectory(WString& path) {
  size_t slash = path.rfind(kBackslash);
  if (slash == WString::npos) return WString();
  return path.substr(0, slash + 1);
}

WString CFESUtil::GetFileName(WString& path) {
  WStringView component = FinalComponent(path);
  size_t dot = component.rfind(kDot);
  if (dot == WStringView::npos) return WString(component);
  return WString(component.substr(0, dot + 1));
}

// The platform's own splitter: a drive is set aside, both slashes separate,
// and the extension starts at the final component's last dot.
WString CFESUtil::GetExtName(WString& path) {
  WStringView rest = path;
  if (rest.size() >= 2 && rest[1] == kColon) rest.remove_prefix(2);
  size_t slash = rest.find_last_of(WStringView(WTEXT("\\/")));
  WStringView component = slash == WStringView::npos ? rest : rest.substr(slash + 1);
  size_t dot = component.rfind(kDot);
  if (dot == WStringView::npos) return WString();
  return WString(component.substr(dot + 1));
}

WString CFESUtil::ShortFileName(WString& name, uint32_t maximum) {
  // A name one longer than the maximum is still shown whole; wider
  // arithmetic keeps the largest maximum from wrapping.
  if (name.size() <= uint64_t{maximum} + 1) return name;
  return WTEXT("...") + name.substr(name.size() - maximum);
}
