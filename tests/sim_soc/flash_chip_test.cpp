// The flash chips as the processor sees them through the flash window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/soc/soc.h"

namespace {

using soc::Board;
using soc::Soc;

constexpr uint32_t kFlash = 0xA0000000;
constexpr uint32_t kLatch = 0xA8700000;
constexpr uint32_t kMsc0 = 0xAA000010;
// Ready status of two chips / one chip, and with error bits.
constexpr uint32_t kReady2 = 0x00800080;
constexpr uint32_t Both(uint32_t sr) { return sr | (sr << 16); }

// Commands on two interleaved chips: the byte in both half-words.
constexpr uint32_t Cmd2(uint8_t c) { return c | (static_cast<uint32_t>(c) << 16); }

class TwoChips : public ::testing::Test {
 protected:
  void EnableVpp() { soc_.Write32(kLatch, soc_.Latch().value | soc::kLatchFlashProgramEnable); }
  uint32_t Status(uint32_t offset = 0) { return soc_.Read32(kFlash + offset); }
  void WaitReady() { soc_.Clock().AdvanceNs(soc::kNsPerSecond); }
  uint32_t Word(uint32_t offset) {
    const auto& c = soc_.Flash().Contents();
    return c[offset] | c[offset + 1] << 8 | c[offset + 2] << 16 | static_cast<uint32_t>(c[offset + 3]) << 24;
  }
  void Erase(uint32_t offset) {
    soc_.Write32(kFlash + offset, Cmd2(0x20));
    soc_.Write32(kFlash + offset, Cmd2(0xD0));
  }
  // Loads one full buffer (16 words per chip) at `offset`, confirm at `confirmAt`.
  void BufferWrite(uint32_t offset, uint32_t confirmAt, uint32_t value) {
    soc_.Write32(kFlash + offset, Cmd2(0xE8));
    ASSERT_EQ(Status(offset), kReady2) << "XSR.7 on both chips";
    soc_.Write32(kFlash + offset, Cmd2(0x0F));
    for (uint32_t i = 0; i < 16; ++i) soc_.Write32(kFlash + offset + 4 * i, value);
    soc_.Write32(kFlash + confirmAt, Cmd2(0xD0));
  }
  Soc soc_{soc::Board5800()};
};

TEST(FlashIdentify, TwoChipsAnswerOnlyOnTheirOwnBusWidth) {
  // 16-bit bus (a board wired so): only the first chip is on the data lines,
  // both halves of a 32-bit read come from its word 0.
  Board narrow = soc::Board5800();
  narrow.bootMsc0 |= soc::kMsc0Bank0Width16;
  Soc soc16(narrow);
  soc16.Write16(kFlash, 0x0090);
  EXPECT_EQ(soc16.Read32(kFlash), 0x00890089u);
  // 32-bit bus: manufacturer in word 0, device code in word 1 of each chip.
  // Software cannot change the width the board sets.
  Soc soc(soc::Board5800());
  soc.Write32(kMsc0, soc.Msc0() | soc::kMsc0Bank0Width16);
  EXPECT_EQ(soc.FlashBusWidth(), 32);
  soc.Write32(kFlash, Cmd2(0x90));
  EXPECT_EQ(soc.Read32(kFlash), 0x00890089u);
  EXPECT_EQ(soc.Read32(kFlash + 4), 0x00180018u);
  soc.Write32(kFlash, Cmd2(0xFF));
  EXPECT_EQ(soc.Read32(kFlash), 0xFFFFFFFFu);
}

TEST(FlashIdentify, OneChipOnSixteenBitsGivesBothCodesInOneWord) {
  Board board = soc::Board5300();
  board.flash.deviceCode = 0x16;
  Soc soc(board);
  ASSERT_EQ(soc.FlashBusWidth(), 16);
  soc.Write16(kFlash, 0x0090);
  EXPECT_EQ(soc.Read32(kFlash), 0x00160089u);
  EXPECT_EQ(soc.Flash().SizeBytes(), 0x400000u);
  EXPECT_EQ(soc.Flash().UnitBlockBytes(), 0x8000u);
}

TEST(FlashIdentify, ForeignCodesAndLockBitsAreReported) {
  Board board = soc::Board5800();
  board.flash.manufacturer = 0x01;
  board.flash.deviceCode = 0x19;
  Soc soc(board);
  soc.Flash().SetUnitBlockLocked(0x40000, true);
  soc.Write32(kFlash, Cmd2(0x90));
  EXPECT_EQ(soc.Read32(kFlash), 0x00010001u);
  EXPECT_EQ(soc.Read32(kFlash + 4), 0x00190019u);
  // Block lock bit at block base + 2 (chip words): unit block 0x40000 locked.
  EXPECT_EQ(soc.Read32(kFlash + 0x40000 + 8), 0x00010001u);
  EXPECT_EQ(soc.Read32(kFlash + 0x80000 + 8), 0u);
}

TEST_F(TwoChips, EraseClearsOneUnitBlockAfterItsBusyTime) {
  std::vector<uint8_t> zeros(soc_.Flash().SizeBytes(), 0x00);
  soc_.Flash().Load(zeros);
  EnableVpp();
  Erase(0x4A000);
  EXPECT_EQ(Status(0x4A000), 0u) << "busy right after the confirm";
  soc_.Clock().AdvanceNs(soc::FlashTimings{}.eraseNs);
  EXPECT_EQ(Status(0x4A000), kReady2);
  const auto& c = soc_.Flash().Contents();
  EXPECT_EQ(c[0x3FFFF], 0x00);
  EXPECT_EQ(c[0x40000], 0xFF);
  EXPECT_EQ(c[0x7FFFF], 0xFF);
  EXPECT_EQ(c[0x80000], 0x00);
  EXPECT_EQ(soc_.Flash().Chip(0).Counters().erases, 1u);
}

TEST_F(TwoChips, WithoutProgrammingVoltageEraseAndProgramFailWithVppLow) {
  std::vector<uint8_t> zeros(0x100, 0x00);
  soc_.Flash().Load(zeros);  // first bytes 0, rest erased
  Erase(0);
  EXPECT_EQ(Status(), Both(0xA8));  // ready, erase error, VPP low
  EXPECT_EQ(soc_.Flash().Contents()[0], 0x00);
  soc_.Write32(kFlash, Cmd2(0x50));
  EXPECT_EQ(Status(), kReady2) << "clear status drops the error bits";
  soc_.Write32(kFlash + 0x200, Cmd2(0x40));
  soc_.Write32(kFlash + 0x200, 0x12345678);
  EXPECT_EQ(Status(), Both(0x98));  // ready, program error, VPP low
  EXPECT_EQ(Word(0x200), 0xFFFFFFFFu);
}

TEST_F(TwoChips, LockedBlocksRefuseEraseAndProgramUntilUnlocked) {
  EnableVpp();
  soc_.Write32(kFlash + 0x40000, Cmd2(0x60));
  soc_.Write32(kFlash + 0x40000, Cmd2(0x01));
  WaitReady();
  EXPECT_TRUE(soc_.Flash().UnitBlockLocked(0x40000));
  soc_.Write32(kFlash + 0x40010, Cmd2(0x40));
  soc_.Write32(kFlash + 0x40010, 0);
  EXPECT_EQ(Status(0x40000), Both(0x92));  // program error, locked block
  EXPECT_EQ(Word(0x40010), 0xFFFFFFFFu);
  soc_.Write32(kFlash, Cmd2(0x50));
  soc_.Write32(kFlash, Cmd2(0x60));
  soc_.Write32(kFlash, Cmd2(0xD0));  // clears every lock bit of the chip
  WaitReady();
  EXPECT_EQ(Status(), kReady2);
  EXPECT_FALSE(soc_.Flash().UnitBlockLocked(0x40000));
}

TEST_F(TwoChips, ProgrammingOnlyClearsBits) {
  EnableVpp();
  soc_.Write32(kFlash + 8, Cmd2(0x40));
  soc_.Write32(kFlash + 8, 0xF0F0FF00);
  WaitReady();
  soc_.Write32(kFlash + 8, Cmd2(0x10));  // the alternative setup code
  soc_.Write32(kFlash + 8, 0x0FFF00FF);
  WaitReady();
  EXPECT_EQ(Status(8), kReady2);
  EXPECT_EQ(Word(8), 0x00F00000u);
  // Bus order in the image: little-endian, first chip in the low half-word.
  EXPECT_EQ(soc_.Flash().Contents()[10], 0xF0);
  soc_.Write32(kFlash, Cmd2(0xFF));
  EXPECT_EQ(soc_.Read32(kFlash + 8), 0x00F00000u);
}

TEST_F(TwoChips, WordProgramIsBusyForItsTimeAndIgnoresCommandsMeanwhile) {
  EnableVpp();
  soc_.Write32(kFlash, Cmd2(0x40));
  soc_.Write32(kFlash, 0);
  EXPECT_EQ(Status(), 0u);
  soc_.Write32(kFlash, Cmd2(0xFF));  // dropped: the chip is busy
  EXPECT_EQ(Status(), 0u) << "still showing status, not array data";
  EXPECT_EQ(soc_.Flash().Chip(1).Counters().ignoredWhileBusy, 1u);
  soc_.Clock().AdvanceNs(soc::FlashTimings{}.wordProgramNs);
  EXPECT_EQ(Status(), kReady2);
}

TEST_F(TwoChips, FullBufferProgramsSixtyFourBytes) {
  EnableVpp();
  BufferWrite(0x40000, 0x40000, 0x12345678);
  WaitReady();
  EXPECT_EQ(Status(0x40000), kReady2);
  EXPECT_EQ(Word(0x40000), 0x12345678u);
  EXPECT_EQ(Word(0x4003C), 0x12345678u);
  EXPECT_EQ(Word(0x40040), 0xFFFFFFFFu);
  EXPECT_EQ(soc_.Flash().Chip(0).Counters().bufferPrograms, 1u);
}

TEST(FlashBuffer, ConfirmInAnotherBlockAbortsTheBuffer) {
  // The last buffer of a unit block, confirmed at the start of the block
  // after it (the byte just past the buffer): the chips abort.
  Board board = soc::Board5800();
  board.flash.deviceCode = 0x16;  // 32 KiB blocks: unit blocks of 64 KiB
  Soc soc(board);
  soc.Write32(kLatch, soc::kLatchFlashProgramEnable);
  soc.Write32(kFlash + 0x4FFC0, Cmd2(0xE8));
  soc.Write32(kFlash + 0x4FFC0, Cmd2(0x0F));
  for (uint32_t i = 0; i < 16; ++i) soc.Write32(kFlash + 0x4FFC0 + 4 * i, 0);
  soc.Write32(kFlash + 0x50000, Cmd2(0xD0));
  EXPECT_EQ(soc.Read32(kFlash + 0x50000), Both(0xB0));  // invalid sequence
  EXPECT_EQ(soc.Flash().Contents()[0x4FFC0], 0xFF);
  EXPECT_EQ(soc.Flash().Chip(0).Counters().aborts, 1u);
  EXPECT_EQ(soc.Flash().Chip(0).Counters().bufferPrograms, 0u);
}

TEST(FlashBuffer, ConfirmInsideItsBlockProgramsTheBlocksLastBuffer) {
  Board board = soc::Board5800();
  board.flash.deviceCode = 0x16;
  Soc soc(board);
  soc.Write32(kLatch, soc::kLatchFlashProgramEnable);
  soc.Write32(kFlash + 0x4FFC0, Cmd2(0xE8));
  soc.Write32(kFlash + 0x4FFC0, Cmd2(0x0F));
  for (uint32_t i = 0; i < 16; ++i) soc.Write32(kFlash + 0x4FFC0 + 4 * i, 0);
  soc.Write32(kFlash + 0x40000, Cmd2(0xD0));
  soc.Clock().AdvanceNs(soc::FlashTimings{}.bufferProgramNs);
  EXPECT_EQ(soc.Read32(kFlash + 0x40000), kReady2);
  EXPECT_EQ(soc.Flash().Contents()[0x4FFFF], 0x00);
}

TEST_F(TwoChips, BufferSequencesOutsideTheRulesAbort) {
  EnableVpp();
  // Count larger than the 16-word buffer.
  soc_.Write32(kFlash, Cmd2(0xE8));
  soc_.Write32(kFlash, Cmd2(0x10));
  EXPECT_EQ(Status(), Both(0xB0));
  soc_.Write32(kFlash, Cmd2(0x50));
  // Data running past the end of the block (128 KiB blocks: unit 0x40000).
  soc_.Write32(kFlash + 0x3FFF8, Cmd2(0xE8));
  soc_.Write32(kFlash + 0x3FFF8, Cmd2(0x03));
  soc_.Write32(kFlash + 0x3FFF8, 0);
  soc_.Write32(kFlash + 0x3FFFC, 0);
  soc_.Write32(kFlash + 0x40000, 0);
  EXPECT_EQ(Status(), Both(0xB0));
  soc_.Write32(kFlash, Cmd2(0x50));
  // Something other than the confirm after the data.
  soc_.Write32(kFlash, Cmd2(0xE8));
  soc_.Write32(kFlash, Cmd2(0x00));
  soc_.Write32(kFlash, 0);
  soc_.Write32(kFlash, Cmd2(0xFF));
  EXPECT_EQ(Status(), Both(0xB0));
  EXPECT_EQ(Word(0x3FFF8), 0xFFFFFFFFu);
  EXPECT_EQ(Word(0), 0xFFFFFFFFu);
}

TEST_F(TwoChips, BufferSetupWhileBusyReportsTheBufferUnavailable) {
  EnableVpp();
  soc_.Write32(kFlash, Cmd2(0x40));
  soc_.Write32(kFlash, 0);
  soc_.Write32(kFlash + 0x100, Cmd2(0xE8));
  EXPECT_EQ(Status(0x100), 0u);
  soc_.Clock().AdvanceNs(soc::FlashTimings{}.wordProgramNs);
  EXPECT_EQ(Status(0x100), 0u) << "XSR stays as loaded until 0xE8 is written again";
  soc_.Write32(kFlash + 0x100, Cmd2(0xE8));
  EXPECT_EQ(Status(0x100), kReady2);
}

TEST(FlashFaults, EraseOfAStuckBlockNeverFinishesOnItsChip) {
  Board board = soc::Board5800();
  board.flash.neverFinishingEraseAt = {0x40000};  // first chip's half-word
  Soc soc(board);
  soc.Write32(kLatch, soc::kLatchFlashProgramEnable);
  soc.Write32(kFlash + 0x40000, Cmd2(0x20));
  soc.Write32(kFlash + 0x40000, Cmd2(0xD0));
  soc.Clock().AdvanceNs(3600ull * soc::kNsPerSecond);
  EXPECT_EQ(soc.Read32(kFlash + 0x40000), 0x00800000u) << "second chip ready, first busy";
  EXPECT_TRUE(soc.Flash().Chip(0).Busy(soc.Clock().NowNs()));
  soc.RestartAfterReset();  // a reset pulse ends it
  EXPECT_FALSE(soc.Flash().Chip(0).Busy(soc.Clock().NowNs()));
}

TEST(FlashFaults, StuckBitFailsProgramOrStaysSilent) {
  Board board = soc::Board5300();
  board.flash.stuckBits = {{0x41, 0x04, false}, {0x80, 0x01, true}};
  Soc soc(board);
  soc.Write32(kLatch, soc::kLatchFlashProgramEnable);
  soc.Write16(kFlash + 0x40, 0x40);
  soc.Write16(kFlash + 0x40, 0x0000);
  soc.Clock().AdvanceNs(soc::FlashTimings{}.wordProgramNs);
  EXPECT_EQ(soc.Read16(kFlash + 0x40), 0x90u);  // program error
  EXPECT_EQ(soc.Flash().Contents()[0x41], 0x04);
  soc.Write16(kFlash, 0x50);
  soc.Write16(kFlash + 0x80, 0x40);
  soc.Write16(kFlash + 0x80, 0x0000);
  soc.Clock().AdvanceNs(soc::FlashTimings{}.wordProgramNs);
  EXPECT_EQ(soc.Read16(kFlash + 0x80), 0x80u) << "silent fault reports success";
  EXPECT_EQ(soc.Flash().Contents()[0x80], 0x01);
}

TEST(FlashBus, SixteenBitWriteOnThirtyTwoBitsReachesOneChip) {
  Soc soc(soc::Board5800());
  soc.Write32(kFlash, Cmd2(0x70));
  soc.Write16(kFlash + 2, 0x0090);  // second chip only
  EXPECT_EQ(soc.Read32(kFlash + 4), 0x00180080u);
  EXPECT_EQ(soc.Flash().Chip(1).Mode(), soc::ChipMode::ReadIdentifier);
  EXPECT_EQ(soc.Flash().Chip(0).Mode(), soc::ChipMode::ReadStatus);
  soc.Write8(kFlash, 0x70);
  EXPECT_EQ(soc.Flash().BusCounters().partialWrites, 1u);
}

TEST(FlashImage, LoadFillsTheRestErasedAndRefusesOversizedImages) {
  Soc soc(soc::Board5300());
  std::vector<uint8_t> image = {1, 2, 3};
  soc.Flash().Load(image);
  EXPECT_EQ(soc.Flash().Contents()[2], 3);
  EXPECT_EQ(soc.Flash().Contents()[3], 0xFF);
  EXPECT_EQ(soc.Read16(kFlash + 2), 0xFF03u);
  std::vector<uint8_t> tooLarge(soc.Flash().SizeBytes() + 1, 0);
  EXPECT_THROW(soc.Flash().Load(tooLarge), std::invalid_argument);
}

// What a correct driver never does, each recorded by the SoC: a write while
// a chip erases, a byte write, a command sequence the chips abort.
TEST_F(TwoChips, SlipsTheChipsRefuseAreViolations) {
  EnableVpp();
  EXPECT_EQ(soc_.Violations(), std::vector<std::string>{});
  Erase(0x40000);
  soc_.Write32(kFlash + 0x40000, Cmd2(0x70));  // while the erase runs
  WaitReady();
  soc_.Write8(kFlash + 0x80000, 0x40);
  soc_.Write32(kFlash + 0xC0000, Cmd2(0x20));
  soc_.Write32(kFlash + 0xC0000, Cmd2(0xFF));  // an erase setup not confirmed
  const std::vector<std::string> found = soc_.Violations();
  std::string all;
  for (const std::string& v : found) all += v + "; ";
  EXPECT_NE(all.find("ignored while busy"), std::string::npos) << all;
  EXPECT_NE(all.find("narrower than a chip word"), std::string::npos) << all;
  EXPECT_NE(all.find("aborted"), std::string::npos) << all;
}

}  // namespace
