// InstallLoader and RestartDevice on the simulated flash.
#include <gtest/gtest.h>

#include <cstring>

#include "agent_rig.h"
#include "loader/install.h"

namespace {

class Install : public ::testing::Test {
 protected:
  void Start(const soc::Board& board, int32_t model) {
    rig.reset();
    rig = std::make_unique<AgentRig>(board);
    rig->PrepareTakeover(model);
    SetBoardLatchBits(kLatchFlashProgramEnable);
    // Old contents everywhere, and a loader in the buffer.
    old = Pattern(rig->soc.Flash().SizeBytes() < 0x100000 ? rig->soc.Flash().SizeBytes() : 0x100000, 1);
    for (auto& b : old) b &= 0x7E;  // never erased-looking
    rig->soc.Flash().Load(old);
    loader = Pattern(kLoaderImageBytes, 5);
    std::memcpy(rig->soc.RamPointer(Agent.hardwareMap.loaderBuffer), loader.data(), loader.size());
  }

  // Flash bytes outside the given [from, to) ranges still hold the old contents.
  void ExpectUntouchedOutside(std::initializer_list<std::pair<uint32_t, uint32_t>> ranges) {
    const auto& c = rig->soc.Flash().Contents();
    for (uint32_t i = 0; i < old.size(); ++i) {
      bool inside = false;
      for (const auto& [from, to] : ranges) inside = inside || (i >= from && i < to);
      if (!inside) {
        ASSERT_EQ(c[i], old[i]) << std::hex << i;
      }
    }
  }

  std::vector<uint8_t> Record() { return rig->FlashBytes(kLoaderRecordOffset, 8); }

  std::unique_ptr<AgentRig> rig;
  std::vector<uint8_t> old;
  std::vector<uint8_t> loader;
};

TEST_F(Install, Model5800WritesLoaderAndRecordInOneUnitBlock) {
  Start(soc::Board5800(), kModel5800);
  EXPECT_EQ(InstallLoader(), 1);
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes), loader);
  EXPECT_EQ(Record(), (std::vector<uint8_t>{0x00, 0x00, 0x08, 0xAC, 0x10, 0x00, 0x00, 0x00}));
  ExpectUntouchedOutside({{0x40000, 0x80000}});  // the 256 KiB unit block
  // Between loader and record the unit block reads erased.
  EXPECT_EQ(rig->FlashBytes(0x50000, 16), std::vector<uint8_t>(16, 0xFF));
}

TEST_F(Install, Model5300RecordCarriesTheHalAddress) {
  soc::Board board = soc::Board5300();
  Start(board, kModel5300);
  EXPECT_EQ(InstallLoader(), 1);
  const uint32_t address = board.halInfo[3] | 0xA0000000;
  const std::vector<uint8_t> expected = {
      uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24),
      32, 0, 0, 0};
  EXPECT_EQ(Record(), expected);
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes), loader);
}

TEST_F(Install, SmallInterleavedBlocksEraseTwoUnitBlocks) {
  Start(BoardWith(soc::Board5800(), 0x16, 2), kModel5800);  // unit block 64 KiB
  EXPECT_EQ(InstallLoader(), 1);
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes), loader);
  ExpectUntouchedOutside({{0x40000, 0x50000}, {0x60000, 0x70000}});
  EXPECT_EQ(rig->FlashBytes(0x60008, 8), std::vector<uint8_t>(8, 0xFF));
}

TEST_F(Install, LoaderLargerThanAUnitBlockErasesEveryBlockItOverlaps) {
  Start(BoardWith(soc::Board5300(), 0x16, 1), kModel5300);  // unit block 32 KiB
  EXPECT_EQ(InstallLoader(), 1);
  EXPECT_EQ(rig->FlashBytes(kLoaderFlashOffset, kLoaderImageBytes), loader);
  ExpectUntouchedOutside({{0x40000, 0x50000}, {0x60000, 0x68000}});
  EXPECT_EQ(rig->soc.Flash().Chip(0).Counters().erases, 3u);
}

TEST_F(Install, UnidentifiedFlashIsLeftAlone) {
  Start(BoardWith(soc::Board5800(), 0x19, 2), kModel5800);
  EXPECT_EQ(InstallLoader(), 0);
  ExpectUntouchedOutside({});
}

TEST_F(Install, EraseFailuresNameTheirStep) {
  soc::Board board = BoardWith(soc::Board5800(), 0x16, 2);
  board.flash.neverFinishingEraseAt = {0x40000};
  Start(board, kModel5800);
  rig->soc.Clock().SetAccessNs(100000);
  EXPECT_EQ(InstallLoader(), 0);
  EXPECT_NE(rig->soc.DebugText().find("Flsh Erase error\r\n"), std::string::npos);

  board.flash.neverFinishingEraseAt = {0x60000};
  Start(board, kModel5800);
  rig->soc.Clock().SetAccessNs(100000);
  EXPECT_EQ(InstallLoader(), 0);
  EXPECT_NE(rig->soc.DebugText().find("Flash Erase error\r\n"), std::string::npos);
  ExpectUntouchedOutside({{0x40000, 0x70000}});
}

TEST_F(Install, RecordFailureIsReported) {
  soc::Board board = soc::Board5800();
  board.flash.stuckBits = {{0x60003, 0x01, false}};  // 0xAC needs bit 0 cleared
  Start(board, kModel5800);
  EXPECT_EQ(InstallLoader(), 0);
  EXPECT_NE(rig->soc.DebugText().find("Flash program error\r\n"), std::string::npos);
}

TEST_F(Install, RestartWritesTheResetRegister) {
  Start(soc::Board5800(), kModel5800);
  EXPECT_THROW(RestartDevice(), soc::DeviceReset);
  EXPECT_EQ(rig->soc.ResetCount(), 1);
}

}  // namespace
