// DebugPrint formats and the OS-timer waits.
#include <gtest/gtest.h>

#include <climits>

#include "agent_rig.h"
#include "startup/debug_print.h"
#include "startup/os_timer.h"

namespace {

class DebugOutput : public ::testing::Test {
 protected:
  DebugOutput() : rig(soc::Board5800()) { rig.PrepareTakeover(kModel5800); }

  template <typename... T>
  std::string Print(const char* format, T... values) {
    const size_t before = rig.soc.DebugText().size();
    DebugPrint(format, values...);
    return rig.soc.DebugText().substr(before);
  }

  uint64_t Ticks() { return rig.soc.Clock().TicksSinceStart(); }

  AgentRig rig;
};

TEST_F(DebugOutput, HexadecimalWidths) {
  EXPECT_EQ(Print("%B|%H|%X|%x", 5u, 0x1234u, 0xABCu, 0u), "05|1234|00000ABC|0");
  EXPECT_EQ(Print("%x %X", 0xDEADBEEFu, 0xFFFFFFFFu), "DEADBEEF FFFFFFFF");
  EXPECT_EQ(Print("%B", 0x123u), "123");  // longer values print in full
}

TEST_F(DebugOutput, Decimal) {
  EXPECT_EQ(Print("%d", -12), "-12");
  EXPECT_EQ(Print("%d", INT_MIN), "-2147483648");
  EXPECT_EQ(Print("%d|%u", 0, 4294967295u), "0|4294967295");
  EXPECT_EQ(Print("%u", -1), "4294967295");
}

TEST_F(DebugOutput, CharactersStringsAndEscapes) {
  EXPECT_EQ(Print("%c%c", 'O', 0x14Bu), "OK");
  EXPECT_EQ(Print("[%s]", "a\nb"), "[a\r\nb]");
  EXPECT_EQ(Print("Begin \n"), "Begin \r\n");
  EXPECT_EQ(Print("100%%"), "100%");
  EXPECT_EQ(Print("%q"), " ");
  EXPECT_EQ(Print("a%qb"), "a b");
}

TEST_F(DebugOutput, MalformedFormatsStayInBounds) {
  EXPECT_EQ(Print("end%"), "end ");       // a lone "%" at the end
  EXPECT_EQ(Print("%x-%x", 7u), "7-0");   // a missing value prints as 0
  EXPECT_EQ(Print("[%s]", static_cast<const char*>(nullptr)), "[]");
}

TEST_F(DebugOutput, OneBytePerMillisecond) {
  const uint64_t before = Ticks();
  Print("abc");
  EXPECT_GE(Ticks() - before, 3u * kTicksPerMillisecond);
  EXPECT_LT(Ticks() - before, 4u * kTicksPerMillisecond);
}

TEST_F(DebugOutput, WaitCountsWholeMilliseconds) {
  uint64_t before = Ticks();
  WaitMicroseconds(999);
  EXPECT_LT(Ticks() - before, 10u);  // at once: a timer read or two
  before = Ticks();
  WaitMicroseconds(1000);
  EXPECT_GE(Ticks() - before, 3686u);
  EXPECT_LT(Ticks() - before, 3686u + 10u);
  before = Ticks();
  WaitMicroseconds(2500);
  EXPECT_GE(Ticks() - before, 2u * 3686u);
  EXPECT_LT(Ticks() - before, 2u * 3686u + 10u);
}

TEST_F(DebugOutput, WaitAcrossTheTimerWrap) {
  // Starts just below the wrap: the target wraps, the wait must not.
  for (uint32_t start : {0xFFFFFFFFu - 100u, 0xFFFFFFFFu - 3000u, 0xFFFFFFFFu}) {
    rig.soc.Clock().SetOscr(start);
    const uint64_t before = Ticks();
    WaitMicroseconds(1000);
    EXPECT_GE(Ticks() - before, 3686u) << start;
    EXPECT_LT(Ticks() - before, 3686u + 10u) << start;
  }
}

}  // namespace
