// The outside host's use of an exported class, through Halvex::classes.
#include "util/fesutil.h"

std::basic_string<HALVEX_WCHAR> DestinationOf(const std::basic_string<HALVEX_WCHAR>& source) {
  CFESUtil util;
  util.ListExtName();
  return util.GetDestEncFilePath(source.c_str());
}
