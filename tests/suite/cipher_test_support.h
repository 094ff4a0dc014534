// Helpers shared by the cipher tests: keys, calls with their buffers, files.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "suite/cipher/cipher.h"
#include "suite/zqca.h"
#include "tests/support/temp_drive.h"

namespace halvex::test {

// Cheap Argon2id for tests that derive many keys; the files record it.
constexpr cipher::KdfParams kCheapKdf{1, 64, 1};

inline const std::array<BYTE, 24>& StoredKey() {
  static const std::array<BYTE, 24> key = [] {
    std::array<BYTE, 24> k{};
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<BYTE>(0xA0 + i);
    return k;
  }();
  return key;
}

inline const std::array<BYTE, 24>& OtherKey() {
  static const std::array<BYTE, 24> key = [] {
    std::array<BYTE, 24> k{};
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<BYTE>(0x11 * (i + 1));
    return k;
  }();
  return key;
}

// A transcoded password, freed with ZQCA_FreeMemory.
class PasswordKey {
 public:
  explicit PasswordKey(const WString& password) {
    uint32_t error = 0;
    key_ = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), 24,
                                   &error);
    EXPECT_EQ(error, 0u);
  }
  ~PasswordKey() { ZQCA_FreeMemory(key_); }
  PasswordKey(const PasswordKey&) = delete;
  PasswordKey& operator=(const PasswordKey&) = delete;
  const BYTE* get() const { return key_; }

 private:
  BYTE* key_ = nullptr;
};

struct CallResult {
  uint32_t code;
  WString buffer;  // what the call left in its 260-character buffer
  BYTE flag = 0;
};

inline WString BufferText(const std::array<WCHAR, MAX_PATH>& buffer) {
  return WString(buffer.data());
}

inline CallResult Encrypt(const WString& source, const WString& destination, const BYTE* first,
                          const BYTE* second, bool selfExtract = false,
                          ZQCA_ProgressProc progress = nullptr) {
  std::array<WCHAR, MAX_PATH> buffer{};
  std::copy(destination.begin(), destination.begin() + std::min<size_t>(destination.size(), 259),
            buffer.begin());
  uint32_t code =
      ZQCA_DualPasswordFileEncryptW(source.c_str(), buffer.data(), first, second, 24, selfExtract, progress);
  return {code, BufferText(buffer)};
}

inline CallResult Decrypt(const WString& source, const WString& folder, const WString& password,
                          const BYTE* second, ZQCA_ProgressProc progress = nullptr) {
  std::array<WCHAR, MAX_PATH> buffer{};
  BYTE flag = 0;
  uint32_t code = ZQCA_DualPasswordFileDecryptW(source.c_str(), folder.c_str(), password.c_str(),
                                                static_cast<uint32_t>(password.size()), second, 24,
                                                buffer.data(), &flag, progress);
  return {code, BufferText(buffer), flag};
}

// Deterministic content of any size.
inline std::string Pattern(size_t size, unsigned seed = 1) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

inline std::vector<uint8_t> ReadBytes(const std::string& native) {
  std::ifstream in(native, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& native, const std::vector<uint8_t>& bytes) {
  std::ofstream out(native, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Names in a native folder, sorted.
inline std::vector<std::string> Listing(const std::string& native) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(native))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Uses cheap key derivation for the test's lifetime and starts each test
// with an empty transcoding cache.
class CipherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = cipher::CurrentKdfParams();
    cipher::SetKdfParams(kCheapKdf);
    cipher::ClearTranscodeCache();
  }
  void TearDown() override {
    cipher::SetKdfParams(saved_);
    cipher::ClearTranscodeCache();
  }
  TempDrive drive_;

 private:
  cipher::KdfParams saved_{};
};

}  // namespace halvex::test
