// Abandon by the progress screen's timers: what the wizard is told, what the
// worker still does afterwards (nothing), and who frees the buffers and the
// image file (exactly one side, once).
#include <chrono>

#include "download_fixture.h"
#include "transfer/download.h"
#include "port/port.h"
#include "flow/driver.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

class AbandonTest : public DownloadTest {
 protected:
  void ExpectReleased() {
    EXPECT_EQ(wizard::PieceBufferA.load(), nullptr);
    EXPECT_EQ(wizard::PieceBufferB.load(), nullptr);
    EXPECT_EQ(wizard::ImageFileHandle.load(), nullptr);
  }
};

TEST_F(AbandonTest, NoAnswerToTheWakeUpAbandonsOnTimer2AndLeadsToTheUpgradeError) {
  UseImage(Payload(0x100000));
  Line();
  StartMessageLink();
  std::uint32_t before = wizard::TransferReleases();
  auto result = ShowProgress(false);
  ASSERT_EQ(Read(1), Bytes{'A'});
  EXPECT_EQ(result.get(), 2);  // timer 2, 20 s in wizard time
  EXPECT_GT(wizard::Workers.BytesToSend, wizard::kLoaderBlockBytes) << "ERROR 113, not 114";
  EXPECT_TRUE(wizard::Workers.StopWorkers);
  EXPECT_EQ(sent_, 1u);
  EXPECT_EQ(Read(1, 300), Bytes{}) << "sent after the abandon";
  EXPECT_EQ(wizard::TransferReleases(), before + 1);
  ExpectReleased();
  EXPECT_FALSE(wizard::Wizard.WizardEnded) << "the wizard chooses the error screen";
}

TEST_F(AbandonTest, AStallDuringTheLoaderBlockLeadsToTheCommunicationError) {
  Bytes payload = Payload(0xC0000);
  UseImage(payload);
  Line();
  StartMessageLink();
  auto result = ShowProgress(false);
  ASSERT_EQ(WakeAndReadLength(), 0x80000u);
  Answer(Bytes{0x04, 0x00});
  ASSERT_EQ(Read(kPiece).size(), kPiece);
  Answer(Bytes{0x04, 0x00});
  ASSERT_EQ(Read(kPiece).size(), kPiece) << "first half of the loader block";
  // The handheld says nothing more: timer 1 (30 s) abandons.
  EXPECT_EQ(result.get(), 2);
  EXPECT_LE(wizard::Workers.BytesToSend, wizard::kLoaderBlockBytes) << "ERROR 114";
  EXPECT_EQ(Read(1, 300), Bytes{});
  ExpectReleased();
}

TEST_F(AbandonTest, AnAbandonDuringASendStopsTheWorkerWhichFreesTheBuffersOnce) {
  UseImage(Payload(0x200000));
  Line();
  StartMessageLink();
  std::uint32_t before = wizard::TransferReleases();
  auto result = ShowProgress(false);
  ASSERT_EQ(WakeAndReadLength(), 0x1C0000u);
  // A request, but the handheld does not read: the piece stalls in the line
  // until timer 1 abandons.
  Answer(Bytes{0x04, 0x00});
  EXPECT_EQ(result.get(), 2);
  std::uint64_t sentAtAbandon = sent_;
  EXPECT_LT(sentAtAbandon, 5u + kPiece) << "the piece went out whole";
  // What reached the line was written before the abandon (the write in
  // progress may have been cut short); nothing follows.
  std::uint64_t received = 0;
  while (!Read(1, 300).empty()) ++received;
  EXPECT_GT(received, 0u);
  EXPECT_LE(received, sentAtAbandon - 5);
  EXPECT_EQ(sent_, sentAtAbandon);
  EXPECT_EQ(wizard::TransferReleases(), before + 1);
  ExpectReleased();
  // The after-transfer screen's shutdown finds nothing more to free.
  wizard::ShutDownTransfer();
  EXPECT_EQ(wizard::TransferReleases(), before + 1);
}

TEST_F(AbandonTest, ADeadLinkStillEndsTheProgressScreenByItsTimer) {
  UseImage(Payload(0x80000));
  Line();
  StartMessageLink();
  // The port is gone before the wake-up (not an abandon): nothing can be sent.
  wizard::ShutDownLink();
  wizard::Workers.StopWorkers = false;
  auto result = ShowProgress(false);
  bool ended = result.wait_for(std::chrono::milliseconds(testsupport::kConditionBoundMs)) ==
               std::future_status::ready;
  if (!ended) wizard::EndWizard();  // lets the screen go, so that the test can end
  ASSERT_TRUE(ended) << "the screen stayed up";
  EXPECT_EQ(result.get(), 2);
  EXPECT_GT(wizard::Workers.BytesToSend, wizard::kLoaderBlockBytes);
  EXPECT_EQ(sent_, 0u);
}

TEST_F(AbandonTest, AfterSuccessTheBuffersWaitForTheAfterTransferScreen) {
  Bytes payload = Payload(0x80000);
  UseImage(payload);
  Line();
  StartMessageLink();
  std::uint32_t before = wizard::TransferReleases();
  HoldTimers();
  auto result = ShowProgress(false);
  ASSERT_EQ(WakeAndReadLength(), 0x40000u);
  for (int i = 0; i < 2; ++i) {
    Answer(Bytes{0x04, 0x00});
    ASSERT_EQ(Read(kPiece).size(), kPiece);
  }
  ASSERT_EQ(result.get(), 1);
  EXPECT_NE(wizard::PieceBufferB.load(), nullptr);
  EXPECT_EQ(wizard::TransferReleases(), before);
  wizard::ShutDownTransfer();
  wizard::ShutDownTransfer();
  wizard::ReleaseTransferBuffers();
  EXPECT_EQ(wizard::TransferReleases(), before + 1);
  ExpectReleased();
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
}

}  // namespace
}  // namespace downloadtest
