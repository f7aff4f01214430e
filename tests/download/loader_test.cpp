// The loader path as the handheld sees it on the wire, through the upgrade
// form of the progress screen.
#include <algorithm>

#include "checks/resume_record.h"
#include "download_fixture.h"
#include "transfer/download.h"
#include "port/port.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

constexpr std::uint32_t kLoaderBlockAt = 0x40000;
constexpr std::uint32_t kFilePiecesFrom = 0x80000;

Bytes Slice(const Bytes& bytes, std::uint32_t from, std::uint32_t count) {
  return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

class LoaderTest : public DownloadTest {
 protected:
  // Asks for one piece and reads it.
  Bytes RequestPiece() {
    Answer(Bytes{0x04, 0x00});
    return Read(kPiece);
  }

  void ExpectRecordGone() { EXPECT_FALSE(wizard::LoadUpgradeState()) << "the resume record is still there"; }
};

TEST_F(LoaderTest, SixteenMegabytesGoOutInWireOrderWithTheLoaderBlockLast) {
  Bytes payload = Payload(0x1000000);
  UseImage(payload);
  HoldTimers();
  SaveRecord(false);
  Line();
  StartMessageLink();
  auto result = ShowProgress(false);

  ASSERT_EQ(WakeAndReadLength(), 0xFC0000u);
  for (std::uint32_t piece = 0; piece < 124; ++piece) {
    Bytes got = RequestPiece();
    ASSERT_TRUE(got == Slice(payload, kFilePiecesFrom + piece * kPiece, kPiece))
        << "piece " << piece << ": " << got.size() << " bytes came";
  }
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt, kPiece)) << "first half of the loader block";
  EXPECT_EQ(wizard::Workers.BytesToSend, 0x40000u);
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt + kPiece, kPiece)) << "second half";

  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(sent_, 1u + 4u + 0xFC0000u);  // nothing else went out
  EXPECT_EQ(wizard::Workers.BytesToSend, 0x40000u);
  ExpectRecordGone();
  std::vector<unsigned> percents = ui_.Percents();
  ASSERT_GE(percents.size(), 3u);
  EXPECT_EQ(percents.back(), 100u);
  EXPECT_TRUE(std::all_of(percents.begin(), percents.end() - 1, [](unsigned p) { return p < 100; }));
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_FALSE(wizard::Workers.BusyCursor) << "the arrow shows once the data flows";
  EXPECT_GE(ui_.CursorRefreshes(), 1);
  // The wake-up timer ran until the answer; the message timer was restarted
  // at every request and stopped at the end.
  std::vector<int> starts = ui_.TimerStarts();
  EXPECT_EQ(starts.front(), 2);
  EXPECT_EQ(std::count(starts.begin(), starts.end(), 1), 1 + 126);
  EXPECT_EQ(ui_.TimerStops().back(), 1);
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102}));
}

TEST_F(LoaderTest, ANoiseByteBeforeTheReadyAnswerIsTolerated) {
  Bytes payload = Payload(0x80000);
  UseImage(payload);
  HoldTimers();
  Line();
  StartMessageLink();
  auto result = ShowProgress(false);

  ASSERT_EQ(Read(1), Bytes{'A'});
  Answer(Bytes{0x7E, 0x05, 0x00});
  // The smallest image: nothing but the loader block follows the length.
  Bytes length = Read(4);
  ASSERT_EQ(length.size(), 4u);
  EXPECT_EQ(WordAt(length, 0), 0x40000u);
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt, kPiece));
  // No piece came from the file, yet a stall now must read as the loader
  // block's: the count was set before the block went out.
  EXPECT_EQ(wizard::Workers.BytesToSend, 0x40000u);
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt + kPiece, kPiece));
  EXPECT_EQ(result.get(), 1);
}

TEST_F(LoaderTest, ASecondRequestDuringTheFirstLoaderHalfIsAnsweredWithTheSecondHalf) {
  Bytes payload = Payload(0x80000);
  UseImage(payload);
  HoldTimers();
  Line();
  StartMessageLink();
  auto result = ShowProgress(false);

  ASSERT_EQ(WakeAndReadLength(), 0x40000u);
  Answer(Bytes{0x04, 0x00});
  // The first half is going out (the line holds only a few KB unread): once
  // the first request has been taken (piece bytes follow the wake-up and
  // the length), ask again before reading anything.
  ASSERT_TRUE(Eventually([this] { return sent_ > 5; }));
  Answer(Bytes{0x04, 0x00});
  Bytes both = Read(2 * kPiece);
  EXPECT_TRUE(both == Slice(payload, kLoaderBlockAt, 2 * kPiece));
  EXPECT_EQ(result.get(), 1);
}

TEST_F(LoaderTest, AShortLastPieceIsPaddedAndThePaddedLengthAnnounced) {
  // The boot block, the loader block, one whole piece and 100 bytes.
  Bytes payload = Payload(0x80000 + kPiece + 100);
  UseImage(payload);
  HoldTimers();
  Line();
  StartMessageLink();
  auto result = ShowProgress(false);

  ASSERT_EQ(WakeAndReadLength(), 0x80000u) << "two file pieces and the loader block";
  EXPECT_TRUE(RequestPiece() == Slice(payload, kFilePiecesFrom, kPiece));
  Bytes last = RequestPiece();
  ASSERT_EQ(last.size(), kPiece);
  EXPECT_TRUE(Bytes(last.begin(), last.begin() + 100) == Slice(payload, kFilePiecesFrom + kPiece, 100));
  EXPECT_TRUE(std::all_of(last.begin() + 100, last.end(), [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt, kPiece));
  EXPECT_TRUE(RequestPiece() == Slice(payload, kLoaderBlockAt + kPiece, kPiece));
  EXPECT_EQ(result.get(), 1);
  EXPECT_EQ(sent_, 1u + 4u + 0x80000u) << "as many bytes as announced";
}

TEST_F(LoaderTest, AnImageUnderHalfAMegabyteIsRefusedBeforeAnythingIsSent) {
  UseImage(Payload(0x80000 - 1));
  SaveRecord(false);
  Line();
  StartMessageLink();
  EXPECT_EQ(ShowProgress(false).get(), 2);
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 141}));  // "ERROR 104"
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
  EXPECT_EQ(sent_, 0u);
  EXPECT_EQ(Read(1, 200), Bytes{}) << "the handheld received something";
  EXPECT_TRUE(wizard::LoadUpgradeState()) << "the record stays for the next run";
}

TEST_F(LoaderTest, AMissingImageEndsTheProgressScreenWithAnErrorScreen) {
  UseImage(Payload(0x80000));
  std::snprintf(wizard::Wizard.FlashFile, sizeof wizard::Wizard.FlashFile, "%s/gone.nbf", folder_.c_str());
  Line();
  StartMessageLink();
  EXPECT_EQ(ShowProgress(false).get(), 2);
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 141}));
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
  EXPECT_EQ(sent_, 0u);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr) << "the link is closed";
}

TEST(RunningPercent, IsGuardedAndStaysBelowAHundredWhileRunning) {
  EXPECT_EQ(wizard::RunningPercent(5, 0), 0u);
  EXPECT_EQ(wizard::RunningPercent(0x20000, 0x1000020), 0u);
  EXPECT_EQ(wizard::RunningPercent(0x800000, 0x1000000), 50u);
  // 64-bit: 40 MB times 100 does not fit in 32 bits.
  EXPECT_EQ(wizard::RunningPercent(0x2800000ull, 0x5000000ull), 50u);
  EXPECT_EQ(wizard::RunningPercent(0x1000000, 0x1000000), 99u);
  EXPECT_EQ(wizard::RunningPercent(0x1040000, 0x1000000), 99u);
}

}  // namespace
}  // namespace downloadtest
