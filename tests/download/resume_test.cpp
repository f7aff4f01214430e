// The resume path: from the record to the closing or error screen.
#include "checks/resume_path.h"
#include "checks/resume_record.h"
#include "download_fixture.h"
#include "transfer/download.h"
#include "transfer/port.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

class ResumeTest : public DownloadTest {
 protected:
  std::future<void> Resume() {
    return std::async(std::launch::async, [] { wizard::RunResumePath(); });
  }
  // The loader's side of a whole 512 KB image.
  void ServeSmallImage() {
    ASSERT_EQ(WakeAndReadLength(), 0x40000u);
    for (int i = 0; i < 2; ++i) {
      Answer(Bytes{0x04, 0x00});
      ASSERT_EQ(Read(kPiece).size(), kPiece);
    }
  }
};

TEST_F(ResumeTest, WithoutARecordTheConnectionErrorEndsTheWizard) {
  Resume().get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{138}));  // "ERROR 101"
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
}

TEST_F(ResumeTest, ASerialRecordResumesOverTheLoaderToTheSerialClosingScreen) {
  UseImage(Payload(0x80000));
  SaveRecord(false);
  wizard::Wizard.DeviceInfo = {};  // the record restores the handheld
  Line();
  ui_.Result(167, 0);  // Next
  auto done = Resume();
  ServeSmallImage();
  done.get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 167, 160}));
  EXPECT_FALSE(wizard::LoadUpgradeState());
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr) << "screen 167 shut the link";
  EXPECT_EQ(wizard::PieceBufferA.load(), nullptr);
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
}

TEST_F(ResumeTest, AUsbRecordWithoutItsDeviceShowsTheOpenPortFailure) {
  UseImage(Payload(0x80000));
  SaveRecord(true);
  Line();
  auto done = Resume();  // USB record: the link is the USB device
  done.get();
  // No USB device is published: the port cannot be opened.
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 143}));  // "ERROR 105"
  EXPECT_TRUE(wizard::LoadUpgradeState()) << "the record stays";
}

TEST_F(ResumeTest, NoWakeUpAnswerShowsTheUpgradeErrorAndACriticalFailureTheCommunicationError) {
  UseImage(Payload(0x80000));
  SaveRecord(false);
  Line();
  auto done = Resume();
  ASSERT_EQ(Read(1), Bytes{'A'});
  done.get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 114}));  // "ERROR 113"
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_FALSE(wizard::Wizard.Critical);
}

TEST_F(ResumeTest, AFailureOverTheBootLoaderShowsTheCommunicationError) {
  UseImage(Payload(0x80000));
  SaveRecord(false);
  wizard::MarkCriticalState();
  Line();
  auto done = Resume();
  ASSERT_EQ(Read(2), (Bytes{'l', '\r'}));
  done.get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 142}));  // "ERROR 114"
  EXPECT_TRUE(wizard::LoadUpgradeState());
  EXPECT_TRUE(wizard::Wizard.Critical);
}

TEST_F(ResumeTest, AnImageForAnotherModelIsRefusedBeforeTheLinkStarts) {
  UseImage(Payload(0x80000));
  std::snprintf(wizard::Wizard.DeviceInfo.ModelID, sizeof wizard::Wizard.DeviceInfo.ModelID, "LUMO-5300");
  SaveRecord(false);
  Line();
  Resume().get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 123}));  // "ERROR 100"
  EXPECT_EQ(sent_, 0u);
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
}

TEST_F(ResumeTest, AMissingImageEndsTheResumeWithTheCannotOpenError) {
  UseImage(Payload(0x80000));
  std::snprintf(wizard::Wizard.FlashFile, sizeof wizard::Wizard.FlashFile, "%s/gone.nbf", folder_.c_str());
  SaveRecord(false);
  Resume().get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 141}));  // "ERROR 104"
  EXPECT_EQ(sent_, 0u);
}

}  // namespace
}  // namespace downloadtest
