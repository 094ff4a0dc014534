// Finding and reading the encrypted payload inside a file: at offset 0, or
// behind a self-extractor stub as the trailer at the end says.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"

namespace halvex::cipher::container {

struct Payload {
  uint64_t offset = 0;  // where the header starts
  uint64_t end = 0;     // one past the last chunk
  bool selfExtracting = false;
  // The header's prefix as Locate read it, leaving the file just after it:
  // ReadHeader goes on from there instead of reading it again.
  std::optional<std::array<uint8_t, format::kPrefixSize>> prefix;
};

// Nothing when the file holds no payload of ours (or cannot be read).
std::optional<Payload> Locate(fileio::File& file);

// Reads and parses the header of a located payload. Returns a ZQCA code:
// ZQCA_ERR_NOT_ENCRYPTED, ZQCA_ERR_DAMAGED, ZQCA_ERR_VERSION or a read error.
// raw receives the header bytes as stored.
uint32_t ReadHeader(fileio::File& file, const Payload& payload, format::Header& header,
                    std::vector<uint8_t>* raw = nullptr);

// The ZQCA code of a header that did not parse (ZQCA_OK for kOk).
uint32_t CodeOf(format::ParseResult result);

// Opens path for a read-only look and locates its payload.
std::optional<Payload> Probe(const WCHAR* path, fileio::File& file);

}  // namespace halvex::cipher::container
