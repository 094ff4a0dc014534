// Key-store library: hands out the stored 24-byte key.
#pragma once

#include <cstdint>

#include "halvex/codes.h"
#include "platform/export.h"

typedef unsigned char BYTE;

// Its error codes are in halvex/codes.h (ZQKM_ERR_...).

extern "C" {
// The stored key (24 bytes), freed with ZQKM_FreeMemory. *value is zeroed.
SUITE_API BYTE* ZQKM_GetKeyFromKeyStore(uint32_t reserved, uint32_t* value, uint32_t* error);
// Wipes and frees key material from ZQKM_GetKeyFromKeyStore.
SUITE_API void ZQKM_FreeMemory(void* p);
}
