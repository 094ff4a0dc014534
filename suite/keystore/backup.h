// Backups of the key ring sealed under a passphrase.
//
// Layout (all numbers little-endian):
//   offset  0  8 bytes  magic "HALVEXKB"
//   offset  8  1 byte   version, 1
//   offset  9  1 byte   AEAD, 1: AES-256-GCM
//   offset 10 12 bytes  Argon2id passes, memory in KiB, lanes (4 bytes each)
//   offset 22 16 bytes  Argon2id salt
//   offset 38 12 bytes  AEAD nonce
//   offset 50  ...      the key-store file (version 2 layout), sealed
//   last      16 bytes  the AEAD tag; bytes 0 to 49 are its associated data
// The key comes from Argon2id over the passphrase's UTF-8 bytes and the salt.
#pragma once

#include <cstdint>
#include <string_view>

#include "suite/keystore/ring.h"

namespace halvex::keystore::backup {

constexpr size_t kHeaderLength = 50;
constexpr size_t kTagLength = 16;
constexpr size_t kMaxLength = kHeaderLength + ring::kMaxFileLength + kTagLength;

// Whether bytes begin as a sealed backup does.
bool IsSealed(const uint8_t* data, size_t size);

// Seals a key-store file under passphrase into out; false when libgcrypt fails.
bool Seal(const ring::Secret& keyFile, std::string_view passphrase, std::vector<uint8_t>& out);

enum class Opened { kOk, kWrongPassphrase, kCorrupt };
// Opens a sealed backup into the key-store file it holds. A wrong passphrase
// and a changed byte look alike to the AEAD: both are kWrongPassphrase.
Opened Open(const uint8_t* data, size_t size, std::string_view passphrase, ring::Secret& keyFile);

// The Argon2id cost new backups get; tests lower it.
void SetCost(uint32_t passes, uint32_t memoryKiB);

}  // namespace halvex::keystore::backup
