// Writes the seed corpus: small real encrypted files of each kind, sealed
// with the seeds' key (and a password slot), into the folder given.
//   fuzz_make_seeds <folder>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_keys.h"
#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/cipher/cipher.h"

namespace fs = std::filesystem;

namespace {

struct Seed {
  const char* name;
  size_t size;
  bool selfExtracting;
  bool locked;
};

std::string Content(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>("seed text "[i % 10]);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  const fs::path stage = out / ".stage";
  fs::create_directories(stage);
  setenv("HALVEX_DRIVES", ("F=" + out.string()).c_str(), 1);
  halvex::platform::ReloadDriveMap();
  halvex::cipher::SetKdfParams({1, 64, 1});

  BYTE* password = nullptr;
  if (halvex::cipher::TranscodePassword(WTEXT("seed"), 24, &password)) return 1;
  const Seed seeds[] = {
      {"empty", 0, false, false},     {"one-byte", 1, false, false}, {"text", 300, false, false},
      {"self-extracting", 300, true, false}, {"locked", 40, false, true}, {"two-chunks", 65537, false, false},
  };
  int failures = 0;
  for (const Seed& seed : seeds) {
    const std::string plain = std::string(seed.name) + ".txt";
    std::ofstream(stage / plain, std::ios::binary) << Content(seed.size);
    std::array<WCHAR, MAX_PATH> destination{};
    WString target = halvex::platform::Widen(std::string("F:\\") + seed.name + ".hvx");
    std::copy(target.begin(), target.end(), destination.begin());
    WString source = halvex::platform::Widen("F:\\.stage\\" + plain);
    uint32_t code = halvex::cipher::EncryptFile(source.c_str(), destination.data(), password,
                                                halvex::fuzz::SeedKey().data(), 24, seed.selfExtracting, nullptr);
    if (code == 0 && seed.locked) code = halvex::cipher::Lock(target.c_str());
    if (code) std::fprintf(stderr, "%s: code %u\n", seed.name, code), ++failures;
  }
  halvex::cipher::FreeSecure(password);
  fs::remove_all(stage);
  return failures ? 1 : 0;
}
