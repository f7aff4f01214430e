// Screens that do more than show their table texts, shown one at a time
// through the scripted front-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/support/eventually.h"
#include "fake_world.h"
#include "scripted_front_end.h"
#include "image/image_file.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "flow/power_poller.h"
#include "flow/screen_behaviour.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace {

using testsupport::ScriptedFrontEnd;
constexpr int kNext = 1, kCancel = 2;
constexpr int kUsb = 1150, kSerial = 1151;
constexpr int kBackupButton = 1030;
constexpr const char* kTarget = "C:\\Backups\\LUMOROM114.nbf";

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Install();
    std::snprintf(wizard::Wizard.DeviceInfo.Version, 5, "1.14");
    std::snprintf(wizard::Wizard.DeviceInfo.Language, 16, "English");
  }
  void TearDown() override { EXPECT_EQ(ui.UnusedSteps(), 0u) << "script not used up"; }
  fake::World& world() { return fake::The(); }
  ScriptedFrontEnd ui;
};

// The poller works on its own thread: waits use the shared bound.
using testsupport::Eventually;

// --- 158: connection type --------------------------------------------------------

TEST_F(ScreenTest, ConnectionChoiceEnablesNextOnlyAfterARadioIsClicked) {
  ui.Answer(158, kNext);  // nothing chosen yet: Next is disabled
  ui.Answer(158, {{kUsb, true}}, kNext);
  EXPECT_EQ(screens::ShowScreen(158), 0);
  const auto& shown = ui.Last(158);
  EXPECT_FALSE(shown.Opened().Enabled(kNext));
  EXPECT_TRUE(shown.Opened().Enabled(kUsb));
  EXPECT_FALSE(shown.Opened().Checked(kUsb));
  EXPECT_FALSE(shown.Opened().Checked(kSerial));
  EXPECT_EQ(shown.states.size(), 3u);  // the first Next did not end it
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
}

TEST_F(ScreenTest, ConnectionRadiosExcludeEachOther) {
  ui.Answer(158, {{kUsb, true}, {kSerial, true}}, kNext);
  EXPECT_EQ(screens::ShowScreen(158), 0);
  EXPECT_FALSE(ui.Last(158).Final().Checked(kUsb));
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Serial);
}

TEST_F(ScreenTest, ConnectionChoiceOnOldWindowsOffersSerialOnly) {
  for (bool windows95 : {true, false}) {
    fake::Install();
    ScriptedFrontEnd run;
    world().windows95 = windows95;
    world().oldNt = !windows95;
    wizard::Wizard.ConnectionType = wizard::Connection::Usb;
    run.Answer(158, kNext);
    EXPECT_EQ(screens::ShowScreen(158), 0);
    const auto& opened = run.Last(158).Opened();
    EXPECT_FALSE(opened.Enabled(kUsb));
    EXPECT_TRUE(opened.Checked(kSerial));
    EXPECT_TRUE(opened.Enabled(kNext));
    EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Serial);
  }
}

TEST_F(ScreenTest, ConnectionCancelReturnsOneAndKeepsTheConnection) {
  ui.Answer(158, {{kUsb, true}}, kCancel);
  EXPECT_EQ(screens::ShowScreen(158), 1);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Serial);
}

// --- 105: power warning -------------------------------------------------------------

TEST_F(ScreenTest, PowerWarningNextRechecksThePowerState) {
  world().acAtStart = 0;  // the click's own check: still on battery
  world().acLater = 1;
  ui.Answer(105, kNext);  // ignored
  ui.Answer(105, kNext);  // now on external power
  EXPECT_EQ(screens::ShowScreen(105), 0);
  EXPECT_EQ(ui.Last(105).states.size(), 3u);
  EXPECT_EQ(wizard::PowerWarningScreen.load(), nullptr);
}

TEST_F(ScreenTest, PowerWarningNextGoesOnWhenThePowerStateCannotBeRead) {
  world().powerReadable = false;
  world().acAtStart = 0;
  ui.Answer(105, kNext);
  EXPECT_EQ(screens::ShowScreen(105), 0);
}

TEST_F(ScreenTest, PowerPollerFollowsTheAdapterAndStopsWhenAsked) {
  screens::ScreenSession screen(*screens::FindScreen(105));
  screen.Open();  // starts the poller
  world().acLater = 0;
  EXPECT_TRUE(Eventually([&] { return !screen.Enabled(kNext); }));
  world().acLater = 1;
  EXPECT_TRUE(Eventually([&] { return screen.Enabled(kNext); }));
  EXPECT_TRUE(screens::behaviour::Closed(screen));
  int calls = world().pollerCalls;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(world().pollerCalls, calls);  // stopped with its screen
  // The GUI thread's record is not the poller's.
  EXPECT_EQ(world().powerCalls, 0);
}

TEST_F(ScreenTest, PowerPollerEndsWhenWorkersAreStopped) {
  screens::ScreenSession screen(*screens::FindScreen(105));
  ASSERT_TRUE(wizard::StartPowerPoller(screen));
  wizard::Workers.StopWorkers = true;
  int calls = 0;
  EXPECT_TRUE(Eventually([&] {
    int now = world().pollerCalls;
    bool still = now == calls;
    calls = now;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    return still && world().pollerCalls == calls;
  }));
  EXPECT_TRUE(wizard::StopPowerPoller());
}

// --- 123: incompatible image ---------------------------------------------------------

TEST_F(ScreenTest, IncompatibleImageHighlightsOnlyTheDifferingPair) {
  struct Case {
    bool model, language;
    std::vector<int> lit;
  } cases[] = {{true, false, {1056, 1060}}, {false, true, {1058, 1062}}};
  for (const auto& c : cases) {
    wizard::Wizard.ModelMismatch = c.model;
    wizard::Wizard.LanguageMismatch = c.language;
    ui.Answer(123, kNext);  // Enter returns 0
    EXPECT_EQ(screens::ShowScreen(123), 0);
    const auto& opened = ui.Last(123).Opened();
    for (int control : {1056, 1057, 1058, 1060, 1061, 1062}) {
      bool lit = std::find(c.lit.begin(), c.lit.end(), control) != c.lit.end();
      EXPECT_EQ(opened.Highlighted(control), lit) << control;
    }
    EXPECT_FALSE(wizard::Wizard.ModelMismatch);
    EXPECT_FALSE(wizard::Wizard.LanguageMismatch);
  }
}

// --- 125: backup offer -----------------------------------------------------------------

TEST_F(ScreenTest, BackupProposesTheVersionNameAndAcceptsExactly16MBFree) {
  world().freeBytes = 16777216;
  ui.Answer(125, kBackupButton);
  ui.ChooseFile(kTarget);
  EXPECT_EQ(screens::ShowScreen(125), 1000);
  ASSERT_EQ(ui.FileDialogs().size(), 1u);
  const auto& dialog = ui.FileDialogs()[0];
  EXPECT_EQ(dialog.proposed, "LUMOROM114");
  EXPECT_TRUE(dialog.save);
  EXPECT_TRUE(dialog.noChangeDir);
  EXPECT_TRUE(dialog.ownedByScreen);
  EXPECT_EQ(dialog.defaultExtension, "nbf");
  EXPECT_EQ(dialog.initialFolder, "%USERPROFILE%\\My Documents");
  EXPECT_EQ(world().freeSpaceQueries, std::vector<std::string>{"C:"});
  EXPECT_STREQ(wizard::Wizard.BackupFilePath, kTarget);
}

TEST_F(ScreenTest, BackupWithOneByteTooLittleSpaceShowsError107AndStays) {
  world().freeBytes = 16777215;
  ui.Answer(125, kBackupButton);
  ui.ChooseFile(kTarget);
  ui.Answer(145, kCancel);
  ui.Answer(125, kCancel);
  EXPECT_EQ(screens::ShowScreen(125), 2);
  EXPECT_EQ(ui.Walk(), (std::vector<int>{125, 145}));
}

TEST_F(ScreenTest, BackupRefusedWhenTheFreeSpaceCannotBeRead) {
  world().freeBytesReadable = false;
  ui.Answer(125, kBackupButton);
  ui.ChooseFile(kTarget);
  ui.Answer(145, kCancel);
  ui.Answer(125, kNext);
  EXPECT_EQ(screens::ShowScreen(125), 1);
  EXPECT_EQ(ui.TimesShown(145), 1);
}

TEST_F(ScreenTest, CancelOnTheExistingFileWarningReopensTheDialogWithTheChosenName) {
  world().fileExists = true;
  ui.Answer(125, kBackupButton);
  ui.ChooseFile(kTarget);
  ui.Answer(152, kCancel);
  ui.ChooseFile(kTarget);
  ui.Answer(152, kNext);
  EXPECT_EQ(screens::ShowScreen(125), 1000);
  ASSERT_EQ(ui.FileDialogs().size(), 2u);
  EXPECT_EQ(ui.FileDialogs()[1].proposed, kTarget);
  EXPECT_EQ(ui.Walk(), (std::vector<int>{125, 152, 152}));
}

TEST_F(ScreenTest, CancelledSaveDialogStaysOnTheBackupOffer) {
  ui.Answer(125, kBackupButton);
  ui.CancelFile();
  ui.Answer(125, kCancel);  // Enter on 125 is Cancel as well
  EXPECT_EQ(screens::ShowScreen(125), 2);
  EXPECT_TRUE(world().freeSpaceQueries.empty());
}

TEST_F(ScreenTest, ShortVersionProposesOnlyTheCharactersItHas) {
  std::snprintf(wizard::Wizard.DeviceInfo.Version, 5, "1");
  ui.Answer(125, kBackupButton);
  ui.CancelFile();
  ui.Answer(125, kCancel);
  screens::ShowScreen(125);
  EXPECT_EQ(ui.FileDialogs()[0].proposed, "LUMOROM1");
}

TEST_F(ScreenTest, DurationTextsFollowLanguageGroupAndConnection) {
  std::snprintf(wizard::Wizard.DeviceInfo.Language, 16, "Japanese");
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  ui.Answer(125, kCancel);
  ui.Answer(130, kCancel);
  screens::ShowScreen(125);
  screens::ShowScreen(130);
  EXPECT_EQ(ui.Last(125).Opened().Text(1041), wizard::Slot(11093));
  EXPECT_EQ(ui.Last(130).Opened().Text(1076), wizard::Slot(11095));
  EXPECT_NE(std::string(wizard::Slot(11093)), "");
}

// --- 130: ready ------------------------------------------------------------------------

TEST_F(ScreenTest, ReadyScreenShowsTheBackupNoteOnlyOnce) {
  wizard::Workers.BackupDone = true;
  ui.Answer(130, kNext);
  ui.Answer(130, kNext);
  EXPECT_EQ(screens::ShowScreen(130), 1);
  EXPECT_EQ(screens::ShowScreen(130), 1);
  EXPECT_EQ(ui.Showings()[0].Opened().Text(1128), "The ROM Backup is now complete.");
  EXPECT_EQ(ui.Showings()[1].Opened().Text(1128), "");
  EXPECT_FALSE(wizard::Workers.BackupDone);
}

// --- 102: progress -----------------------------------------------------------------------

TEST_F(ScreenTest, ProgressScreenIgnoresEscapeAndAbandonsOnAnyTimer) {
  world().workerEndsScreen = false;
  ui.Answer(102, kCancel);
  ui.FireTimer(102, 7);
  EXPECT_EQ(screens::ShowScreen(102), 2);
  const auto& shown = ui.Last(102);
  EXPECT_EQ(shown.states.size(), 3u);  // Escape left it open
  EXPECT_EQ(shown.timersStopped, std::vector<int>{1});
  EXPECT_TRUE(wizard::Workers.StopWorkers);
  EXPECT_EQ(world().releaseBuffers, 1);
  EXPECT_EQ(wizard::ProgressScreen.load(), nullptr);
}

TEST_F(ScreenTest, ResumeProgressAbandonsOnTimersOneAndTwoOnly) {
  world().workerEndsScreen = false;
  wizard::Workers.BusyCursor = false;
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  wizard::Wizard.Critical = true;  // the Serial duration applies
  ui.FireTimer(102, 3);
  ui.FireTimer(102, 2);
  EXPECT_EQ(screens::ShowResumeProgressScreen(), 2);
  const auto& shown = ui.Last(102);
  EXPECT_EQ(shown.states.size(), 3u);
  EXPECT_EQ(shown.timersStopped, std::vector<int>{2});
  EXPECT_TRUE(wizard::Workers.BusyCursor);
  EXPECT_EQ(shown.Opened().Text(1132), wizard::Slot(11113));
}

// --- 167, 133/160, 142/114 --------------------------------------------------------------

TEST_F(ScreenTest, AfterTransferScreenShutsTheTransferDownWhenItOpens) {
  ui.Answer(167, 1181);
  EXPECT_EQ(screens::ShowScreen(167), 0);
  EXPECT_EQ(world().shutDownTransfer, 1);
  EXPECT_TRUE(wizard::Workers.StopWorkers);
  EXPECT_EQ(world().restartActiveSync, 1);
}

TEST_F(ScreenTest, ClosingScreenOpensTheReadmeOnlyWhenTicked) {
  ui.Answer(133, {{1134, false}}, kNext);
  ui.Answer(160, kCancel);
  EXPECT_EQ(screens::ShowScreen(133), 0);
  EXPECT_EQ(screens::ShowScreen(160), 1);
  EXPECT_TRUE(world().readmeFolders.empty());
  EXPECT_EQ(world().setDeviceClock, 2);
}

TEST_F(ScreenTest, ReadmeFolderThatDoesNotFitIsNotOpened) {
  std::string longFolder(wizard::kPathCapacity - 3, 'x');
  std::snprintf(wizard::Wizard.BaseFolder, wizard::kPathCapacity, "%s", longFolder.c_str());
  std::snprintf(wizard::ImageHeader.ImageLanguage, 16, "English");
  ui.Answer(160, kNext);
  EXPECT_EQ(screens::ShowScreen(160), 0);
  EXPECT_TRUE(world().readmeFolders.empty());
  EXPECT_EQ(world().setDeviceClock, 1);
}

TEST_F(ScreenTest, CommunicationErrorMarksTheRecordCriticalAndClosesASerialPort) {
  ui.Answer(142, kNext);  // Enter is ignored
  ui.Answer(142, kCancel);
  EXPECT_EQ(screens::ShowScreen(142), 1);
  EXPECT_EQ(world().markCritical, 1);
  EXPECT_EQ(world().closePort, 1);
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;
  ui.Answer(114, kCancel);
  EXPECT_EQ(screens::ShowScreen(114), 1);
  EXPECT_EQ(world().closePort, 1);  // USB: the port is left to the link code
  EXPECT_EQ(world().markCritical, 1);
}

// --- filling and the ended wizard -----------------------------------------------------------

TEST_F(ScreenTest, LabelValueControlsJoinLabelAndValue) {
  std::snprintf(wizard::Wizard.DeviceInfo.ModelID, 10, "PP5800");
  std::snprintf(wizard::Wizard.DeviceInfo.Language, 16, "sChinese");
  ui.Answer(109, 1035);
  EXPECT_EQ(screens::ShowScreen(109), 1035);
  const auto& opened = ui.Last(109).Opened();
  EXPECT_EQ(opened.title, " Microsoft Pocket PC 2002 Upgrade Utility - v 1.08");
  EXPECT_EQ(opened.Text(1066), "Model : PP5800");
  EXPECT_EQ(opened.Text(1067), "ROM Version : 1.14");
  EXPECT_EQ(opened.Text(1068), std::string("Language : ") + wizard::Slot(11144));
}

TEST_F(ScreenTest, NothingShowsOnceTheWizardHasEnded) {
  wizard::EndWizard();
  EXPECT_EQ(screens::ShowScreen(109), 1);  // its Escape result
  EXPECT_EQ(screens::ShowScreen(102), -1);  // no Escape: not shown
  EXPECT_EQ(screens::OpenWaitScreen(153), nullptr);
  EXPECT_TRUE(ui.Walk().empty());
  EXPECT_EQ(ui.MainWindowClosed(), 1);
}

}  // namespace
