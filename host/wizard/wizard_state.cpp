#include "wizard/wizard_state.h"

#include "platform/screens.h"
#include "wizard/image_header_record.h"

namespace wizard {

WizardState Wizard;
ImageHeaderRecord ImageHeader;
WorkerFlags Workers;
std::atomic<screens::ScreenSession*> ProgressScreen{nullptr};
std::atomic<screens::ScreenSession*> BackupScreen{nullptr};
std::atomic<screens::ScreenSession*> PowerWarningScreen{nullptr};

void ResetWizardState() {
  // WizardState holds atomics, so it is reset field by field through a fresh
  // copy of its plain part.
  WizardState fresh;
  Wizard.ResumePending = fresh.ResumePending;
  Wizard.Critical = fresh.Critical;
  Wizard.ConnectionType = fresh.ConnectionType;
  Wizard.RapiInit = fresh.RapiInit;
  Wizard.PowerStatus = fresh.PowerStatus;
  Wizard.DeviceInfo = fresh.DeviceInfo;
  Wizard.ImageSizeKB = 0;
  Wizard.ModelMismatch = Wizard.LanguageMismatch = false;
  Wizard.UpgradeStarted = Wizard.WarnedPath = false;
  Wizard.PreparingScreen = nullptr;
  Wizard.BaseFolder[0] = Wizard.SerialPortName[0] = Wizard.FlashFile[0] = 0;
  Wizard.FolderImagePath[0] = Wizard.BackupFilePath[0] = 0;
  Wizard.WizardEnded = false;
  Workers.StopWorkers = false;
  Workers.BusyCursor = true;
  Workers.BackupDone = false;
  Workers.BytesToSend = kInitialBytesToSend;
  ProgressScreen = nullptr;
  BackupScreen = nullptr;
  PowerWarningScreen = nullptr;
}

void EndWizard() {
  if (Wizard.WizardEnded.exchange(true)) return;  // the main window closes once
  screens::CurrentFrontEnd().CloseMainWindow();
}

void ResetImageHeader() { ImageHeader = ImageHeaderRecord{}; }

}  // namespace wizard
