// Drive-admin library: whether the vault drive is shown.
#pragma once

#include <cstdint>

#include "platform/export.h"

class SUITE_API CKRVDevice {
 public:
  CKRVDevice(uint32_t reserved, unsigned long flags);
  virtual ~CKRVDevice();
  // Non-zero while the vault drive is mapped and its folder is present.
  int32_t IsShow();
};
