// The fixed key the seed files are sealed with and the decryption target
// opens them with, so that mutations of a seed reach past the key slots.
#pragma once

#include <array>
#include <cstdint>

namespace halvex::fuzz {

inline const std::array<uint8_t, 24>& SeedKey() {
  static const std::array<uint8_t, 24> key = [] {
    std::array<uint8_t, 24> k{};
    for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(0xC3 ^ (i * 29));
    return k;
  }();
  return key;
}

}  // namespace halvex::fuzz
