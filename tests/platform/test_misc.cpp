#include <gtest/gtest.h>

#include <thread>

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

TEST(GetTickCount, CountsMillisecondsForward) {
  const DWORD first = GetTickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const DWORD elapsed = GetTickCount() - first;  // unsigned: right across a wrap too
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(LstrlenW, CountsCodeUnits) {
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrlenW(u""), 0);
  EXPECT_EQ(lstrlenW(u"C:\\a"), 4);
  EXPECT_EQ(lstrlenW(u"\U0001F600"), 2);
}

TEST(Com, CallsAreCountedPerThread) {
  const int base = halvex::platform::ComInitCount();
  EXPECT_EQ(CoInitialize(nullptr), base == 0 ? S_OK : S_FALSE);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(halvex::platform::ComInitCount(), base + 2);
  std::thread([] { EXPECT_EQ(halvex::platform::ComInitCount(), 0); }).join();
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(halvex::platform::ComInitCount(), base);
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_SHARING_VIOLATION);
  std::thread([] {
    EXPECT_EQ(GetLastError(), DWORD{ERROR_SUCCESS});
    SetLastError(ERROR_DISK_FULL);
  }).join();
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
}

}  // namespace
