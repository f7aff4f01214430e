// Memory-controller edits, serial set-up and the board latch.
#include <gtest/gtest.h>

#include "agent_rig.h"
#include "startup/memory_controller.h"
#include "startup/serial_port.h"

namespace {

class Takeover : public ::testing::Test {
 protected:
  Takeover() : rig(soc::Board5800()) { rig.PrepareTakeover(kModel5800); }
  AgentRig rig;
};

TEST_F(Takeover, MemoryControllerEditsKeepTheOtherBits) {
  const uint32_t msc0 = rig.soc.Msc0();
  const uint32_t msc1 = rig.soc.Msc1();
  TuneMemoryController();
  EXPECT_EQ(rig.soc.Msc0(), msc0 & ~0x3u);
  EXPECT_EQ(rig.soc.Msc1(), (msc1 & ~((0x1Fu << 3) | (0x7u << 13))) | (31u << 3) | (7u << 13));
  EXPECT_EQ(rig.soc.Memory().writes.size(), 3u);  // three read-modify-writes
}

TEST_F(Takeover, SerialPortAt115200WithTheGateClosedMeanwhile) {
  SetupSerialPort();
  const soc::Uart3& uart = rig.soc.Uart();
  EXPECT_EQ(uart.utcr[0], 8u);
  EXPECT_EQ(uart.utcr[1], 0u);
  EXPECT_EQ(uart.utcr[2], 1u);
  EXPECT_EQ(uart.utcr[3], 3u);
  EXPECT_EQ(uart.BaudRate(), 115200u);
  const auto& history = rig.soc.Latch().history;
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0] & kLatchSerialGate, 0u);
  EXPECT_NE(history[1] & kLatchSerialGate, 0u);
  // The UART was reprogrammed while the gate was closed: UTCR3 went 0 first.
  ASSERT_FALSE(uart.writes.empty());
  EXPECT_EQ(uart.writes.front().offset, soc::kUtcr3);
  EXPECT_EQ(uart.writes.front().value, 0u);
}

TEST_F(Takeover, StuckTransmitterDoesNotHangTheSetUp) {
  rig.soc.Uart().transmitBusyUntilNs = ~0ull;
  rig.soc.Clock().SetAccessNs(10000);
  SetupSerialPort();
  EXPECT_EQ(rig.soc.Uart().utcr[3], 3u);
}

TEST_F(Takeover, LatchChangesGoThroughTheShadow) {
  const uint32_t boot = rig.soc.LatchShadow();
  SetBoardLatchBits(kLatchFlashProgramEnable);
  EXPECT_EQ(rig.soc.Latch().value, boot | 0x01);
  ClearBoardLatchBits(kLatchSerialGate);
  EXPECT_EQ(rig.soc.Latch().value, (boot | 0x01) & ~0x80u);
  EXPECT_EQ(rig.soc.LatchShadow(), rig.soc.Latch().value);
  EXPECT_TRUE(rig.soc.Vpp());
  EXPECT_EQ(rig.soc.Latch().reads, 0u);  // the latch itself is never read
}

}  // namespace
