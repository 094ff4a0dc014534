// The metadata block of version 3: a file's time, mode, owner and extended
// attributes as records, sealed under the body key right after the header.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/metadata.h"
#include "suite/cipher/crypto.h"
#include "suite/cipher/format.h"

namespace halvex::cipher::metadata {

// Record tags. A reader skips a record it does not know: the block is
// authenticated, so a later writer may add kinds without a new version.
enum class Tag : uint8_t { kTime = 1, kMode = 2, kOwner = 3, kAttribute = 4 };

// The records of m; nothing when they would exceed format::kMaxMetadataSize.
std::optional<std::vector<uint8_t>> Encode(const platform::FileMetadata& m);
// False when the records do not parse (a writer's fault: the block is
// authenticated before it is read).
bool Decode(crypto::Bytes records, platform::FileMetadata& m);

// The sealed block for plain records (header.metadataLength and the MAC
// must already be final: the MAC is its associated data), and its opening.
bool Seal(crypto::Bytes fileKey, const format::Header& header, crypto::Bytes records,
          std::vector<uint8_t>& sealed);
bool Open(crypto::Bytes fileKey, const format::Header& header, crypto::Bytes sealed,
          std::vector<uint8_t>& records);

}  // namespace halvex::cipher::metadata
