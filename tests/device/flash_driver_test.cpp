// Identification, erase and programming on the simulated chips.
#include <gtest/gtest.h>

#include "agent_rig.h"
#include "flash/flash_driver.h"

namespace {

class FlashDriverTest : public ::testing::Test {
 protected:
  void Start(const soc::Board& board, int32_t model) {
    rig.reset();  // the seams nest: the old rig lets go first
    rig = std::make_unique<AgentRig>(board);
    rig->PrepareTakeover(model);
    SetBoardLatchBits(kLatchFlashProgramEnable);
  }
  uint32_t Init() {
    uint32_t count = 99;
    result = FlashInit(&count);
    return count;
  }
  const soc::ChipCounters& Chip(int i) { return rig->soc.Flash().Chip(i).Counters(); }

  std::unique_ptr<AgentRig> rig;
  FlashResult result = 99;
};

TEST_F(FlashDriverTest, IdentifiesOneChipOnA16BitBus) {
  Start(soc::Board5300(), kModel5300);
  EXPECT_EQ(Init(), 1u);
  EXPECT_EQ(result, kFlashSucceed);
  EXPECT_EQ(rig->soc.FlashBusWidth(), 16);
  ASSERT_EQ(FlashDriver.descriptor, &TheFlashDescriptor);
  const FlashDescriptor& d = *FlashDriver.descriptor;
  EXPECT_EQ(d.chipSize, 0x1000000u);
  EXPECT_EQ(d.blockSize, 0x20000u);
  EXPECT_EQ(d.blockCount, 128u);
  EXPECT_EQ(d.chipDataWidth, 16u);
  EXPECT_EQ(d.reserved, 0u);
  EXPECT_EQ(d.writeBufferSize, 32u);
  for (FlashOp op : d.ops) EXPECT_NE(op, nullptr);
  // The chips are left reading the array.
  EXPECT_EQ(rig->soc.Flash().Chip(0).Mode(), soc::ChipMode::ReadArray);
}

TEST_F(FlashDriverTest, IdentifiesTwoInterleavedChipsOnA32BitBus) {
  Start(soc::Board5800(), kModel5800);
  EXPECT_EQ(Init(), 2u);
  EXPECT_EQ(result, kFlashSucceed);
  EXPECT_EQ(rig->soc.FlashBusWidth(), 32);
  EXPECT_TRUE(FlashDriver.identified);
}

TEST_F(FlashDriverTest, GeometryByDeviceCode) {
  struct Row { uint16_t device; uint32_t chipSize, blockSize; };
  for (Row row : {Row{0x15, 0x1000000, 0x20000}, Row{0x16, 0x400000, 0x8000},
                  Row{0x17, 0x800000, 0x20000}, Row{0x18, 0x1000000, 0x20000}}) {
    for (int chips : {1, 2}) {
      Start(BoardWith(soc::Board5800(), row.device, chips), kModel5800);
      EXPECT_EQ(Init(), static_cast<uint32_t>(chips)) << row.device;
      EXPECT_EQ(TheFlashDescriptor.chipSize, row.chipSize) << row.device;
      EXPECT_EQ(TheFlashDescriptor.blockSize, row.blockSize) << row.device;
      EXPECT_EQ(TheFlashDescriptor.blockCount, row.chipSize / row.blockSize);
    }
  }
}

TEST_F(FlashDriverTest, RejectsUnknownDeviceAndForeignMaker) {
  for (int chips : {1, 2}) {
    for (bool foreignMaker : {false, true}) {
      soc::Board board = BoardWith(soc::Board5800(), foreignMaker ? 0x18 : 0x19, chips);
      if (foreignMaker) board.flash.manufacturer = 0x01;
      Start(board, kModel5800);
      EXPECT_EQ(Init(), 0u);
      EXPECT_EQ(result, kFlashIdentifyFailed);
      EXPECT_FALSE(FlashDriver.identified);
      EXPECT_EQ(rig->soc.FlashBusWidth(), chips == 1 ? 16 : 32);  // as the board wired it
      const uint8_t data[4] = {0, 0, 0, 0};
      EXPECT_EQ(FlashProgramWord(0x40000, data, chips), kFlashIdentifyFailed);
      EXPECT_EQ(FlashProgramRange(0x40000, 4, data), kFlashIdentifyFailed);
      EXPECT_EQ(rig->soc.Flash().Contents()[0x40000], 0xFF);
    }
  }
}

TEST_F(FlashDriverTest, EraseTakesTheWholeUnitBlockOfInterleavedSmallBlocks) {
  Start(BoardWith(soc::Board5800(), 0x16, 2), kModel5800);
  std::vector<uint8_t> zeros(0x80000, 0x00);
  rig->soc.Flash().Load(zeros);
  ASSERT_EQ(Init(), 2u);
  EXPECT_EQ(FlashEraseBlock(0x4A000, 2), kFlashSucceed);  // unit block 2 x 32 KiB
  const auto& c = rig->soc.Flash().Contents();
  EXPECT_EQ(c[0x3FFFF], 0x00);
  for (uint32_t i = 0x40000; i < 0x50000; ++i) ASSERT_EQ(c[i], 0xFF) << std::hex << i;
  EXPECT_EQ(c[0x50000], 0x00);
  EXPECT_EQ(Chip(0).erases, 1u);
  EXPECT_EQ(Chip(1).erases, 1u);
}

TEST_F(FlashDriverTest, SlotsRefuseAChipCountOtherThanOneOrTwo) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const uint64_t writes = rig->soc.Flash().BusCounters().writes;
  for (uint32_t slot = 0; slot < kFlashOpCount; ++slot) {
    const uint32_t expected = slot == kSlotProgramSetupDone ? 1 : kFlashUnavailableCommand;
    EXPECT_EQ(TheFlashDescriptor.ops[slot](lumo::kFlashWindow + 0x40000, 3), expected) << slot;
  }
  EXPECT_EQ(rig->soc.Flash().BusCounters().writes, writes);
  EXPECT_EQ(FlashEraseBlock(0x40000, 3), kFlashUnavailableCommand);
}

TEST_F(FlashDriverTest, RangeOnOneChipSplitsHeadBufferTail) {
  Start(soc::Board5300(), kModel5300);
  ASSERT_EQ(Init(), 1u);
  const auto data = Pattern(0x48);
  EXPECT_EQ(FlashProgramRange(0x40008, 0x48, data.data()), kFlashSucceed);
  EXPECT_EQ(Chip(0).wordPrograms, 12u + 8u);  // 0x40008..0x40020, then 0x40040..0x40050
  EXPECT_EQ(Chip(0).bufferPrograms, 1u);
  EXPECT_EQ(rig->FlashBytes(0x40008, 0x48), data);
  EXPECT_EQ(rig->soc.Flash().Contents()[0x40007], 0xFF);
  EXPECT_EQ(rig->soc.Flash().Contents()[0x40050], 0xFF);
}

TEST_F(FlashDriverTest, RangeOnTwoChipsUsesBuffersOnly) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const auto data = Pattern(0x10000, 7);
  EXPECT_EQ(FlashProgramRange(0x40000, 0x10000, data.data()), kFlashSucceed);
  for (int i : {0, 1}) {
    EXPECT_EQ(Chip(i).bufferPrograms, 1024u);
    EXPECT_EQ(Chip(i).wordPrograms, 0u);
  }
  EXPECT_EQ(rig->FlashBytes(0x40000, 0x10000), data);
}

TEST_F(FlashDriverTest, EightBytesAreSingleWords) {
  const uint8_t record[8] = {0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00};
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  EXPECT_EQ(FlashProgramRange(0x60000, 8, record), kFlashSucceed);
  EXPECT_EQ(Chip(0).wordPrograms, 2u);
  EXPECT_EQ(rig->FlashBytes(0x60000, 8), std::vector<uint8_t>(record, record + 8));

  Start(soc::Board5300(), kModel5300);
  ASSERT_EQ(Init(), 1u);
  EXPECT_EQ(FlashProgramRange(0x60000, 8, record), kFlashSucceed);
  EXPECT_EQ(Chip(0).wordPrograms, 4u);
  EXPECT_EQ(rig->FlashBytes(0x60000, 8), std::vector<uint8_t>(record, record + 8));
}

TEST_F(FlashDriverTest, UnevenTailProgramsOnlyItsBytes) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const auto data = Pattern(0x43, 3);
  EXPECT_EQ(FlashProgramRange(0x40000, 0x43, data.data()), kFlashSucceed);
  EXPECT_EQ(rig->FlashBytes(0x40000, 0x43), data);
  EXPECT_EQ(rig->FlashBytes(0x40043, 0x40), std::vector<uint8_t>(0x40, 0xFF));
}

TEST_F(FlashDriverTest, MisalignedRangeIsRefused) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const auto data = Pattern(8);
  EXPECT_EQ(FlashProgramRange(0x40002, 8, data.data()), kFlashInvalidAddress);
  EXPECT_EQ(Chip(0).wordPrograms + Chip(1).wordPrograms, 0u);
}

TEST_F(FlashDriverTest, BufferLimitsAtTheFlashEnd) {
  Start(soc::Board5300(), kModel5300);
  ASSERT_EQ(Init(), 1u);
  const uint32_t end = 0x1000000;
  const auto data = Pattern(64);
  for (uint32_t back = 1; back <= 31; ++back) {
    EXPECT_EQ(FlashProgramBuffer(end - back, data.data(), 1), kFlashLengthOverMaxLimit) << back;
  }
  EXPECT_EQ(FlashProgramBuffer(end, data.data(), 1), kFlashInvalidAddress);
  EXPECT_EQ(Chip(0).bufferPrograms, 0u);
  // The very last buffer fits and is confirmed inside the flash.
  EXPECT_EQ(FlashProgramBuffer(end - 32, data.data(), 1), kFlashSucceed);
  EXPECT_EQ(rig->FlashBytes(end - 32, 32), std::vector<uint8_t>(data.begin(), data.begin() + 32));
}

TEST_F(FlashDriverTest, BufferOfAllChipsCountsAgainstTheEnd) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const uint32_t end = 0x2000000;
  const auto data = Pattern(64);
  EXPECT_EQ(FlashProgramBuffer(end - 32, data.data(), 2), kFlashLengthOverMaxLimit);
  EXPECT_EQ(FlashProgramBuffer(end - 64, data.data(), 2), kFlashSucceed);
  EXPECT_EQ(rig->FlashBytes(end - 64, 64), data);
}

TEST_F(FlashDriverTest, BufferEndingOnABlockBoundaryIsConfirmedInItsOwnBlock) {
  Start(soc::Board5800(), kModel5800);
  ASSERT_EQ(Init(), 2u);
  const auto data = Pattern(64, 9);
  EXPECT_EQ(FlashProgramBuffer(0x40000 - 64, data.data(), 2), kFlashSucceed);
  EXPECT_EQ(rig->FlashBytes(0x40000 - 64, 64), data);
  EXPECT_EQ(Chip(0).aborts + Chip(1).aborts, 0u);
}

}  // namespace
