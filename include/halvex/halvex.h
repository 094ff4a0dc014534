// The one exported entry: runs one batch to its end on the calling thread.
#pragma once

#include "halvex/records.h"
#include "halvex/types.h"

extern "C" HALVEX_API void Halvex(tagCRYPTOPARAMS* request);
