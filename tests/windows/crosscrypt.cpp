// One file through the cipher and key-store libraries, built alike for Linux
// and for Windows, so that a file written by one build can be read by the
// other. Paths are native; the stored key comes from HALVEX_KEYSTORE.
//
//   crosscrypt encrypt PASSWORD SOURCE DESTINATION
//   crosscrypt decrypt PASSWORD SOURCE FOLDER      ("-": the stored key alone)
//
// Exit status 0 on success; otherwise the cipher's code is printed.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/paths.h"
#include "platform/wide.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"

using halvex::platform::FromNativePath;
using halvex::platform::ToUtf8;
using halvex::platform::Widen;

namespace {

constexpr uint32_t kKeyLength = 24;

struct Keys {
  BYTE* password = nullptr;
  BYTE* stored = nullptr;
  ~Keys() {
    if (password) ZQCA_FreeMemory(password);
    if (stored) ZQKM_FreeMemory(stored);
  }
};

int Usage() {
  std::fprintf(stderr, "usage: crosscrypt encrypt|decrypt PASSWORD SOURCE TARGET\n");
  return 2;
}

std::optional<WString> LibraryPath(const char* native) {
  auto path = FromNativePath(native);
  if (!path) std::fprintf(stderr, "crosscrypt: cannot use '%s'\n", native);
  return path;
}

int Encrypt(const WString& password, const WString& source, const WString& destination) {
  Keys keys;
  uint32_t error = 0, value = 0;
  keys.password = ZQCA_PasswordTranscodeW(password.c_str(), static_cast<uint32_t>(password.size()), kKeyLength, &error);
  if (error) return std::fprintf(stderr, "crosscrypt: password code %u\n", error), 1;
  keys.stored = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  if (error) return std::fprintf(stderr, "crosscrypt: key store code %u\n", error), 1;
  WCHAR buffer[MAX_PATH] = {};
  if (destination.size() >= MAX_PATH) return Usage();
  std::copy(destination.begin(), destination.end(), buffer);
  const uint32_t code =
      ZQCA_DualPasswordFileEncryptW(source.c_str(), buffer, keys.password, keys.stored, kKeyLength, false, nullptr);
  if (code) return std::fprintf(stderr, "crosscrypt: encryption code %u\n", code), 1;
  std::printf("%s\n", ToUtf8(buffer).c_str());
  return 0;
}

int Decrypt(const WString& password, const WString& source, const WString& folder) {
  Keys keys;
  uint32_t error = 0, value = 0;
  keys.stored = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  if (error) return std::fprintf(stderr, "crosscrypt: key store code %u\n", error), 1;
  WCHAR output[MAX_PATH] = {};
  BYTE flag = 0;
  const uint32_t code =
      ZQCA_DualPasswordFileDecryptW(source.c_str(), folder.c_str(), password.c_str(),
                                    static_cast<uint32_t>(password.size()), keys.stored, kKeyLength, output, &flag,
                                    nullptr);
  if (code) return std::fprintf(stderr, "crosscrypt: decryption code %u\n", code), 1;
  std::printf("%s%s\n", ToUtf8(output).c_str(), flag ? " (by password)" : " (by stored key)");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) return Usage();
  const WString password = std::strcmp(argv[2], "-") == 0 ? WString() : Widen(argv[2]);
  auto source = LibraryPath(argv[3]);
  auto target = LibraryPath(argv[4]);
  if (!source || !target) return 2;
  if (std::strcmp(argv[1], "encrypt") == 0) return Encrypt(password, *source, *target);
  if (std::strcmp(argv[1], "decrypt") == 0) return Decrypt(password, *source, *target);
  return Usage();
}
