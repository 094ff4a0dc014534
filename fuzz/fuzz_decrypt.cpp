// Fuzz target: a whole encrypted file, decrypted with the seeds' key into an
// empty folder, and looked at by the probes (encrypted? self-extracting?
// locked?). A refusal must leave the folder empty and the output buffer
// blank; an acceptance must leave exactly the one file it names.
//
// No password is given, so a forged header cannot make the target spend
// seconds in key derivation: only the stored-key slot is tried.
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/checksum.h"
#include "fuzz/fuzz_keys.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/cipher/cipher.h"

namespace fs = std::filesystem;
namespace fmt = halvex::cipher::format;

namespace {

fs::path root;

const WCHAR* Source() { return WTEXT("F:\\in.hvx"); }
const WCHAR* Folder() { return WTEXT("F:\\out\\"); }

void RemoveWorkFolder() {
  std::error_code ec;
  fs::remove_all(root, ec);
}

// The header may sit at the start or behind a stub, where a trailer says.
void RenewChecksums(std::vector<uint8_t>& data) {
  halvex::fuzz::RenewChecksum(data, 0);
  if (data.size() >= fmt::kTrailerSize)
    if (auto offset = fmt::TrailerOffset({data.data() + data.size() - fmt::kTrailerSize, fmt::kTrailerSize}))
      if (*offset < data.size()) halvex::fuzz::RenewChecksum(data, static_cast<size_t>(*offset));
}

size_t FilesIn(const fs::path& folder) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory file system where there is one: the library flushes what it
  // writes, and on a disk that alone would set the pace.
  std::error_code ec;
  fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "halvex-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  root = pattern;
  fs::create_directories(root / "out");
  setenv("HALVEX_DRIVES", ("F=" + root.string()).c_str(), 1);
  halvex::platform::ReloadDriveMap();
  halvex::cipher::SetKdfParams({1, 64, 1});
  std::atexit(RemoveWorkFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  RenewChecksums(bytes);
  {
    std::ofstream out(root / "in.hvx", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  halvex::cipher::IsEncrypted(Source());
  halvex::cipher::IsSelfExtracting(Source());
  halvex::cipher::IsLocked(Source());

  std::array<WCHAR, MAX_PATH> output{};
  output.fill(u'?');
  BYTE flag = 0;
  uint32_t code = halvex::cipher::DecryptFile(Source(), Folder(), nullptr, 0, halvex::fuzz::SeedKey().data(), 24,
                                              output.data(), &flag, nullptr);
  const size_t made = FilesIn(root / "out");
  if (code == ZQCA_OK ? (made != 1 || output[0] == 0) : (made != 0 || output[0] != 0)) std::abort();
  if (made) {
    for (const auto& entry : fs::directory_iterator(root / "out")) fs::remove(entry.path());
  }
  // Locking rewrites the header in place: it must refuse what decryption refused.
  uint32_t locked = halvex::cipher::Lock(Source());
  if (locked == ZQCA_OK && !halvex::cipher::IsLocked(Source())) std::abort();
  return 0;
}
