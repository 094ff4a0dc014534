// Message-box library: shows the message for an FES/API code pair.
#pragma once

#include <cstdint>

#include "platform/export.h"

extern "C" {
SUITE_API void ShowErrorMessage(uint32_t reserved, uint32_t fesCode, uint32_t apiCode, uint32_t flags);
}
