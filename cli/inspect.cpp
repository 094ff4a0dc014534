// Reading an encrypted file's header without any key.
#include "cli/inspect.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

#include "cli/paths.h"
#include "platform/looks.h"
#include "platform/paths.h"
#include "suite/cipher/container.h"
#include "suite/cipher/fileio.h"
#include "suite/cipher/format.h"

namespace fs = std::filesystem;

namespace halvex::cli {
namespace {

FileHeader Failed(std::string path, std::string why) {
  FileHeader h;
  h.path = std::move(path);
  h.error = std::move(why);
  return h;
}

// The program in front of a self-extracting payload, told by its first bytes.
std::string ProgramOf(cipher::fileio::File& file) {
  std::array<uint8_t, 4> start{};
  if (!file.Seek(0) || !file.ReadExact(start)) return "none";
  if (start[0] == 'M' && start[1] == 'Z') return "windows";
  if (start[0] == 0x7f && start[1] == 'E' && start[2] == 'L' && start[3] == 'F') return "linux";
  return "none";
}

bool EndsWithNoCase(const std::string& s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), s.end() - suffix.size(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

}  // namespace

FileHeader InspectFile(const std::string& operand) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(operand, ec);
  std::string native = ec ? operand : absolute.lexically_normal().string();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  const fs::file_status st = fs::status(native, ec);
  if (!fs::exists(st)) return Failed(native, ec && ec != std::errc::no_such_file_or_directory
                                                 ? "cannot be looked at (" + ec.message() + ")"
                                                 : "no such file");
  if (fs::is_directory(st)) return Failed(native, "is a folder, not a file");
  // Anything else (a FIFO, a device) could block the read or never end.
  if (!fs::is_regular_file(st)) return Failed(native, "is not a regular file");
  std::optional<WString> library = platform::FromNativePath(native);
  if (!library) return Failed(native, "has a path the library cannot name");

  cipher::fileio::File file(platform::OpenToLook(*library, FILE_SHARE_READ | FILE_SHARE_WRITE));
  if (!file.IsOpen()) return Failed(native, "cannot be opened for reading");
  auto payload = cipher::container::Locate(file);
  if (!payload) return Failed(native, "not an encrypted file");
  cipher::format::Header header;
  switch (cipher::container::ReadHeader(file, *payload, header)) {
    case ZQCA_OK: break;
    case ZQCA_ERR_NOT_ENCRYPTED: return Failed(native, "not an encrypted file");
    case ZQCA_ERR_VERSION: return Failed(native, "encrypted in a format version this program cannot read");
    case ZQCA_ERR_DAMAGED: return Failed(native, "encrypted, but its header is damaged");
    default: return Failed(native, "cannot be read");
  }

  FileHeader h;
  h.path = native;
  h.locked = (header.flags & cipher::format::kFlagLocked) != 0;
  // A message file is named so whatever its form (mail writes self-extracting ones).
  h.kind = EndsWithNoCase(native, ".qelmenx") ? "message" : payload->selfExtracting ? "self-extracting" : "in-place";
  if (payload->selfExtracting) h.program = ProgramOf(file);
  h.version = header.version;
  h.name = header.name;
  h.size = header.size;
  h.modified = header.modified;
  h.password = header.passwordKeyLen != 0;
  for (const auto& slot : header.slots) {
    h.storedKey = h.storedKey || slot.kind == cipher::format::SlotKind::kStoredKey;
    h.recipients += slot.kind == cipher::format::SlotKind::kRecipient;
  }
  h.keyStoreId = header.keyStoreId;
  return h;
}

}  // namespace halvex::cli
