// The message box: every code the library reports has words, and one line reaches stderr.
#include "suite/msgbox/messages.h"

#include <gtest/gtest.h>

#include <cstring>

#include "suite/msgbox.h"
#include "suite/zqca.h"

namespace mb = halvex::msgbox;

namespace {

TEST(Messages, EveryFesAndCipherCodeHasItsOwnMessage) {
  for (uint32_t fes : {1008u, 1013u, 1014u, 1015u, 1016u, 1017u, 1021u, 1022u, 1026u, 1301u, 1302u, 1303u,
                       1304u, 1305u, 1306u, 1307u, 1311u, 8501u, 8502u}) {
    const char* text = mb::DescribeFes(fes);
    ASSERT_NE(nullptr, text) << fes;
    EXPECT_GT(std::strlen(text), 5u) << fes;
  }
  for (uint32_t api : {ZQCA_ERR_SOURCE_BUSY, ZQCA_ERR_OUTPUT_EXISTS, ZQCA_ERR_PATH_TOO_LONG, ZQCA_ERR_DISK_FULL,
                       ZQCA_ERR_WRONG_KEY, ZQCA_ERR_VERSION, ZQCA_ERR_NOT_ENCRYPTED, ZQCA_ERR_CANCELLED,
                       ZQCA_ERR_LOCKED, ZQCA_ERR_DAMAGED, ZQCA_ERR_EMPTY_PASSWORD, ZQCA_ERR_NO_KEY,
                       ZQCA_ERR_UNSAFE_NAME, ZQCA_ERR_READ, ZQCA_ERR_WRITE, ZQCA_ERR_ACCESS, ZQCA_ERR_NOT_FOUND,
                       ZQCA_ERR_ARGUMENT, ZQCA_ERR_NO_MEMORY, ZQCA_ERR_KDF}) {
    EXPECT_NE(nullptr, mb::DescribeApi(api)) << api;
  }
}

TEST(Messages, PairPrefersTheMostSpecificReason) {
  struct Case {
    uint32_t fes, api;
    const char* expected;
  } cases[] = {
      {1306, 0, "could not delete the source file"},
      {1301, ZQCA_ERR_WRONG_KEY, "no key given opens the file (neither the password nor the key store)"},  // the cipher says why
      {1302, 4242, "could not decrypt the file"},                           // ... unless it cannot
      {1022, ZQCA_ERR_DISK_FULL, "the disk is full"},
      {0, ZQCA_ERR_DAMAGED, "the encrypted file is damaged or has been tampered with"},
      {0, 0, "an unexpected error occurred"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.expected, mb::Describe(c.fes, c.api)) << c.fes << "/" << c.api;
}

// A message batch's result is read by where it came from: 1015 there is a
// missing entry, never "access denied"; 1301 is the cipher's, not ours.
TEST(Messages, EntryResultsOfMessageBatchesSayWhatTheyMeanThere) {
  struct Case {
    uint32_t result;
    const char* expected;
  } cases[] = {
      {1015, "the file does not exist"},
      {1313, "the file is already a self-extracting encrypted file"},
      {1301, "the file was made by a newer version and cannot be read"},
      {1014, "the file is in use by another program"},
      {4242, "an unexpected error occurred"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.expected, mb::DescribeEntryResult(c.result)) << c.result;
  EXPECT_STREQ("access to the file was denied", mb::DescribeFes(1015));
}

TEST(Messages, ShowErrorMessageWritesOneLineWithBothCodes) {
  testing::internal::CaptureStderr();
  ShowErrorMessage(0, 1306, 0, 0);
  EXPECT_EQ("halvex: could not delete the source file (1306, 0)\n", testing::internal::GetCapturedStderr());
}

}  // namespace
