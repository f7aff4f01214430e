// RunWizard: the fixed chain of screens with the checks in between. "End"
// below means EndWizard and return. After every operation the driver looks at
// WizardEnded: an operation that ended the wizard (with its own error screen)
// stops the driver, whatever it returned.
#include "flow/driver.h"

#include <cstdio>
#include <cctype>

#include "base/bounded_text.h"
#include "platform/screens.h"
#include "image/image_file.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

// Screens the driver shows.
constexpr int kIntroScreens[] = {166, 103, 121, 161};  // in this order
constexpr int kActiveSyncTooOld = 165;     // "ERROR 115"
constexpr int kPowerWarning = 105;         // "WARNING 111"
constexpr int kChoiceScreen = 109;
constexpr int kIncompatibleImage = 123;    // "ERROR 100"
constexpr int kChecksumError = 139;        // "ERROR 102"
constexpr int kImageTooLarge = 151;        // "ERROR 110"
constexpr int kConfirmVersions = 124;
constexpr int kBackupOffer = 125;
constexpr int kBackupScreen = 132;
constexpr int kReadyScreen = 130;
constexpr int kPreparingScreen = 153;
constexpr int kAfterTransfer = 167;
constexpr int kClosingSerial = 160;
constexpr int kClosingUsb = 133;
constexpr int kCommunicationError = 142;   // "ERROR 114:  COMMUNICATION ERROR"
constexpr int kUpgradeError = 114;         // "ERROR 113:  UPGRADE ERROR"

constexpr std::uint8_t kOnExternalPower = 1;  // ACLineStatus
constexpr std::uint32_t kRapiInitSize = 12;
constexpr const char* kDialogFolder = "%USERPROFILE%\\My Documents";  // not expanded
constexpr const char* kImageExtension = "nbf";

bool Ended() { return Wizard.WizardEnded; }

// Ends the wizard (once) and tells the caller to stop.
bool Stop() {
  EndWizard();
  return false;
}

// Copies `text` into a fixed field, cut to fit and always terminated.
template <std::size_t N>
void CopyText(char (&field)[N], const char* text) {
  std::snprintf(field, N, "%s", text);
}

template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// Steps 1 to 6: start-up state and the host checks.
bool StartUp() {
  if (Ops.IsWindows95()) Ops.InitCommonControls();
  if (Ended()) return false;
  // The main window and the side picture belong to the front-end.
  std::string folder = Ops.CurrentFolder();
  // A start folder that does not fit is left empty: the language folders are
  // then not found, rather than looked for under a cut path.
  if (folder.size() < sizeof Wizard.BaseFolder) {
    CopyText(Wizard.BaseFolder, folder.c_str());
  } else {
    Wizard.BaseFolder[0] = 0;
  }
  Wizard.ResumePending = Ops.LoadUpgradeState();
  if (Ended()) return false;
  if (!Wizard.ResumePending) {
    Wizard.ConnectionType = Connection::Serial;
    Ops.ReadSerialPortSetting(Wizard.SerialPortName);
    if (Ended()) return false;
  }
  bool activeSyncOk = Ops.ActiveSyncVersionOk();
  if (Ended()) return false;
  if (!activeSyncOk) {
    screens::ShowScreen(kActiveSyncTooOld);
    return Stop();
  }
  return true;
}

// Step 7: the introductory screens of a fresh run.
bool Introduction() {
  if (Wizard.ResumePending) return true;
  for (int screen : kIntroScreens) {
    if (screens::ShowScreen(screen) != kIntroNext) return Stop();
  }
  return true;
}

// Steps 8 to 12: connection, identification, power, verification.
bool ConnectAndVerify(std::uint32_t& folderImageSizeKB) {
  Wizard.RapiInit.size = kRapiInitSize;
  // Its result is not tested: a failed connection shows as the identification
  // timing out, which still leads to the resume path.
  Ops.CeRapiInitEx(&Wizard.RapiInit);
  if (Ended()) return false;
  if (!Ops.IdentifyDevice() || Ended()) return Stop();
  folderImageSizeKB = Wizard.ImageSizeKB;
  if (!Ops.CeGetSystemPowerStatusEx(&Wizard.PowerStatus, true) || Ended()) return Stop();
  Wizard.WarnedPath = Wizard.PowerStatus.ACLineStatus != kOnExternalPower;
  if (Wizard.WarnedPath && screens::ShowScreen(kPowerWarning) != kIntroNext) return Stop();
  if (Ended()) return false;
  if (!Ops.VerifyImageAndDevice()) {
    if (!Ended()) screens::ShowScreen(kChecksumError);
    return Stop();
  }
  return !Ended();
}

// Model and language rules; false when the image is incompatible (the
// wizard has then ended).
bool ImageMatchesDevice() {
  if (!SameText(Field(Wizard.DeviceInfo.ModelID), Field(ImageHeader.ImageModelID))) {
    Wizard.ModelMismatch = true;
    screens::ShowScreen(kIncompatibleImage);
    return Stop();
  }
  if (!SameText(Field(Wizard.DeviceInfo.Lang), Field(ImageHeader.ImageLang))) {
    Wizard.LanguageMismatch = true;
    screens::ShowScreen(kIncompatibleImage);
    return Stop();
  }
  return true;
}

// The size rule: whole megabytes of the image against the flash size.
bool ImageFitsFlash() { return Wizard.DeviceInfo.FlashSizeMB >= (Wizard.ImageSizeKB >> 10); }

enum class Choice { Proceed, Again, Stopped };

Choice UpgradeBranch() {
  if (!ImageMatchesDevice()) return Choice::Stopped;
  if (!ImageFitsFlash()) {
    screens::ShowScreen(kImageTooLarge);
    Stop();
    return Choice::Stopped;
  }
  return Choice::Proceed;
}

Choice RestoreBranch() {
  Wizard.FlashFile[0] = 0;
  screens::FileDialogRequest request;
  request.initialFolder = kDialogFolder;
  request.defaultExtension = kImageExtension;
  request.fileMustExist = true;
  request.noChangeDir = Wizard.WarnedPath;
  if (!screens::CurrentFrontEnd().ChooseFile(request, Wizard.FlashFile, sizeof Wizard.FlashFile)) {
    return Ended() ? Choice::Stopped : Choice::Again;
  }
  Wizard.FlashFile[sizeof Wizard.FlashFile - 1] = 0;
  if (!Ops.ReadImageHeader(Wizard.FlashFile) || Ended()) {
    Stop();
    return Choice::Stopped;
  }
  // A handheld that was on battery is checked against the chosen file too.
  if (Wizard.WarnedPath) {
    if (!Ops.VerifyImageAndDevice()) {
      if (!Ended()) screens::ShowScreen(kChecksumError);
      Stop();
      return Choice::Stopped;
    }
    if (Ended()) return Choice::Stopped;
  } else if (!Ops.ImageChecksumHolds(Wizard.FlashFile)) {
    // The chosen file is checked as every image is before anything of it is
    // sent (a backup that failed its own check has a header this refuses).
    screens::ShowScreen(kChecksumError);
    Stop();
    return Choice::Stopped;
  }
  if (!ImageMatchesDevice()) return Choice::Stopped;
  std::uint32_t bytes = Ops.GetImageFileSize(Wizard.FlashFile);
  // A size that could not be read (0) must not pass the size rule.
  if (Ended()) return Choice::Stopped;
  Wizard.ImageSizeKB = bytes >> 10;
  if (!ImageFitsFlash()) {
    if (screens::ShowScreen(kImageTooLarge) == kScreenNext && !Ended()) return Choice::Again;
    Stop();
    return Choice::Stopped;
  }
  return Choice::Proceed;
}

// Step 13: the choice loop.
bool ChooseImage(std::uint32_t folderImageSizeKB) {
  for (;;) {
    int choice = screens::ShowScreen(kChoiceScreen);
    if (choice != kUpgradeChosen && choice != kRestoreChosen) return Stop();
    if (Ended()) return false;
    // Every pass starts from the language folder's image and its size.
    CopyText(Wizard.FlashFile, Wizard.FolderImagePath);
    Wizard.ImageSizeKB = folderImageSizeKB;
    if (!Ops.ReadImageHeader(Wizard.FlashFile) || Ended()) return Stop();
    Choice next = choice == kUpgradeChosen ? UpgradeBranch() : RestoreBranch();
    if (next == Choice::Proceed) return true;
    if (next == Choice::Stopped) return false;
  }
}

// Step 14: confirmation, backup, preparation and the transfer.
void ConfirmAndRun() {
  if (screens::ShowScreen(kConfirmVersions) != kScreenNext) {
    Stop();
    return;
  }
  int offer = screens::ShowScreen(kBackupOffer);
  if (offer == kBackupChosen) {
    screens::ShowScreen(kBackupScreen);  // its result is not used
  } else if (offer != kScreenNext) {
    Stop();
    return;
  }
  if (Ended()) return;
  if (screens::ShowScreen(kReadyScreen) != kScreenNext) {
    Stop();
    return;
  }
  if (Ended()) return;
  Wizard.UpgradeStarted = true;
  Wizard.PreparingScreen = screens::OpenWaitScreen(kPreparingScreen);
  Ops.RunUpgradePreparation();
  screens::CloseWaitScreen(Wizard.PreparingScreen);
  if (Ended()) return;
  int transfer = screens::ShowScreen(kDownloadProgressScreen);
  if (Ended()) return;
  if (transfer == kTransferred) {
    if (screens::ShowScreen(kAfterTransfer) != kSkipClosing) {
      screens::ShowScreen(Wizard.ConnectionType == Connection::Serial ? kClosingSerial
                                                                      : kClosingUsb);
    }
  } else if (Workers.BytesToSend <= kLoaderBlockBytes) {
    screens::ShowScreen(kCommunicationError);
  } else {
    screens::ShowScreen(kUpgradeError);
  }
  Stop();
}

}  // namespace

void RunWizard() {
  if (!StartUp() || !Introduction()) return;
  std::uint32_t folderImageSizeKB = 0;
  if (!ConnectAndVerify(folderImageSizeKB)) return;
  if (!ChooseImage(folderImageSizeKB)) return;
  ConfirmAndRun();
}

}  // namespace wizard
