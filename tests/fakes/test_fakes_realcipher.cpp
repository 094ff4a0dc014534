// With realCipher set, the fakes hand the cipher's work to the real cipher and still record it.
#include <gtest/gtest.h>

#include "suite/cipher/cipher.h"
#include "suite/zqca.h"
#include "suite/zqkm.h"
#include "tests/fakes/fakes.h"
#include "tests/support/temp_drive.h"

namespace hf = halvex::fakes;

namespace {

TEST(FakesRealCipher, RealFilesRoundTripThroughTheRecordedCalls) {
  hf::Reset();
  hf::script().realCipher = true;
  halvex::cipher::SetKdfParams({1, 64, 1});  // cheap: the derivation is not under test here
  halvex::test::TempDrive drive;
  drive.Write("plan.doc", "hello");

  uint32_t error = 1, value = 0;
  BYTE* first = ZQCA_PasswordTranscodeW(WTEXT("pw"), 2, 24, &error);
  ASSERT_EQ(0u, error);
  BYTE* second = ZQKM_GetKeyFromKeyStore(0, &value, &error);
  WCHAR buffer[260] = {};
  WString dest = drive.Path("plan.docENX");
  std::copy(dest.begin(), dest.end(), buffer);
  ASSERT_EQ(0u, ZQCA_DualPasswordFileEncryptW(drive.Path("plan.doc").c_str(), buffer, first, second, 24, false,
                                              nullptr));
  EXPECT_NE(0u, drive.Read("plan.docENX").rfind("FAKEENC", 0)) << "a real encrypted file, not the fake's";
  EXPECT_TRUE(ZQCA_CheckEncryptedFileW(dest.c_str()));

  std::filesystem::remove(drive.Native("plan.doc"));
  WCHAR output[260] = {};
  BYTE flag = 0;
  ASSERT_EQ(0u, ZQCA_DualPasswordFileDecryptW(dest.c_str(), drive.Path("").c_str(), WTEXT(""), 0, second, 24, output,
                                              &flag, nullptr));
  EXPECT_EQ("hello", drive.Read("plan.doc"));
  EXPECT_EQ(1u, hf::CountOf("ZQCA_DualPasswordFileDecryptW"));

  ZQCA_FreeMemory(first);
  ZQKM_FreeMemory(second);
  EXPECT_EQ(0, hf::LiveCipherKeys() + hf::LiveStoreKeys() + hf::BadFrees());
  hf::Reset();
  halvex::cipher::SetKdfParams(halvex::cipher::kDefaultKdfParams);
}

}  // namespace
