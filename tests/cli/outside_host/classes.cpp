// The part of the outside host that uses an exported class, through the
// headers a host takes on purpose (Halvex::classes).
#include <string>

#include "util/fesutil.h"

std::basic_string<HALVEX_WCHAR> DestinationOf(const std::basic_string<HALVEX_WCHAR>& source) {
  CFESUtil util;
  util.ListExtName();
  return util.GetDestEncFilePath(source.c_str());
}
