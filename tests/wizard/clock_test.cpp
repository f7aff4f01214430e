// The clock and thread seam on Linux: time scale rules and bounded joins.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/clock.h"

namespace {

struct ScaleGuard {
  std::uint32_t saved = platform::TimeScale();
  ~ScaleGuard() { platform::SetTimeScale(saved); }
};

TEST(ClockTest, ScaledDurationsAreDividedButNeverDropToZero) {
  ScaleGuard guard;
  platform::SetTimeScale(100);
  EXPECT_EQ(platform::ScaledMs(20000), 200u);
  EXPECT_EQ(platform::ScaledMs(50), 1u);  // non-zero stays non-zero
  EXPECT_EQ(platform::ScaledMs(0), 0u);
  // A wait on a real connection keeps its floor, but is never made longer
  // than the wizard asked for.
  EXPECT_EQ(platform::ScaledMsAtLeast(3000, 2000), 2000u);
  EXPECT_EQ(platform::ScaledMsAtLeast(500, 2000), 500u);
  platform::SetTimeScale(1);
  EXPECT_EQ(platform::ScaledMsAtLeast(3000, 2000), 3000u);
  platform::SetTimeScale(0);              // no division by zero: real time
  EXPECT_EQ(platform::TimeScale(), 1u);
  EXPECT_EQ(platform::ScaledMs(30000), 30000u);
}

std::atomic<bool> release{false};
unsigned long WaitForRelease(void* ran) {
  static_cast<std::atomic<bool>*>(ran)->store(true);
  while (!release) platform::SleepMs(1);
  return 0;
}

TEST(ClockTest, JoinIsBoundedAndSucceedsOnceTheThreadHasEnded) {
  std::atomic<bool> ran{false};
  release = false;
  platform::Thread* thread = platform::StartThread(WaitForRelease, &ran);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(platform::JoinThread(thread, 20));  // still running
  release = true;
  EXPECT_TRUE(platform::JoinThread(thread, 5000));
  EXPECT_TRUE(ran);
  platform::ReleaseThread(thread);
}

TEST(ClockTest, ReleasingARunningThreadLeavesItRunningSafely) {
  std::atomic<bool> ran{false};
  release = false;
  platform::Thread* thread = platform::StartThread(WaitForRelease, &ran);
  ASSERT_NE(thread, nullptr);
  platform::ReleaseThread(thread);
  release = true;
  while (!ran) platform::SleepMs(1);
  platform::SleepMs(10);  // let it finish before the test ends
}

}  // namespace
