// Benchmark driver for the cipher library, called by cipher_bench.sh.
//
//   cipher_bench encrypt SOURCE DESTINATION   one file, stored key; prints MiB/s and peak RSS
//   cipher_bench decrypt SOURCE FOLDER        the same the other way
//   cipher_bench aead [SECONDS]               in-memory throughput of both AEADs, one core
//   cipher_bench argon2                       one transcoding at the default parameters
//   cipher_bench many COUNT                   COUNT small files decrypted with one password
//
// Paths are native; they reach the library through the drive map (Z: is /).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "suite/cipher/cipher.h"
#include "suite/cipher/crypto.h"

namespace {

using namespace halvex;
using Clock = std::chrono::steady_clock;

constexpr BYTE kBenchKey[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

WString LibraryPath(const std::string& native) {
  auto absolute = std::filesystem::absolute(native).lexically_normal().string();
  auto path = platform::FromNativePath(absolute);
  if (!path) {
    std::fprintf(stderr, "cannot express %s as a library path\n", absolute.c_str());
    std::exit(2);
  }
  return *path;
}

uint64_t FileSize(const std::string& native) { return std::filesystem::file_size(native); }

void Report(const char* what, uint64_t bytes, double seconds) {
  std::printf("%s bytes=%llu seconds=%.3f mib_per_s=%.1f peak_rss_kib=%ld\n", what,
              static_cast<unsigned long long>(bytes), seconds, bytes / seconds / 1048576.0,
              PeakRssKiB());
}

int Encrypt(const std::string& source, const std::string& destination) {
  WString out = LibraryPath(destination);
  std::vector<WCHAR> buffer(MAX_PATH, 0);
  std::copy(out.begin(), out.end(), buffer.begin());
  auto start = Clock::now();
  uint32_t code = cipher::EncryptFile(LibraryPath(source).c_str(), buffer.data(), nullptr, kBenchKey,
                                      24, false, nullptr);
  double seconds = Seconds(start);
  if (code) return std::fprintf(stderr, "encrypt failed: %u\n", code), 1;
  Report("encrypt", FileSize(source), seconds);
  return 0;
}

int Decrypt(const std::string& source, const std::string& folder) {
  std::vector<WCHAR> output(MAX_PATH, 0);
  BYTE flag = 0;
  auto start = Clock::now();
  uint32_t code = cipher::DecryptFile(LibraryPath(source).c_str(), LibraryPath(folder).c_str(),
                                      WTEXT(""), 0, kBenchKey, 24, output.data(), &flag, nullptr);
  double seconds = Seconds(start);
  if (code) return std::fprintf(stderr, "decrypt failed: %u\n", code), 1;
  Report("decrypt", FileSize(source), seconds);
  return 0;
}

int Aead(double seconds) {
  halvex::cipher::crypto::EnsureInitialised();
  std::vector<uint8_t> chunk(64 * 1024), key(32, 7), tag(16);
  uint8_t nonce[12] = {};
  struct Candidate {
    const char* name;
    cipher::crypto::AeadId id;
  } candidates[] = {{"aes256gcm", cipher::crypto::AeadId::kAes256Gcm},
                    {"chacha20poly1305", cipher::crypto::AeadId::kChaCha20Poly1305}};
  for (const Candidate& c : candidates) {
    cipher::crypto::Aead aead;
    aead.Init(c.id, key);
    uint64_t bytes = 0;
    auto start = Clock::now();
    for (uint32_t i = 0; Seconds(start) < seconds; ++i) {
      std::memcpy(nonce, &i, sizeof i);
      aead.Seal(nonce, tag, chunk, tag);
      bytes += chunk.size();
    }
    std::printf("aead %s mib_per_s=%.0f\n", c.name, bytes / Seconds(start) / 1048576.0);
  }
  return 0;
}

int Argon2() {
  cipher::KdfParams p = cipher::CurrentKdfParams();
  BYTE* key = nullptr;
  auto start = Clock::now();
  uint32_t code = cipher::TranscodePassword(WTEXT("benchmark password"), 24, &key);
  double seconds = Seconds(start);
  cipher::FreeSecure(key);
  if (code) return std::fprintf(stderr, "transcoding failed: %u\n", code), 1;
  std::printf("argon2id t=%u m_kib=%u p=%u seconds=%.3f peak_rss_kib=%ld\n", p.passes, p.memoryKiB,
              p.lanes, seconds, PeakRssKiB());
  return 0;
}

int Many(int count) {
  std::string unique = "halvex-bench-";
  unique += std::to_string(getpid());
  auto dir = std::filesystem::temp_directory_path() / unique;
  std::filesystem::create_directories(dir / "enc");
  std::filesystem::create_directories(dir / "out");
  const WString password = WTEXT("one password for the batch");
  BYTE* key = nullptr;
  if (cipher::TranscodePassword(password, 24, &key)) return 1;
  for (int i = 0; i < count; ++i) {
    std::string name = std::to_string(i);
    auto plain = dir / (name + ".txt");
    std::ofstream(plain) << "small file " << i << '\n';
    WString out = LibraryPath((dir / "enc" / (name + ".hvx")).string());
    std::vector<WCHAR> buffer(MAX_PATH, 0);
    std::copy(out.begin(), out.end(), buffer.begin());
    if (cipher::EncryptFile(LibraryPath(plain.string()).c_str(), buffer.data(), key, nullptr, 24, false,
                            nullptr))
      return 1;
  }
  cipher::FreeSecure(key);
  cipher::ClearTranscodeCache();
  uint64_t before = cipher::KdfRunCount();
  auto start = Clock::now();
  WString folder = LibraryPath((dir / "out").string());
  for (int i = 0; i < count; ++i) {
    std::vector<WCHAR> output(MAX_PATH, 0);
    BYTE flag = 0;
    WString source = LibraryPath((dir / "enc" / (std::to_string(i) + ".hvx")).string());
    if (cipher::DecryptFile(source.c_str(), folder.c_str(), password.c_str(),
                            static_cast<uint32_t>(password.size()), nullptr, 24, output.data(), &flag,
                            nullptr))
      return 1;
  }
  double seconds = Seconds(start);
  std::printf("many files=%d seconds=%.3f per_file_ms=%.2f derivations=%llu\n", count, seconds,
              seconds * 1000 / count, static_cast<unsigned long long>(cipher::KdfRunCount() - before));
  std::filesystem::remove_all(dir);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "encrypt" && argc == 4) return Encrypt(argv[2], argv[3]);
  if (mode == "decrypt" && argc == 4) return Decrypt(argv[2], argv[3]);
  if (mode == "aead") return Aead(argc > 2 ? std::atof(argv[2]) : 2.0);
  if (mode == "argon2") return Argon2();
  if (mode == "many" && argc == 3) return Many(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: cipher_bench encrypt|decrypt|aead|argon2|many ...\n");
  return 2;
}
