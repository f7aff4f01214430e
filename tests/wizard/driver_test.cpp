// The wizard driver's decisions, walked through the scripted front-end with
// doubles of every operation (fake_world).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_world.h"
#include "scripted_front_end.h"
#include "image/image_file.h"
#include "flow/driver.h"
#include "wizard/wizard_state.h"

namespace {

using testsupport::ScriptedFrontEnd;
using Walk = std::vector<int>;

constexpr int kNext = 1, kCancel = 2, kProceed = 1181, kUpgrade = 1035, kRestore = 1036;
constexpr const char* kChosen = "C:\\Backups\\old.nbf";

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Install(); }
  void TearDown() override { EXPECT_EQ(ui.UnusedSteps(), 0u) << "script not used up"; }

  void Intro() {
    ui.Answer(166, kProceed);
    ui.Answer(103, kNext);
    ui.Answer(121, kNext);
    ui.Answer(161, kNext);
  }
  // Confirmation, no backup, ready.
  void Confirm() {
    ui.Answer(124, kNext);
    ui.Answer(125, kNext);
    ui.Answer(130, kNext);
  }
  void Finish() {
    ui.Answer(167, kProceed);
    ui.Answer(160, kNext);
  }
  void Run() {
    wizard::RunWizard();
    EXPECT_TRUE(wizard::Wizard.WizardEnded);
    EXPECT_EQ(ui.MainWindowClosed(), 1);
  }
  fake::World& world() { return fake::The(); }

  ScriptedFrontEnd ui;
  const Walk kIntroWalk{166, 103, 121, 161};
};

Walk Then(Walk walk, const Walk& more) {
  walk.insert(walk.end(), more.begin(), more.end());
  return walk;
}

// --- start, introduction, identification, power, verification -----------------

TEST_F(DriverTest, UpgradeOverSerialWalksEveryScreenToTheSerialClosingScreen) {
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 124, 125, 130, 153, 102, 167, 160}));
  EXPECT_STREQ(wizard::Wizard.BaseFolder, fake::kBaseFolder);
  EXPECT_STREQ(wizard::Wizard.SerialPortName, "COM2:");
  EXPECT_EQ(wizard::Wizard.RapiInit.size, 12u);
  EXPECT_TRUE(wizard::Wizard.UpgradeStarted);
  EXPECT_EQ(world().preparations, 1);
  EXPECT_EQ(world().restartActiveSync, 1);
  EXPECT_EQ(world().setDeviceClock, 1);
  // The read-me box is ticked when the closing screen opens.
  EXPECT_EQ(world().readmeFolders, std::vector<std::string>{"C:\\Romwiz\\English"});
  EXPECT_EQ(world().initCommonControls, 0);
  EXPECT_EQ(world().verifyCalls, 1);
}

TEST_F(DriverTest, UsbConnectionEndsOnTheUsbClosingScreenAndWindows95InitialisesControls) {
  world().windows95 = true;
  world().chooseUsb = true;
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  ui.Answer(167, kProceed);
  ui.Answer(133, kNext);
  Run();
  EXPECT_EQ(ui.Walk().back(), 133);
  EXPECT_EQ(world().initCommonControls, 1);
}

TEST_F(DriverTest, CancelOnAnyIntroductoryScreenEndsBeforeTheHandheldIsTouched) {
  const int screens[] = {166, 103, 121, 161};
  for (int cancelled = 0; cancelled < 4; ++cancelled) {
    fake::Install();
    ScriptedFrontEnd run;
    for (int i = 0; i < cancelled; ++i) run.Answer(screens[i], i == 0 ? kProceed : kNext);
    run.Answer(screens[cancelled], kCancel);
    wizard::RunWizard();
    EXPECT_EQ(run.Walk(), Walk(screens, screens + cancelled + 1));
    EXPECT_EQ(world().identifyCalls, 0);
    EXPECT_EQ(run.MainWindowClosed(), 1);
  }
}

TEST_F(DriverTest, ActiveSyncTooOldShowsError115Only) {
  world().activeSyncOk = false;
  ui.Answer(165, 1175);
  Run();
  EXPECT_EQ(ui.Walk(), Walk{165});
  EXPECT_EQ(world().identifyCalls, 0);
}

TEST_F(DriverTest, PendingResumeSkipsTheIntroductionAndKeepsTheRecordedConnection) {
  world().resumePending = true;
  wizard::Wizard.ConnectionType = wizard::Connection::Usb;  // as the record restored it
  world().identifies = false;  // the resume path ran inside identification
  Run();
  EXPECT_EQ(ui.Walk(), Walk{});
  EXPECT_EQ(world().identifyCalls, 1);
  EXPECT_EQ(world().serialPortReads, 0);
  EXPECT_EQ(wizard::Wizard.ConnectionType, wizard::Connection::Usb);
}

TEST_F(DriverTest, IdentificationFailureEnds) {
  world().identifies = false;
  world().identifyEnds = false;  // the driver ends the wizard itself
  Intro();
  Run();
  EXPECT_EQ(ui.Walk(), kIntroWalk);
  EXPECT_EQ(world().powerCalls, 0);
}

TEST_F(DriverTest, UnreadablePowerStateEndsSilently) {
  world().powerReadable = false;
  Intro();
  Run();
  EXPECT_EQ(ui.Walk(), kIntroWalk);
  EXPECT_EQ(world().verifyCalls, 0);
}

TEST_F(DriverTest, HandheldOnBatteryGetsThePowerWarningAndGoesOnOnceNextIsAccepted) {
  world().acAtStart = 0;
  world().acLater = 1;
  Intro();
  ui.Answer(105, kNext);
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {105, 109, 124, 125, 130, 153, 102, 167, 160}));
  EXPECT_TRUE(wizard::Wizard.WarnedPath);
}

TEST_F(DriverTest, PowerWarningCancelEnds) {
  world().acAtStart = 0;
  world().acLater = 0;
  Intro();
  ui.Answer(105, kNext);  // still on battery: ignored
  ui.Answer(105, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {105}));
  EXPECT_EQ(world().verifyCalls, 0);
}

TEST_F(DriverTest, ChecksumFailureShowsError102) {
  world().verifies = false;
  Intro();
  ui.Answer(139, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {139}));
}

TEST_F(DriverTest, VerificationThatEndedTheWizardShowsNoFurtherScreen) {
  world().verifies = false;
  world().verifyEnds = true;
  Intro();
  Run();
  EXPECT_EQ(ui.Walk(), kIntroWalk);
}

TEST_F(DriverTest, VerificationThatEndsTheWizardButReportsSuccessStopsTheDriver) {
  // Verification reports success but has ended the wizard (its own screen).
  world().verifyEnds = true;
  Intro();
  Run();
  EXPECT_EQ(ui.Walk(), kIntroWalk);
}

// --- the choice loop ----------------------------------------------------------

TEST_F(DriverTest, CancelOrEnterOnTheChoiceScreenEnds) {
  for (int command : {kCancel, kNext}) {
    fake::Install();
    ScriptedFrontEnd run;
    run.Answer(166, kProceed);
    run.Answer(103, kNext);
    run.Answer(121, kNext);
    run.Answer(161, kNext);
    run.Answer(109, command);
    wizard::RunWizard();
    EXPECT_EQ(run.Walk(), Then(kIntroWalk, {109}));
    EXPECT_EQ(world().headerReads, 0);
    EXPECT_TRUE(wizard::Wizard.WizardEnded);
  }
}

TEST_F(DriverTest, ModelMismatchShowsError100WithTheModelFlag) {
  world().images[fake::kFolderImage].model = "PP5300";
  Intro();
  ui.Answer(109, kUpgrade);
  ui.Answer(123, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 123}));
  const auto& shown = ui.Last(123).Opened();
  EXPECT_TRUE(shown.Highlighted(1056));
  EXPECT_FALSE(shown.Highlighted(1058));
  EXPECT_EQ(shown.Text(1060), "Model : PP5300");
  // Screen 123 clears the flags when it ends.
  EXPECT_FALSE(wizard::Wizard.ModelMismatch);
}

TEST_F(DriverTest, LanguageMismatchShowsError100WithTheLanguageFlag) {
  world().images[fake::kFolderImage].lang = "FRE";
  world().images[fake::kFolderImage].language = "French";
  Intro();
  ui.Answer(109, kUpgrade);
  ui.Answer(123, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 123}));
  const auto& shown = ui.Last(123).Opened();
  EXPECT_TRUE(shown.Highlighted(1062));
  EXPECT_FALSE(shown.Highlighted(1060));
  EXPECT_EQ(shown.Text(1062), "Language : French");
  EXPECT_FALSE(wizard::Wizard.LanguageMismatch);
}

TEST_F(DriverTest, ModelAndLanguageCompareWithoutRegardToCase) {
  world().images[fake::kFolderImage].model = "pp5800";
  world().images[fake::kFolderImage].lang = "eng";
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.TimesShown(123), 0);
  EXPECT_EQ(ui.Walk().back(), 160);
}

TEST_F(DriverTest, ImageOfFlashSizePlus500KBPassesTheSizeRule) {
  world().images[fake::kFolderImage].bytes = (fake::kFlashMB * 1024u + 500u) * 1024u;
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.TimesShown(151), 0);
  EXPECT_EQ(ui.Walk().back(), 160);
}

TEST_F(DriverTest, ImageOneMegabyteLargerThanFlashEndsTheUpgradeWithError110) {
  world().images[fake::kFolderImage].bytes = (fake::kFlashMB + 1u) << 20;
  Intro();
  ui.Answer(109, kUpgrade);
  ui.Answer(151, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 151}));
  EXPECT_EQ(ui.Last(151).Opened().Text(1120), "33 Mbytes");
  EXPECT_EQ(ui.Last(151).Opened().Text(1121), "32 Mbytes");
}

TEST_F(DriverTest, CancelledRestoreDialogReturnsToTheChoiceAndUpgradeUsesTheFolderImage) {
  Intro();
  ui.Answer(109, kRestore);
  ui.CancelFile();
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 109, 124, 125, 130, 153, 102, 167, 160}));
  EXPECT_STREQ(wizard::Wizard.FlashFile, fake::kFolderImage);
  ASSERT_EQ(ui.FileDialogs().size(), 1u);
  const auto& dialog = ui.FileDialogs()[0];
  EXPECT_FALSE(dialog.save);
  EXPECT_EQ(dialog.initialFolder, "%USERPROFILE%\\My Documents");
  EXPECT_EQ(dialog.defaultExtension, "nbf");
  EXPECT_TRUE(dialog.fileMustExist);
  EXPECT_FALSE(dialog.noChangeDir);  // direct path
  EXPECT_FALSE(dialog.ownedByScreen);
  EXPECT_EQ(dialog.proposed, "");    // FlashFile is emptied first
}

TEST_F(DriverTest, RestoreTooLargeReturnsToTheChoiceAndUpgradeThenUsesTheFolderImageSize) {
  fake::Image big;
  big.bytes = (fake::kFlashMB + 1u) << 20;
  world().images[kChosen] = big;
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  ui.Answer(151, kCancel);  // Exit returns 1: back to the choice
  ui.Answer(109, kUpgrade);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 151, 109, 124, 125, 130, 153, 102, 167, 160}));
  EXPECT_EQ(wizard::Wizard.ImageSizeKB, (30u << 20) >> 10);
  EXPECT_STREQ(wizard::Wizard.FlashFile, fake::kFolderImage);
}

TEST_F(DriverTest, RestoreOnTheDirectPathDoesNotVerifyTheChosenFile) {
  world().images[kChosen] = fake::Image{};
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(world().verifyCalls, 1);
  EXPECT_STREQ(wizard::Wizard.FlashFile, kChosen);
  EXPECT_EQ(ui.Walk().back(), 160);
}

// The direct path does not probe the handheld again, but the chosen file's
// checksum is checked before anything of it is sent: a file no check
// accepts (a failed backup) ends at "ERROR 102" with nothing prepared.
TEST_F(DriverTest, RestoreOnTheDirectPathRefusesAFileWhoseChecksumDoesNotHold) {
  world().images[kChosen] = fake::Image{};
  world().images[kChosen].sound = false;
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  ui.Answer(139, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 139}));
  EXPECT_EQ(world().preparations, 0);
  EXPECT_TRUE(wizard::Wizard.WizardEnded);
}

TEST_F(DriverTest, RestoreOnTheWarnedPathVerifiesTheChosenFile) {
  world().acAtStart = 0;
  world().images[kChosen] = fake::Image{};
  Intro();
  ui.Answer(105, kNext);
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  Confirm();
  Finish();
  Run();
  EXPECT_EQ(world().verifyCalls, 2);
  ASSERT_EQ(ui.FileDialogs().size(), 1u);
  EXPECT_TRUE(ui.FileDialogs()[0].noChangeDir);
}

TEST_F(DriverTest, RestoreOnTheWarnedPathWithABadChecksumShowsError102) {
  world().acAtStart = 0;
  world().images[kChosen] = fake::Image{};
  Intro();
  ui.Answer(105, kNext);
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  ui.Answer(139, kCancel);
  wizard::Ops.VerifyImageAndDevice = [] {
    // The folder image verifies, the chosen one does not.
    return ++fake::The().verifyCalls == 1;
  };
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {105, 109, 139}));
}

TEST_F(DriverTest, RestoredImageOfAnotherModelShowsError100) {
  fake::Image other;
  other.model = "PP5300";
  world().images[kChosen] = other;
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  ui.Answer(123, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 123}));
  EXPECT_EQ(world().sizeReads, 0);
}

TEST_F(DriverTest, UnreadableRestoreImageSizeStopsInsteadOfPassingTheSizeRule) {
  world().images[kChosen] = fake::Image{};
  world().sizeReadable = false;  // the size operation ends the wizard and returns 0
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile(kChosen);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109}));
  EXPECT_EQ(world().preparations, 0);
}

TEST_F(DriverTest, UnreadableChosenHeaderStops) {
  Intro();
  ui.Answer(109, kRestore);
  ui.ChooseFile("C:\\missing.nbf");
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109}));
}

// --- confirmation, backup, ready, transfer ------------------------------------

TEST_F(DriverTest, CancelOnConfirmationBackupOfferOrReadyEnds) {
  const int screens[] = {124, 125, 130};
  for (int cancelled = 0; cancelled < 3; ++cancelled) {
    fake::Install();
    ScriptedFrontEnd run;
    run.Answer(166, kProceed);
    run.Answer(103, kNext);
    run.Answer(121, kNext);
    run.Answer(161, kNext);
    run.Answer(109, kUpgrade);
    for (int i = 0; i < cancelled; ++i) run.Answer(screens[i], kNext);
    run.Answer(screens[cancelled], kCancel);
    wizard::RunWizard();
    EXPECT_EQ(run.Walk().back(), screens[cancelled]);
    EXPECT_EQ(world().preparations, 0);
    EXPECT_TRUE(wizard::Wizard.WizardEnded);
  }
}

TEST_F(DriverTest, ChosenBackupRunsTheBackupScreenAndTheReadyScreenSaysSo) {
  Intro();
  ui.Answer(109, kUpgrade);
  ui.Answer(124, kNext);
  ui.Answer(125, 1030);
  ui.ChooseFile("C:\\Backups\\LUMOROM114.nbf");
  ui.Answer(130, kNext);
  Finish();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 124, 125, 132, 130, 153, 102, 167, 160}));
  EXPECT_EQ(ui.Last(130).Opened().Text(1128), "The ROM Backup is now complete.");
}

TEST_F(DriverTest, PreparationThatEndsTheWizardShowsNoTransfer) {
  world().preparationEnds = true;
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 124, 125, 130, 153}));
}

TEST_F(DriverTest, EscapeOnTheAfterTransferScreenSkipsTheClosingScreen) {
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  ui.Answer(167, kCancel);
  Run();
  EXPECT_EQ(ui.Walk().back(), 167);
  EXPECT_EQ(world().restartActiveSync, 0);
  EXPECT_EQ(world().setDeviceClock, 0);
}

TEST_F(DriverTest, FailedTransferBeforeAnyImageByteShowsError113) {
  world().transferResult = 2;
  world().touchBytesToSend = false;  // BytesToSend keeps its starting value
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  ui.Answer(114, kCancel);
  Run();
  EXPECT_EQ(ui.Walk(), Then(kIntroWalk, {109, 124, 125, 130, 153, 102, 114}));
  EXPECT_EQ(world().markCritical, 0);
  EXPECT_EQ(world().closePort, 1);  // Serial
}

TEST_F(DriverTest, FailedTransferChoosesError114OrError113ByTheBytesLeft) {
  struct Case {
    std::uint32_t left;
    int screen;
  } cases[] = {{0x40000, 142}, {0x40001, 114}, {0, 142}};
  for (const auto& c : cases) {
    fake::Install();
    ScriptedFrontEnd run;
    world().transferResult = 2;
    world().bytesLeftAfterTransfer = c.left;
    run.Answer(166, kProceed);
    run.Answer(103, kNext);
    run.Answer(121, kNext);
    run.Answer(161, kNext);
    run.Answer(109, kUpgrade);
    run.Answer(124, kNext);
    run.Answer(125, kNext);
    run.Answer(130, kNext);
    run.Answer(c.screen, kCancel);
    wizard::RunWizard();
    EXPECT_EQ(run.Walk().back(), c.screen) << c.left;
    EXPECT_EQ(world().markCritical, c.screen == 142 ? 1 : 0);
  }
}

TEST_F(DriverTest, AbandonedTransferShowsTheErrorScreen) {
  world().workerEndsScreen = false;
  world().touchBytesToSend = false;
  Intro();
  ui.Answer(109, kUpgrade);
  Confirm();
  ui.FireTimer(102, 2);
  ui.Answer(114, kCancel);
  Run();
  EXPECT_EQ(ui.Walk().back(), 114);
  EXPECT_EQ(ui.Last(102).result, 2);
  EXPECT_EQ(world().releaseBuffers, 1);
}

}  // namespace
