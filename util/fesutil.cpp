// CFESUtil: construction, copying and destruction. Defined here rather than
// in the class so that the library exports them.
#include "util/fesutil.h"

CFESUtil::CFESUtil() = default;
CFESUtil::CFESUtil(const CFESUtil& other) = default;
CFESUtil& CFESUtil::operator=(const CFESUtil& other) = default;
CFESUtil::~CFESUtil() = default;
