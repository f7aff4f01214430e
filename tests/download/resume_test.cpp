// The resume path: from the record to the closing or error screen.
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "flow/resume_path.h"
#include "checks/resume_record.h"
#include "download_fixture.h"
#include "platform/pc_registry.h"
#include "wizard/screen_session.h"
#include "transfer/download.h"
#include "port/port.h"
#include "wizard/wizard_state.h"

namespace downloadtest {
namespace {

// Notes the thread every modal screen is shown on, then lets the bench show it.
class ThreadRecordingFrontEnd : public screens::FrontEnd {
 public:
  // Installed in front of the bench until destroyed.
  explicit ThreadRecordingFrontEnd(BenchFrontEnd& bench) : bench_(bench) {}
  ~ThreadRecordingFrontEnd() override { screens::SetFrontEnd(&bench_); }
  void Install() { screens::SetFrontEnd(this); }

  std::vector<std::thread::id> Threads(int screen) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::thread::id> threads;
    for (const auto& [id, thread] : shown_) {
      if (id == screen) threads.push_back(thread);
    }
    return threads;
  }

  int RunModal(screens::ScreenSession& session) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shown_.emplace_back(session.id(), std::this_thread::get_id());
    }
    return bench_.RunModal(session);
  }
  void OpenModeless(screens::ScreenSession& session) override { bench_.OpenModeless(session); }
  void CloseModeless(screens::ScreenSession& session) override { bench_.CloseModeless(session); }
  bool ChooseFile(const screens::FileDialogRequest& request, char* path, std::size_t capacity) override {
    return bench_.ChooseFile(request, path, capacity);
  }
  void CloseMainWindow() override { bench_.CloseMainWindow(); }

 private:
  BenchFrontEnd& bench_;
  mutable std::mutex mutex_;
  std::vector<std::pair<int, std::thread::id>> shown_;
};

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
  HoldTimers();
  Line();
  ui_.Result(167, 0);  // Next
  auto done = Resume();
  ServeSmallImage();
  if (HasFatalFailure()) ui_.FireAll();  // a held timer then ends the screen
  done.get();
  EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, 167, 160}));
  EXPECT_FALSE(wizard::LoadUpgradeState());
  EXPECT_EQ(wizard::LinkHandle.load(), nullptr) << "screen 167 shut the link";
  EXPECT_EQ(wizard::PieceBufferA.load(), nullptr);
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
}

// The port cannot be opened on the resume worker: "ERROR 105" comes once, from
// the thread that runs the wizard (standing for the GUI thread), after the
// progress screen has closed, and the wizard ends.
class ResumePortFailureTest : public ResumeTest {
 protected:
  void SetUp() override {
    ResumeTest::SetUp();
    shown_.Install();
  }
  // Runs the resume path on a thread of its own and returns its id.
  std::thread::id ResumeOnGuiThread() {
    return std::async(std::launch::async, [] {
             wizard::RunResumePath();
             return std::this_thread::get_id();
           })
        .get();
  }
  void ExpectOneOpenPortFailureOn(std::thread::id gui) {
    EXPECT_EQ(ui_.Walk(), (std::vector<int>{102, wizard::kOpenPortFailureScreen}));
    EXPECT_EQ(shown_.Threads(wizard::kOpenPortFailureScreen), std::vector<std::thread::id>{gui});
    EXPECT_TRUE(wizard::Wizard.WizardEnded);
    EXPECT_GE(ui_.Closed(), 1) << "the main window was asked to close";
    EXPECT_EQ(wizard::TakeTransferErrorScreen(), 0) << "the error was asked for and shown once";
    EXPECT_EQ(wizard::LinkHandle.load(), nullptr);
    EXPECT_EQ(sent_, 0u);
    EXPECT_TRUE(wizard::LoadUpgradeState()) << "the record stays";
  }
  // ActiveSync's serial port setting names a port that does not exist.
  void UseMissingSerialPort() {
    pcreg::Key* key = nullptr;
    ASSERT_EQ(pcreg::CreateKey(pcreg::Root::LocalMachine, "Software\\Microsoft\\Windows CE Services", key),
              pcreg::kSuccess);
    const char port[] = "COM200";
    EXPECT_EQ(pcreg::SetValue(key, "SerialPort", pcreg::kTypeString, port, sizeof port), pcreg::kSuccess);
    pcreg::CloseKey(key);
  }

  ThreadRecordingFrontEnd shown_{ui_};
};

TEST_F(ResumePortFailureTest, AUsbRecordWithoutItsDevice) {
  UseImage(Payload(0x80000));
  SaveRecord(true);
  Line();  // only the serial link is published: the USB device is missing
  ExpectOneOpenPortFailureOn(ResumeOnGuiThread());
}

TEST_F(ResumePortFailureTest, ASerialRecordWhosePortIsMissing) {
  UseImage(Payload(0x80000));
  SaveRecord(false);
  UseMissingSerialPort();
  ExpectOneOpenPortFailureOn(ResumeOnGuiThread());
}

TEST_F(ResumePortFailureTest, ACriticalRecordWhoseBootLoaderPortIsMissing) {
  UseImage(Payload(0x80000));
  SaveRecord(false);
  wizard::MarkCriticalState();
  UseMissingSerialPort();
  ExpectOneOpenPortFailureOn(ResumeOnGuiThread());
  EXPECT_TRUE(wizard::Wizard.Critical);
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
