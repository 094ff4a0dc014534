// A full secure pool must make every call that needs key memory fail, never
// carry on with an empty key. A program of its own: libgcrypt's pool is set
// up once per process, here small and without growing.
#include <gcrypt.h>

#include "tests/suite/cipher_test_support.h"

namespace halvex::test {
namespace {

TEST_F(CipherTest, FullSecurePoolRefusesEveryCallThatNeedsAKey) {
  if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) GTEST_SKIP() << "libgcrypt was set up before the test";
  ASSERT_TRUE(gcry_check_version(nullptr));
  gcry_control(GCRYCTL_DISABLE_SECMEM_WARN);
  gcry_control(GCRYCTL_INIT_SECMEM, 16384, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  drive_.Write("a.txt", "secret");
  ASSERT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("made.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);

  std::vector<void*> held;
  for (size_t size = 4096; size > 0; size /= 2)
    while (void* p = gcry_malloc_secure(size)) held.push_back(p);
  uint32_t error = 0;
  EXPECT_TRUE(ZQCA_PasswordTranscodeW(WTEXT("pw"), 2, 24, &error) == nullptr && error == ZQCA_ERR_NO_MEMORY);
  EXPECT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code,
            ZQCA_ERR_NO_MEMORY);
  EXPECT_FALSE(drive_.Exists("a.hvx"));
  EXPECT_EQ(Decrypt(drive_.Path("made.hvx"), drive_.Path("out"), WString(), StoredKey().data()).code,
            ZQCA_ERR_NO_MEMORY);
  for (void* p : held) gcry_free(p);

  EXPECT_EQ(Encrypt(drive_.Path("a.txt"), drive_.Path("a.hvx"), nullptr, StoredKey().data()).code, ZQCA_OK);
}

}  // namespace
}  // namespace halvex::test
