// The boot loader path, through the resume form of the progress screen with
// a record marked critical (the record says USB: the serial port is used).
#include <algorithm>

#include "checks/resume_record.h"
#include "download_fixture.h"
#include "transfer/download.h"
#include "port/port.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

Bytes Slice(const Bytes& bytes, std::uint32_t from, std::uint32_t count) {
  Bytes slice(count, 0xFF);
  for (std::uint32_t i = 0; i < count && from + i < bytes.size(); ++i) slice[i] = bytes[from + i];
  return slice;
}

class BootLoaderTest : public DownloadTest {
 protected:
  std::shared_future<int> StartCritical(const Bytes& payload) {
    UseImage(payload);
    SaveRecord(true);
    wizard::MarkCriticalState();
    EXPECT_TRUE(wizard::LoadUpgradeState());
    EXPECT_TRUE(wizard::Wizard.Critical);
    wizard::Wizard.ImageSizeKB = 0;  // the language folder's image is not the one sent
    Line();
    return ShowProgress(true);
  }

  void ExpectEraseRange() {
    Bytes range = Read(8);
    ASSERT_EQ(range.size(), 8u);
    EXPECT_EQ(WordAt(range, 0), 0x40000u);
    EXPECT_EQ(WordAt(range, 4), 0xF40000u);
  }

  // Asks for the next block; checks its header and returns its bytes.
  Bytes RequestBlock(std::uint32_t address) {
    Answer(Bytes{0x02});
    Bytes header = Read(12);
    EXPECT_EQ(header.size(), 12u);
    if (header.size() != 12) return {};
    EXPECT_EQ(WordAt(header, 0), address);
    EXPECT_EQ(WordAt(header, 4), kBlock);
    EXPECT_EQ(WordAt(header, 8), 0u);
    return Read(kBlock);
  }
};

TEST_F(BootLoaderTest, BlocksGoToTheirAddressesAndTheTransferEndsAfterTheLast) {
  Bytes payload = Payload(5 * kBlock);
  HoldTimers();
  auto result = StartCritical(payload);
  ASSERT_EQ(Read(2), (Bytes{'l', '\r'}));
  Answer(Bytes{0x01});
  ExpectEraseRange();
  for (std::uint32_t block = 1; block < 5; ++block) {
    if (block == 3) {
      Answer("\r\nReady for download");
      EXPECT_EQ(Read(7), (Bytes{'B', '0', '0', '0', 'F', 'F', '\n'}));
    }
    ASSERT_TRUE(RequestBlock(block * kBlock) == Slice(payload, block * kBlock, kBlock)) << "block " << block;
  }
  EXPECT_EQ(result.get(), 1) << "ends right after the last block";
  EXPECT_FALSE(wizard::LoadUpgradeState()) << "the resume record is gone";
  EXPECT_EQ(wizard::Wizard.ImageSizeKB, (5 * kBlock + 32) >> 10) << "sized from the image sent";
  std::vector<unsigned> percents = ui_.Percents();
  ASSERT_GE(percents.size(), 3u);
  EXPECT_EQ(percents.back(), 100u);
  EXPECT_TRUE(std::all_of(percents.begin(), percents.end() - 1, [](unsigned p) { return p < 100; }));
  EXPECT_EQ(sent_, 2u + 8u + 7u + 4u * (12u + kBlock));
}

TEST_F(BootLoaderTest, AShortLastBlockIsPaddedAndEndsTheTransfer) {
  Bytes payload = Payload(2 * kBlock + 0x100);
  HoldTimers();
  auto result = StartCritical(payload);
  ASSERT_EQ(Read(2), (Bytes{'l', '\r'}));
  ASSERT_TRUE(RequestBlock(kBlock) == Slice(payload, kBlock, kBlock));
  Bytes last = RequestBlock(2 * kBlock);
  ASSERT_EQ(last.size(), kBlock);
  EXPECT_TRUE(last == Slice(payload, 2 * kBlock, kBlock)) << "0x100 bytes, then 0xFF";
  EXPECT_EQ(result.get(), 1) << "the end is at or past the payload's length";
}

TEST_F(BootLoaderTest, AnErasePromptWinsOverADownloadPromptInTheSameBuffer) {
  Bytes payload = Payload(2 * kBlock);
  HoldTimers();
  auto result = StartCritical(payload);
  ASSERT_EQ(Read(2), (Bytes{'l', '\r'}));
  // "download" and 0x01 together; the first byte last, so that the worker
  // sees the whole text at once.
  const std::string both = "download\x01";
  for (std::size_t i = both.size(); i-- > 0;) wizard::ReceiveBuffer.Set(i, static_cast<std::uint8_t>(both[i]));
  ExpectEraseRange();
  EXPECT_EQ(Read(1, 100), Bytes{}) << "the download prompt was answered too";
  ASSERT_TRUE(RequestBlock(kBlock) == Slice(payload, kBlock, kBlock));
  EXPECT_EQ(result.get(), 1);
}

TEST_F(BootLoaderTest, ASilentBootLoaderAbandonsOnTimer1) {
  auto result = StartCritical(Payload(2 * kBlock));
  ASSERT_EQ(Read(2), (Bytes{'l', '\r'}));
  EXPECT_EQ(result.get(), 2);
  EXPECT_TRUE(wizard::LoadUpgradeState()) << "the record stays";
  EXPECT_EQ(Read(1, 300), Bytes{});
}

}  // namespace
}  // namespace downloadtest
