// Processor peripherals of the simulated handheld and the agent's bus seam.
#include <gtest/gtest.h>

#include "device/platform/bus.h"
#include "sim/soc/soc.h"

namespace {

using soc::Soc;

constexpr uint32_t kOscr = 0xA9000010;
constexpr uint32_t kLatch = 0xA8700000;
constexpr uint32_t kShadow = 0x8C0202F8;
constexpr uint32_t kDebug = 0xA8800FE0;
constexpr uint32_t kReset = 0xA9030000;
constexpr uint32_t kUart = 0xA8050000;
constexpr uint32_t kMsc1 = 0xAA000014;

TEST(OsTimer, CountsAtTheTimerRateOfSimulatedTime) {
  Soc soc;
  uint32_t start = soc.Read32(kOscr);
  soc.Clock().AdvanceNs(soc::kNsPerSecond);
  // One second plus the cost of the second read.
  EXPECT_EQ(soc.Read32(kOscr) - start, 3686400u);
  // Bus accesses alone move time: 10,000 accesses of 100 ns are 1 ms.
  soc.Clock().SetAccessNs(100);
  uint32_t before = soc.Read32(kOscr);
  for (int i = 0; i < 9999; ++i) soc.Read32(kShadow);
  uint32_t after = soc.Read32(kOscr);
  EXPECT_GE(after - before, 3686u);
  EXPECT_LE(after - before, 3687u);
  EXPECT_EQ(soc.Stats().timerReads, 4u);
}

TEST(OsTimer, WrapsAtThirtyTwoBitsFromAChosenStart) {
  Soc soc;
  soc.Clock().SetAccessNs(0);
  soc.Clock().SetOscr(0xFFFFFF00);
  EXPECT_EQ(soc.Read32(kOscr), 0xFFFFFF00u);
  soc.Clock().AdvanceNs(1000000);  // 1 ms = 3686.4 ticks
  EXPECT_EQ(soc.Read32(kOscr), 0xFFFFFF00u + 3686u);
  EXPECT_LT(soc.Read32(kOscr), 0x1000u);
  soc.Write32(kOscr, 5);  // the counter is writable
  EXPECT_EQ(soc.Read32(kOscr), 5u);
}

TEST(BoardLatch, WritesDriveVppAndTheShadowIsPlainRam) {
  Soc soc;
  uint32_t boot = soc.BoardTable().bootLatch;
  EXPECT_EQ(soc.LatchShadow(), boot);
  EXPECT_EQ(soc.Read32(kShadow), boot);
  auto* shadow = static_cast<uint32_t*>(soc.RamPointer(kShadow));
  ASSERT_NE(shadow, nullptr);
  *shadow |= soc::kLatchFlashProgramEnable;
  EXPECT_EQ(soc.LatchShadow(), boot | soc::kLatchFlashProgramEnable);
  EXPECT_FALSE(soc.Vpp()) << "the shadow alone does not drive the latch";
  soc.Write32(kLatch, *shadow);
  EXPECT_TRUE(soc.Vpp());
  EXPECT_EQ(soc.Latch().history.back(), boot | soc::kLatchFlashProgramEnable);
  soc.Read32(kLatch);
  EXPECT_EQ(soc.Latch().reads, 1u) << "reads of the write-only latch are counted";
}

TEST(DebugPort, CollectsTheBytesWrittenAndTheTraceShowsThemInOrder) {
  Soc soc;
  soc.EnableTrace(true);
  for (char c : std::string("Begin \r\n")) {
    soc.Write8(kDebug, static_cast<uint8_t>(c));
    soc.Read32(kOscr);  // a wait between bytes, left out of the trace
  }
  EXPECT_EQ(soc.DebugText(), "Begin \r\n");
  ASSERT_EQ(soc.Trace().size(), 8u);
  EXPECT_EQ(soc.Trace()[1].value, static_cast<uint32_t>('e'));
  EXPECT_TRUE(soc.Trace()[1].write);
  EXPECT_LT(soc.Trace()[0].timeNs, soc.Trace()[1].timeNs);
}

TEST(ResetController, DefaultHookThrowsAndStateStaysForInspection) {
  Soc soc;
  soc.Write32(kMsc1, 0x1234);
  soc.Write32(kReset, 0);  // bit 0 clear: no reset
  EXPECT_EQ(soc.ResetCount(), 0);
  EXPECT_THROW(soc.Write32(kReset, 1), soc::DeviceReset);
  EXPECT_EQ(soc.ResetCount(), 1);
  EXPECT_EQ(soc.Msc1(), 0x1234u);
  soc.RestartAfterReset();
  EXPECT_EQ(soc.Msc1(), soc.BoardTable().bootMsc1);
}

TEST(ResetController, ACustomHookRunsInsteadOfTheException) {
  Soc soc;
  int calls = 0;
  soc.SetResetHook([&](Soc& s) { calls += s.ResetCount(); });
  soc.Write32(kReset, 1);
  EXPECT_EQ(calls, 1);
}

TEST(Uart3, TransmitterBusyForOneCharacterAndStickyBitsClearOnWrite) {
  Soc soc;
  soc.Write32(kUart + soc::kUtcr1, 0);
  soc.Write32(kUart + soc::kUtcr2, 1);
  EXPECT_EQ(soc.Uart().BaudRate(), 115200u);
  soc.Write32(kUart + soc::kUtcr3, 3);
  soc.Write32(kUart + soc::kUtdr, 'A');
  EXPECT_TRUE(soc.Read32(kUart + soc::kUtsr1) & soc::kUtsr1TransmitterBusy);
  soc.Clock().AdvanceNs(10 * soc::kNsPerSecond / 115200 + 1);
  EXPECT_FALSE(soc.Read32(kUart + soc::kUtsr1) & soc::kUtsr1TransmitterBusy);
  EXPECT_EQ(soc.Uart().transmitted, "A");
  soc.Uart().utsr0 = 0x1F;
  soc.Write32(kUart + soc::kUtsr0, 0x1C);
  EXPECT_EQ(soc.Read32(kUart + soc::kUtsr0), 0x03u);
}

TEST(Bus, FaultsOnAddressesAndWidthsNoDeviceTakes) {
  Soc soc;
  EXPECT_THROW(soc.Read32(0x50000000), soc::BusFault);
  EXPECT_THROW(soc.Read32(0xA0000002), soc::BusFault);  // misaligned
  EXPECT_THROW(soc.Write16(kMsc1, 1), soc::BusFault);  // registers are 32-bit
  EXPECT_THROW(soc.Read32(0xA0000000 + soc.Flash().SizeBytes()), soc::BusFault);
  EXPECT_EQ(soc.RamPointer(0x50000000), nullptr);
  // The loader buffer is RAM to its last byte and no further.
  EXPECT_NE(soc.RamPointer(0xAC080000 + soc::kLoaderBufferBytes - 1), nullptr);
  EXPECT_EQ(soc.RamPointer(0xAC080000 + soc::kLoaderBufferBytes), nullptr);
}

TEST(Boards, Model5300PlacesTheLoaderBufferAtTheHalAddress) {
  Soc soc(soc::Board5300());
  uint32_t buffer = soc::LoaderBufferAddress5300(soc.BoardTable());
  EXPECT_EQ(buffer, soc.BoardTable().halInfo[soc::kHalLoaderBufferWord] | 0xA0000000u);
  EXPECT_NE(soc.RamPointer(buffer), nullptr);
  EXPECT_EQ(soc.Flash().ChipCount(), 1);
  EXPECT_EQ(soc.FlashBusWidth(), 16);
}

// Bank 0's width is a board pin: software cannot change it. (The agent
// tries both widths while it identifies the chips, so trying is no fault.)
TEST(Boards, Bank0BusWidthIsTheBoardsWhateverSoftwareWrites) {
  for (const soc::Board& board : {soc::Board5300(), soc::Board5800()}) {
    Soc soc(board);
    const int width = soc.FlashBusWidth();
    const uint32_t msc0 = soc.Msc0();
    const uint32_t msc0Address = board.memoryController + soc::kMsc0Offset;
    soc.Write32(msc0Address, msc0 ^ soc::kMsc0Bank0Width16 ^ 1u);
    EXPECT_EQ(soc.FlashBusWidth(), width);
    EXPECT_EQ(soc.Read32(msc0Address), msc0 ^ 1u);  // the other bits are software's
  }
}

TEST(AgentBus, ForwardsToTheCurrentSocAndNests) {
  Soc outer;
  Soc inner;
  EXPECT_THROW(devbus::Read32(kShadow), soc::BusFault);
  {
    soc::ScopedBus useOuter(outer);
    devbus::Write8(kDebug, 'o');
    {
      soc::ScopedBus useInner(inner);
      devbus::Write8(kDebug, 'i');
      EXPECT_EQ(devbus::RamPointer(kShadow), inner.RamPointer(kShadow));
    }
    devbus::Write16(0xA0000000, 0x0090);
    EXPECT_EQ(outer.Flash().Chip(0).Mode(), soc::ChipMode::ReadIdentifier);
  }
  EXPECT_EQ(outer.DebugText(), "o");
  EXPECT_EQ(inner.DebugText(), "i");
  EXPECT_EQ(soc::CurrentSoc(), nullptr);
}

}  // namespace
