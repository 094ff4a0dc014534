// Fuzz target: the header and trailer parsers, on raw bytes. A header that
// parses must serialise back to exactly the bytes it came from, and its name
// check must not crash on whatever the name holds.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/checksum.h"
#include "platform/wide.h"
#include "suite/cipher/format.h"

namespace fmt = halvex::cipher::format;

namespace {

void ParseAndCheck(halvex::cipher::crypto::Bytes bytes) {
  fmt::Header header;
  if (fmt::Parse(bytes, header) != fmt::ParseResult::kOk) return;
  // A header serialises back to the bytes it came from, but for the checksum
  // of one locked the old way (taken with the lock flag set), which is read
  // and written back as today's: what is written then reads back as itself.
  std::vector<uint8_t> again = fmt::Serialise(header);
  const size_t fields = bytes.size() - fmt::kChecksumSize;
  if (again.size() != bytes.size() || !std::equal(again.begin(), again.begin() + fields, bytes.begin())) std::abort();
  fmt::Header reread;
  if (fmt::Parse(again, reread) != fmt::ParseResult::kOk || fmt::Serialise(reread) != again) std::abort();
  if (auto name = halvex::platform::FromUtf8(header.name)) fmt::IsSafeName(*name);
  fmt::ChunkCount(header.size, header.chunkSize);
  fmt::MacInput(header);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  halvex::cipher::crypto::EnsureInitialised();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  halvex::cipher::crypto::Bytes raw(data, size);
  fmt::HeaderLength(raw);
  ParseAndCheck(raw);
  if (size >= fmt::kTrailerSize) fmt::TrailerOffset(raw.last(fmt::kTrailerSize));

  // The same bytes with a checksum that holds, cut to the length they claim.
  std::vector<uint8_t> fixed(data, data + size);
  halvex::fuzz::RenewChecksum(fixed, 0);
  if (auto length = fmt::HeaderLength(fixed); length && *length <= fixed.size())
    ParseAndCheck({fixed.data(), *length});
  return 0;
}
