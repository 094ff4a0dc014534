// Key-store library: hands out the stored 24-byte key.
#pragma once

#include <cstdint>

#include "platform/export.h"

typedef unsigned char BYTE;

enum : uint32_t {
  ZQKM_OK = 0,
  ZQKM_ERR_UNAVAILABLE = 1,  // the key file cannot be read, or fails its checksum
  ZQKM_ERR_CREATE = 2,       // no key file existed and none could be made
};

extern "C" {
// The stored key (24 bytes), freed with ZQKM_FreeMemory. *value is zeroed.
SUITE_API BYTE* ZQKM_GetKeyFromKeyStore(uint32_t reserved, uint32_t* value, uint32_t* error);
// Wipes and frees key material from ZQKM_GetKeyFromKeyStore.
SUITE_API void ZQKM_FreeMemory(void* p);
}
