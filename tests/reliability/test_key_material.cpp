// Key material: every key a batch obtains lives in libgcrypt's secure memory,
// is released exactly once with its own library's free function, and reads
// as zeros once released; the engine's own copies (the password, the random
// key) are wiped when the batch ends; and no copy of the password is left
// anywhere in the process's heap.
//
// The key calls of the engine are linked through recording stand-ins (see
// CMakeLists.txt: --wrap of the ZQCA_/ZQKM_ key calls).
#include <gtest/gtest.h>

#include <gcrypt.h>
#include <string.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "batch/state.h"
#include "suite/zqkm.h"
#include "tests/reliability/reliability.h"

namespace halvex::reliability {
namespace {

constexpr uint32_t kKeyLength = 24;

// Long enough to live on the heap in a std::u16string and to be unmistakable.
const WCHAR* ProbePassword() { return WTEXT("probe-7f3a9c1e-never-left-behind"); }

struct KeyRecord {
  void* pointer;
  const char* from;    // "cipher" or "keystore"
  bool secure;         // gcry_is_secure when handed out
  int frees = 0;       // with the matching free function
  int wrongFrees = 0;  // with the other library's
  bool zeroAfterFree = false;
};

std::vector<KeyRecord>& Keys() {
  static std::vector<KeyRecord> keys;
  return keys;
}

// Keys seen in the cipher calls, and whether each sat in secure memory.
std::vector<std::pair<const void*, bool>>& KeysUsed() {
  static std::vector<std::pair<const void*, bool>> used;
  return used;
}

KeyRecord* Find(void* p) {
  for (KeyRecord& k : Keys())
    if (k.pointer == p) return &k;
  return nullptr;
}

bool AllZero(const void* p, size_t n) {
  const auto* bytes = static_cast<const volatile unsigned char*>(p);
  for (size_t i = 0; i < n; ++i)
    if (bytes[i]) return false;
  return true;
}

void NoteFree(void* p, const char* by, void (*real)(void*)) {
  KeyRecord* k = p ? Find(p) : nullptr;
  // Secure memory stays mapped in libgcrypt's pool after a free, so reading it
  // back is safe; ordinary memory is not read once freed.
  const bool readable = p && gcry_is_secure(p);
  real(p);
  if (!k) return;
  if (std::string(k->from) == by) ++k->frees;
  else ++k->wrongFrees;
  k->zeroAfterFree = readable && AllZero(p, kKeyLength);
}

}  // namespace
}  // namespace halvex::reliability

using halvex::reliability::Keys;
using halvex::reliability::KeysUsed;

extern "C" {

BYTE* __real_ZQCA_PasswordTranscodeW(const WCHAR*, uint32_t, uint32_t, uint32_t*);
BYTE* __real_ZQKM_GetKeyFromKeyStore(uint32_t, uint32_t*, uint32_t*);
void __real_ZQCA_FreeMemory(void*);
void __real_ZQKM_FreeMemory(void*);
uint32_t __real_ZQCA_DualPasswordFileEncryptW(const WCHAR*, WCHAR*, const BYTE*, const BYTE*, uint32_t, bool,
                                              ZQCA_ProgressProc);
uint32_t __real_ZQCA_DualPasswordFileDecryptW(const WCHAR*, const WCHAR*, const WCHAR*, uint32_t, const BYTE*,
                                              uint32_t, WCHAR*, BYTE*, ZQCA_ProgressProc);

BYTE* __wrap_ZQCA_PasswordTranscodeW(const WCHAR* password, uint32_t length, uint32_t keyLen, uint32_t* error) {
  BYTE* key = __real_ZQCA_PasswordTranscodeW(password, length, keyLen, error);
  if (key) Keys().push_back({key, "cipher", gcry_is_secure(key) != 0});
  return key;
}

BYTE* __wrap_ZQKM_GetKeyFromKeyStore(uint32_t reserved, uint32_t* value, uint32_t* error) {
  BYTE* key = __real_ZQKM_GetKeyFromKeyStore(reserved, value, error);
  if (key) Keys().push_back({key, "keystore", gcry_is_secure(key) != 0});
  return key;
}

void __wrap_ZQCA_FreeMemory(void* p) { halvex::reliability::NoteFree(p, "cipher", __real_ZQCA_FreeMemory); }
void __wrap_ZQKM_FreeMemory(void* p) { halvex::reliability::NoteFree(p, "keystore", __real_ZQKM_FreeMemory); }

uint32_t __wrap_ZQCA_DualPasswordFileEncryptW(const WCHAR* source, WCHAR* destination, const BYTE* first,
                                              const BYTE* second, uint32_t keyLen, bool selfExtract,
                                              ZQCA_ProgressProc progress) {
  for (const BYTE* k : {first, second})
    if (k) KeysUsed().emplace_back(k, gcry_is_secure(k) != 0);
  return __real_ZQCA_DualPasswordFileEncryptW(source, destination, first, second, keyLen, selfExtract, progress);
}

uint32_t __wrap_ZQCA_DualPasswordFileDecryptW(const WCHAR* source, const WCHAR* folder, const WCHAR* password,
                                              uint32_t length, const BYTE* second, uint32_t keyLen, WCHAR* output,
                                              BYTE* flag, ZQCA_ProgressProc progress) {
  if (second) KeysUsed().emplace_back(second, gcry_is_secure(second) != 0);
  return __real_ZQCA_DualPasswordFileDecryptW(source, folder, password, length, second, keyLen, output, flag,
                                              progress);
}

}  // extern "C"

namespace halvex::reliability {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define HALVEX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HALVEX_ASAN 1
#endif
#endif

// Searches the process's anonymous writable memory (the heap, and the pools
// libgcrypt and the allocator map) for needle. Stacks and the program's own
// data are left out. Not under AddressSanitizer, whose shadow memory is
// terabytes of mapping.
#ifndef HALVEX_ASAN
std::vector<std::string> FindInHeap(const void* needle, size_t size) {
  std::vector<std::string> found;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode, path;
    fields >> range >> perms >> offset >> device >> inode;
    std::getline(fields >> std::ws, path);
    if (perms.substr(0, 2) != "rw" || !(path.empty() || path == "[heap]")) continue;
    uintptr_t start = std::stoull(range.substr(0, range.find('-')), nullptr, 16);
    uintptr_t end = std::stoull(range.substr(range.find('-') + 1), nullptr, 16);
    const char* at = reinterpret_cast<const char*>(start);
    size_t left = end - start;
    while (const void* hit = memmem(at, left, needle, size)) {
      char where[64];
      std::snprintf(where, sizeof where, "%p in %s", hit, path.empty() ? "anonymous memory" : path.c_str());
      found.emplace_back(where);
      size_t skip = static_cast<const char*>(hit) - at + 1;
      at += skip;
      left -= skip;
    }
  }
  return found;
}
#endif

struct Scenario {
  friend void PrintTo(const Scenario& s, std::ostream* out) { *out << s.what; }
  const char* what;
  uint32_t type;
  uint32_t action;
  bool password;
  bool brokenKeyStore = false;  // the batch fails in its set-up
};

class KeyMaterial : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    cipher::SetKdfParams(kCheapKdf);
    NonInteractive(progress::Choice::kYes, progress::ErrorChoice::kSkip);
    WriteFile(env_.Drive() / "docs" / "a.bin", Pattern(70000, 1));
    WriteFile(env_.Drive() / "docs" / "b.bin", Pattern(10, 2));
  }

  SuiteEnvironment env_;
};

TEST_P(KeyMaterial, NothingOutlivesTheBatch) {
  const Scenario& s = GetParam();
  SCOPED_TRACE(s.what);
  const WCHAR* password = s.password ? ProbePassword() : nullptr;
  std::vector<WString> list = {SuiteEnvironment::Path("docs/a.bin"), SuiteEnvironment::Path("docs/b.bin")};
  if (s.action == 0) {
    // What is to be decrypted is made first, by an encryption batch.
    list = RunBatch(list, 1, ProbePassword()).outputs;
    ASSERT_EQ(list.size(), 2u);
  }
  if (s.brokenKeyStore) WriteFile(env_.Root() / "keystore", "not a key file");
  Keys().clear();
  KeysUsed().clear();

  if (s.type == 0) {
    RunBatch(list, s.action, password);
  } else {
    std::vector<WString> storage = list;
    storage.push_back(WString());
    std::vector<WCHAR*> pointers;
    for (WString& p : storage) pointers.push_back(p.data());
    CFileList files(pointers.data());
    tagCRYPTOOPTIONS options{};
    tagCRYPTOPARAMS request{s.type, password, &files, 0, &options};
    Halvex(&request);
  }

  // Every key handed out sat in secure memory and was used from there.
  EXPECT_EQ(Keys().empty(), !s.password && s.brokenKeyStore);
  for (const KeyRecord& k : Keys()) {
    SCOPED_TRACE(k.from);
    EXPECT_TRUE(k.secure);
    EXPECT_EQ(k.frees, 1);
    EXPECT_EQ(k.wrongFrees, 0);
    EXPECT_TRUE(k.zeroAfterFree);
  }
  for (const auto& [key, secure] : KeysUsed()) {
    // Without a password the engine's own random key stands in for it,
    // inside the exported class; it is checked below.
    if (key == State().cryptoFile.m_byRandKey) continue;
    EXPECT_TRUE(secure);
  }

  // The engine's own copies.
  const CCryptoFile& engine = State().cryptoFile;
  EXPECT_EQ(engine.m_pFirstKey, nullptr);
  EXPECT_EQ(engine.m_pSecondKey, nullptr);
  EXPECT_TRUE(AllZero(engine.m_byRandKey, sizeof engine.m_byRandKey));
  EXPECT_TRUE(engine.m_strPassword.empty());
  EXPECT_TRUE(AllZero(engine.m_strPassword.data(), engine.m_strPassword.capacity() * sizeof(WCHAR)));

#ifdef HALVEX_ASAN
  std::printf("key material: the heap is not searched under AddressSanitizer\n");
#else
  // And nowhere else: not as typed (UTF-16), not as transcoded (UTF-8). The
  // needles sit on the stack, which is not searched.
  std::array<WCHAR, 64> wide{};
  std::array<char, 64> narrow{};
  size_t length = 0;
  for (const WCHAR* p = ProbePassword(); *p; ++p, ++length) {
    wide[length] = *p;
    narrow[length] = static_cast<char>(*p);  // the probe is ASCII
  }
  std::vector<std::string> copies = FindInHeap(wide.data(), length * sizeof(WCHAR));
  EXPECT_TRUE(copies.empty()) << "as typed: " << ::testing::PrintToString(copies);
  copies = FindInHeap(narrow.data(), length);
  EXPECT_TRUE(copies.empty()) << "as UTF-8: " << ::testing::PrintToString(copies);
#endif
}

const Scenario kScenarios[] = {
    {"encryption with a password", 0, 1, true},
    {"decryption with a password", 0, 0, true},
    {"encryption without a password", 0, 1, false},
    {"self-extracting copies", 1, 1, true},
    {"set-up failing at the key store", 0, 1, true, true},
};

INSTANTIATE_TEST_SUITE_P(Reliability, KeyMaterial, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return "scenario" + std::to_string(info.index);
                         });

}  // namespace
}  // namespace halvex::reliability
