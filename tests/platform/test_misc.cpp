#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
  EXPECT_EQ(lstrlenW(WTEXT("")), 0);
  EXPECT_EQ(lstrlenW(WTEXT("C:\\a")), 4);
  EXPECT_EQ(lstrlenW(WTEXT("\U0001F600")), 2);
}

// A batch initialises COM on its thread and ends it there: the first call
// on a thread is S_OK, a repeated one S_FALSE, each to be paired.
TEST(Com, InitialisationIsPerThreadAndNested) {
  std::thread([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    std::thread([] {
      EXPECT_EQ(CoInitialize(nullptr), S_OK) << "another thread starts afresh";
      CoUninitialize();
    }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK) << "paired calls end it";
    CoUninitialize();
  }).join();
}

#ifndef _WIN32
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
#endif

// No Win32 call may run between setting and reading: starting and joining a
// thread clobber the value on Windows. The threads take turns on atomics.
TEST(LastError, IsPerThread) {
  std::atomic<int> turn{0};
  DWORD seenByOther = 99;
  std::thread other([&] {
    while (turn.load() != 1) {}
    seenByOther = GetLastError();
    SetLastError(ERROR_DISK_FULL);
    turn.store(2);
  });
  SetLastError(ERROR_SHARING_VIOLATION);
  turn.store(1);
  while (turn.load() != 2) {}
  const DWORD mine = GetLastError();
  other.join();
  EXPECT_EQ(mine, DWORD{ERROR_SHARING_VIOLATION});
  EXPECT_NE(seenByOther, DWORD{ERROR_SHARING_VIOLATION});
}

}  // namespace
