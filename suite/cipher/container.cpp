// Locating the payload of an encrypted file and reading its header.
#include "suite/cipher/container.h"

#include <algorithm>
#include <array>

#include "platform/looks.h"
#include "suite/zqca.h"

namespace halvex::cipher::container {
namespace {

bool ReadAt(fileio::File& file, uint64_t offset, std::span<uint8_t> out) {
  return file.Seek(offset) && file.ReadExact(out);
}

using Prefix = std::array<uint8_t, format::kPrefixSize>;

// The prefix at offset when it opens a header of ours.
std::optional<Prefix> MagicAt(fileio::File& file, uint64_t offset) {
  Prefix prefix;
  if (!ReadAt(file, offset, prefix) || !format::HeaderLength(prefix)) return std::nullopt;
  return prefix;
}

}  // namespace

std::optional<Payload> Locate(fileio::File& file) {
  auto size = file.Size();
  if (!size || *size < format::kPrefixSize) return std::nullopt;
  if (auto prefix = MagicAt(file, 0)) return Payload{0, *size, false, prefix};
  if (*size < format::kTrailerSize + format::kPrefixSize) return std::nullopt;
  std::array<uint8_t, format::kTrailerSize> trailer;
  uint64_t trailerAt = *size - format::kTrailerSize;
  if (!ReadAt(file, trailerAt, trailer)) return std::nullopt;
  auto offset = format::TrailerOffset(trailer);
  if (!offset || *offset > trailerAt - format::kPrefixSize) return std::nullopt;
  auto prefix = MagicAt(file, *offset);
  if (!prefix) return std::nullopt;
  return Payload{*offset, trailerAt, true, prefix};
}

uint32_t ReadHeader(fileio::File& file, const Payload& payload, format::Header& header,
                    std::vector<uint8_t>* raw) {
  Prefix prefix;
  if (payload.prefix)
    prefix = *payload.prefix;
  else if (!ReadAt(file, payload.offset, prefix))
    return fileio::CodeFromLastError(ZQCA_ERR_READ);
  auto length = format::HeaderLength(prefix);
  if (!length) return ZQCA_ERR_NOT_ENCRYPTED;
  if (*length < format::kPrefixSize + format::kChecksumSize || *length > format::kMaxHeaderSize ||
      *length > payload.end - payload.offset)
    return ZQCA_ERR_DAMAGED;
  // The rest follows the prefix just read: no second seek, no second read of it.
  std::vector<uint8_t> bytes(*length);
  std::copy(prefix.begin(), prefix.end(), bytes.begin());
  if (!file.ReadExact(std::span<uint8_t>(bytes).subspan(prefix.size())))
    return fileio::CodeFromLastError(ZQCA_ERR_READ);
  if (uint32_t code = CodeOf(format::Parse(bytes, header))) return code;
  // The form the file was found in must be the form it was made in.
  bool madeSelfExtracting = (header.flags & format::kFlagSelfExtracting) != 0;
  if (madeSelfExtracting != payload.selfExtracting) return ZQCA_ERR_DAMAGED;
  if (raw) *raw = std::move(bytes);
  return ZQCA_OK;
}

uint32_t CodeOf(format::ParseResult result) {
  switch (result) {
    case format::ParseResult::kOk:
      return ZQCA_OK;
    case format::ParseResult::kNotOurs:
      return ZQCA_ERR_NOT_ENCRYPTED;
    case format::ParseResult::kUnknownVersion:
      return ZQCA_ERR_VERSION;
    case format::ParseResult::kDamaged:
      break;
  }
  return ZQCA_ERR_DAMAGED;
}

std::optional<Payload> Probe(const WCHAR* path, fileio::File& file) {
  if (!path || !fileio::BoundedLength(path, MAX_PATH)) return std::nullopt;
  // A look at a few bytes, closed again by the caller at once: refused where
  // another open refuses readers, but keeping nobody out itself.
  file = fileio::File(platform::OpenToLook(path, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!file.IsOpen()) return std::nullopt;
  return Locate(file);
}

}  // namespace halvex::cipher::container
