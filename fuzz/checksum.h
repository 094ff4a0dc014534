// Random bytes almost never carry a valid header checksum (SHA-256), so the
// targets renew it before parsing: the fuzzer then explores the fields behind
// it instead of stopping at the first check.
#pragma once

#include <cstdint>
#include <vector>

#include "suite/cipher/crypto.h"
#include "suite/cipher/format.h"

namespace halvex::fuzz {

// Renews the checksum of a header starting at offset, when its magic is there
// and its length field fits the data.
inline void RenewChecksum(std::vector<uint8_t>& data, size_t offset) {
  namespace fmt = cipher::format;
  if (offset > data.size() || data.size() - offset < fmt::kPrefixSize) return;
  auto length = fmt::HeaderLength({data.data() + offset, fmt::kPrefixSize});
  if (!length || *length < fmt::kPrefixSize + fmt::kChecksumSize || *length > fmt::kMaxHeaderSize ||
      *length > data.size() - offset)
    return;
  const size_t covered = *length - fmt::kChecksumSize;
  cipher::crypto::Sha256({data.data() + offset, covered}, {data.data() + offset + covered, fmt::kChecksumSize});
}

}  // namespace halvex::fuzz
