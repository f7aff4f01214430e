// Chips that never finish or report error bits: every wait ends with a
// non-zero FlashResult instead of hanging.
#include <gtest/gtest.h>

#include "agent_rig.h"
#include "flash/flash_driver.h"

namespace {

constexpr uint64_t kSlowAccessNs = 100000;  // long bus cycles: time limits pass in few polls

class FlashFaults : public ::testing::Test {
 protected:
  void Start(soc::Board board, int32_t model) {
    rig.reset();
    rig = std::make_unique<AgentRig>(board);
    rig->PrepareTakeover(model);
    SetBoardLatchBits(kLatchFlashProgramEnable);
    uint32_t count = 0;
    ASSERT_EQ(FlashInit(&count), kFlashSucceed);
    chips = count;
  }
  void SlowBus() { rig->soc.Clock().SetAccessNs(kSlowAccessNs); }
  std::string Debug() const { return rig->soc.DebugText(); }

  std::unique_ptr<AgentRig> rig;
  uint32_t chips = 0;
};

TEST_F(FlashFaults, EraseThatNeverFinishesTimesOut) {
  soc::Board board = soc::Board5800();
  board.flash.neverFinishingEraseAt = {0x40000};
  Start(board, kModel5800);
  SlowBus();
  const uint64_t start = rig->soc.Clock().TicksSinceStart();
  EXPECT_EQ(FlashEraseBlock(0x40000, chips), kFlashEraseTimeOut);
  EXPECT_GE(rig->soc.Clock().TicksSinceStart() - start, kEraseLimitTicks);
  EXPECT_NE(Debug().find("flash status"), std::string::npos);
}

TEST_F(FlashFaults, ErrorBitOfOneChipFailsTheErase) {
  Start(soc::Board5800(), kModel5800);
  rig->soc.Flash().Chip(1).SetBlockLocked(0x40000 / 2 / 0x20000, true);  // second chip only
  std::vector<uint8_t> image(0x80000, 0x00);
  rig->soc.Flash().Load(image);
  EXPECT_EQ(FlashEraseBlock(0x40000, chips), kFlashEraseTimeOut);
  // Status cleared and both chips reading the array again.
  EXPECT_EQ(rig->soc.Flash().Chip(0).Mode(), soc::ChipMode::ReadArray);
  EXPECT_EQ(rig->soc.Flash().Chip(1).Mode(), soc::ChipMode::ReadArray);
  EXPECT_EQ(rig->soc.Flash().Chip(1).Status(rig->soc.Clock().NowNs()) & 0x3A, 0);
}

TEST_F(FlashFaults, ProgrammingWithoutVppFails) {
  Start(soc::Board5300(), kModel5300);
  ClearBoardLatchBits(kLatchFlashProgramEnable);
  const auto data = Pattern(64);
  EXPECT_EQ(FlashProgramWord(0x40000, data.data(), chips), kFlashWriteVerifyFailed);
  EXPECT_EQ(FlashProgramBuffer(0x40000, data.data(), chips), kFlashWriteBufferVerifyFailed);
  EXPECT_EQ(FlashProgramRange(0x40000, 64, data.data()), kFlashWriteBufferVerifyFailed);
  EXPECT_EQ(rig->FlashBytes(0x40000, 64), std::vector<uint8_t>(64, 0xFF));
}

TEST_F(FlashFaults, HeadFailureIsNotedOnTheDebugPort) {
  Start(soc::Board5300(), kModel5300);
  ClearBoardLatchBits(kLatchFlashProgramEnable);
  const auto data = Pattern(8);
  EXPECT_EQ(FlashProgramRange(0x40004, 8, data.data()), kFlashWriteVerifyFailed);
  EXPECT_NE(Debug().find("Flash Write fail !!\r\r\n"), std::string::npos);
}

TEST_F(FlashFaults, SlowWordProgramTimesOut) {
  soc::Board board = soc::Board5800();
  board.flash.timings.wordProgramNs = 60ull * 1000 * 1000 * 1000;  // a minute
  Start(board, kModel5800);
  SlowBus();
  const auto data = Pattern(4);
  EXPECT_EQ(FlashProgramWord(0x40000, data.data(), chips), kFlashWriteVerifySetupTimeOut);
}

TEST_F(FlashFaults, SlowBufferProgramTimesOut) {
  soc::Board board = soc::Board5800();
  board.flash.timings.bufferProgramNs = 60ull * 1000 * 1000 * 1000;
  Start(board, kModel5800);
  SlowBus();
  const auto data = Pattern(64);
  EXPECT_EQ(FlashProgramBuffer(0x40000, data.data(), chips), kFlashWriteBufferVerifySetupTimeOut);
  // The chip stays busy: the next buffer is never available.
  EXPECT_EQ(FlashProgramBuffer(0x40040, data.data(), chips), kFlashWriteBufferCommandTimeOut);
}

TEST_F(FlashFaults, StuckBitReportedByTheChip) {
  soc::Board board = soc::Board5800();
  board.flash.stuckBits = {{0x40001, 0x01, false}};
  Start(board, kModel5800);
  const uint8_t zeros[4] = {0, 0, 0, 0};
  EXPECT_EQ(FlashProgramWord(0x40000, zeros, chips), kFlashWriteVerifyFailed);
}

TEST_F(FlashFaults, SilentStuckBitCaughtByTheReadBack) {
  soc::Board board = soc::Board5800();
  board.flash.stuckBits = {{0x40001, 0x01, true}, {0x40105, 0x80, true}};
  Start(board, kModel5800);
  const std::vector<uint8_t> zeros(64, 0x00);
  EXPECT_EQ(FlashProgramWord(0x40000, zeros.data(), chips), kFlashWriteVerifyFailed);
  EXPECT_NE(Debug().find("verify fail :Addr = A0040000, data = 0\r\r\n"), std::string::npos);
  EXPECT_EQ(FlashProgramBuffer(0x40100, zeros.data(), chips), kFlashWriteBufferVerifyFailed);
  EXPECT_NE(Debug().find("8000, 0, 1\r\n"), std::string::npos);
  EXPECT_NE(Debug().find("VERIFY FAILED\r\n"), std::string::npos);
}

}  // namespace
