// Recipients and identities: the host's choices, and their one-line text
// forms (FORMAT.md: Text forms).
#include "suite/cipher/recipients.h"

#include <algorithm>
#include <mutex>

namespace halvex::cipher {
namespace {

struct Identity {
  X25519Key secret;
  X25519Key publicKey;
};

// Set by the host between batches, read by every file's call, which may run
// on other threads than the host's.
std::mutex mutex;
std::vector<X25519Key> recipientKeys;
bool recipientsOnly = false;
std::vector<Identity> identities;

void WipeIdentities() {
  for (Identity& i : identities) crypto::Wipe(i.secret.data(), i.secret.size());
  identities.clear();
}

// RFC 4648 base32 without padding: no character a shell, a mail program or
// a URL treats specially, and one case only, so a line read aloud or
// retyped comes out the same.
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
constexpr std::string_view kRecipientPrefix = "halvex1";
constexpr std::string_view kIdentityPrefix = "HALVEX-SECRET-KEY-1";
constexpr std::string_view kRecipientCheck = "halvex recipient";
constexpr std::string_view kIdentityCheck = "halvex identity";
constexpr size_t kCheckSize = 4;
constexpr size_t kPayloadSize = 32 + kCheckSize;
constexpr size_t kEncodedSize = (kPayloadSize * 8 + 4) / 5;

// The first four bytes of SHA-256(label || key): catches a mistyped or cut
// line, and a recipient line given where an identity belongs.
std::array<uint8_t, kCheckSize> Check(std::string_view label, const X25519Key& key) {
  std::array<uint8_t, 64> input{};
  std::copy(label.begin(), label.end(), input.begin());
  std::copy(key.begin(), key.end(), input.begin() + label.size());
  std::array<uint8_t, crypto::kSha256Size> digest;
  crypto::Sha256(crypto::Bytes(input.data(), label.size() + key.size()), digest);
  crypto::Wipe(input.data(), input.size());
  std::array<uint8_t, kCheckSize> check;
  std::copy_n(digest.begin(), kCheckSize, check.begin());
  return check;
}

std::string Encode(std::string_view prefix, std::string_view label, const X25519Key& key, bool upper) {
  std::array<uint8_t, kPayloadSize> payload;
  std::copy(key.begin(), key.end(), payload.begin());
  const auto check = Check(label, key);
  std::copy(check.begin(), check.end(), payload.begin() + key.size());
  std::string text(prefix);
  uint32_t bits = 0;
  int held = 0;
  for (uint8_t b : payload) {
    bits = (bits << 8) | b;
    for (held += 8; held >= 5; held -= 5) text += kAlphabet[(bits >> (held - 5)) & 31];
  }
  if (held > 0) text += kAlphabet[(bits << (5 - held)) & 31];
  crypto::Wipe(payload.data(), payload.size());
  bits = 0;
  if (upper)
    for (size_t i = prefix.size(); i < text.size(); ++i)
      if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  return text;
}

std::optional<X25519Key> Decode(std::string_view line, std::string_view prefix, std::string_view label,
                                bool upper) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const size_t first = line.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::nullopt;
  line = line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
  if (line.size() != prefix.size() + kEncodedSize || line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::array<uint8_t, kPayloadSize> payload{};
  uint32_t bits = 0;
  int held = 0;
  size_t at = 0;
  for (char c : line.substr(prefix.size())) {
    if (upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    else if (upper && c >= 'a' && c <= 'z') return std::nullopt;
    const char* found = std::find(kAlphabet, kAlphabet + 32, c);
    if (found == kAlphabet + 32) return std::nullopt;
    bits = (bits << 5) | static_cast<uint32_t>(found - kAlphabet);
    if ((held += 5) >= 8) payload[at++] = static_cast<uint8_t>(bits >> (held -= 8));
  }
  // The bits past the last byte must be zero: one key, one spelling.
  const bool canonical = (bits & ((1u << held) - 1)) == 0;
  X25519Key key;
  std::copy_n(payload.begin(), key.size(), key.begin());
  const auto check = Check(label, key);
  const bool ok = canonical && crypto::Equal(check, crypto::Bytes(payload).subspan(key.size()));
  crypto::Wipe(payload.data(), payload.size());
  bits = 0;
  if (!ok) {
    crypto::Wipe(key.data(), key.size());
    return std::nullopt;
  }
  return key;
}

}  // namespace

bool SetRecipients(std::span<const X25519Key> recipients, bool only) {
  if (recipients.size() > kMaxRecipients) return false;
  std::lock_guard lock(mutex);
  recipientKeys.assign(recipients.begin(), recipients.end());
  recipientsOnly = only && !recipients.empty();
  return true;
}

bool AddIdentity(const X25519Key& identity) {
  if (!crypto::EnsureInitialised()) return false;
  Identity added{identity, {}};
  if (!crypto::X25519(identity, {}, added.publicKey)) return false;
  std::lock_guard lock(mutex);
  for (const Identity& i : identities)
    if (i.publicKey == added.publicKey) return true;
  identities.push_back(added);
  crypto::Wipe(added.secret.data(), added.secret.size());
  return true;
}

void ClearIdentities() {
  std::lock_guard lock(mutex);
  WipeIdentities();
}

std::optional<X25519Key> ParseRecipient(std::string_view line) {
  return Decode(line, kRecipientPrefix, kRecipientCheck, false);
}

std::optional<X25519Key> ParseIdentity(std::string_view line) {
  return Decode(line, kIdentityPrefix, kIdentityCheck, true);
}

std::string RecipientText(const X25519Key& publicKey) {
  return Encode(kRecipientPrefix, kRecipientCheck, publicKey, false);
}

std::string IdentityText(const X25519Key& identity) { return Encode(kIdentityPrefix, kIdentityCheck, identity, true); }

bool NewIdentity(X25519Key& identity) {
  if (!crypto::EnsureInitialised()) return false;
  crypto::StrongRandom(identity);
  return true;
}

bool PublicKeyOf(const X25519Key& identity, X25519Key& publicKey) {
  return crypto::EnsureInitialised() && crypto::X25519(identity, {}, publicKey);
}

namespace recipients {

Plan Current() {
  std::lock_guard lock(mutex);
  return {recipientKeys, recipientsOnly};
}

bool AnyIdentity(const std::function<bool(crypto::Bytes identity, crypto::Bytes publicKey)>& tryOne) {
  std::lock_guard lock(mutex);
  for (const Identity& i : identities)
    if (tryOne(i.secret, i.publicKey)) return true;
  return false;
}

}  // namespace recipients
}  // namespace halvex::cipher
