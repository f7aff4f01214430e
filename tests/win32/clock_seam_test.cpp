// The clock and thread seam on Windows: CreateThread threads, bounded joins,
// a monotonic wizard clock from GetTickCount and the time scale.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/tick_count.h"

namespace {

unsigned long Double(void* argument) {
  auto* value = static_cast<std::atomic<int>*>(argument);
  *value = *value * 2;
  return 0;
}

unsigned long WaitForEvent(void* argument) {
  WaitForSingleObject(static_cast<HANDLE>(argument), INFINITE);
  return 0;
}

TEST(ClockSeam, ThreadRunsWithItsArgumentAndJoins) {
  std::atomic<int> value{21};
  platform::Thread* thread = platform::StartThread(Double, &value);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(platform::JoinThread(thread, 5000));
  EXPECT_EQ(value.load(), 42);
  platform::ReleaseThread(thread);
}

TEST(ClockSeam, JoinGivesUpAfterItsTimeAndSucceedsOnceTheThreadEnds) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  platform::Thread* thread = platform::StartThread(WaitForEvent, event);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(platform::JoinThread(thread, 50));
  SetEvent(event);
  EXPECT_TRUE(platform::JoinThread(thread, 5000));
  platform::ReleaseThread(thread);
  CloseHandle(event);
}

unsigned long SampleClock(void* argument) {
  auto* backwards = static_cast<std::atomic<int>*>(argument);
  std::uint64_t last = platform::NowMs();
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t now = platform::NowMs();
    if (now < last) ++*backwards;
    last = now;
  }
  return 0;
}

TEST(ClockSeam, ClockNeverRunsBackwardsOnAnyThreadAndAdvances) {
  std::atomic<int> backwards{0};
  std::vector<platform::Thread*> threads;
  for (int i = 0; i < 4; ++i) threads.push_back(platform::StartThread(SampleClock, &backwards));
  for (platform::Thread* thread : threads) {
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(platform::JoinThread(thread, 30000));
    platform::ReleaseThread(thread);
  }
  EXPECT_EQ(backwards.load(), 0);

  std::uint64_t before = platform::NowMs();
  Sleep(100);
  EXPECT_GE(platform::NowMs() - before, 50u);  // GetTickCount ticks in 10-16 ms steps
}

TEST(ClockSeam, TimeScaleDividesDurationsAndSpeedsTheClock) {
  platform::SetTimeScale(4);
  EXPECT_EQ(platform::TimeScale(), 4u);
  EXPECT_EQ(platform::ScaledMs(1000), 250u);
  EXPECT_EQ(platform::ScaledMs(1), 1u);  // never rounds a wait away
  EXPECT_EQ(platform::ScaledMs(0), 0u);

  platform::SetTimeScale(1000);
  DWORD start = GetTickCount();
  platform::SleepMs(20000);  // 20 wizard seconds
  EXPECT_LT(GetTickCount() - start, 5000u);
  std::uint64_t before = platform::NowMs();
  Sleep(100);
  EXPECT_GE(platform::NowMs() - before, 50000u);  // wizard time runs 1000 times faster

  platform::SetTimeScale(0);  // taken as 1
  EXPECT_EQ(platform::TimeScale(), 1u);
}

}  // namespace

namespace {

TEST(TickCount, ExtendsAcrossTheWrapAndIgnoresOlderReadings) {
  constexpr std::uint64_t kWrap = 0x100000000ull;
  EXPECT_EQ(win32::ExtendTickCount(1000, 1500), 1500u);
  // Just before and after GetTickCount wraps to 0.
  EXPECT_EQ(win32::ExtendTickCount(0xFFFFFFF0u, 0x10), kWrap + 0x10);
  EXPECT_EQ(win32::ExtendTickCount(kWrap + 0x10, 0x20), kWrap + 0x20);
  EXPECT_EQ(win32::ExtendTickCount(3 * kWrap + 0xFFFFFF00u, 0x5), 4 * kWrap + 0x5);
  // A thread that read the clock a moment before another one moved the count
  // on brings an older reading: the count stays, it does not jump 49 days.
  EXPECT_EQ(win32::ExtendTickCount(kWrap + 0x20, 0x1F), kWrap + 0x20);
  EXPECT_EQ(win32::ExtendTickCount(0x10, 0xFFFFFFF0u), 0x10u);
}

}  // namespace
