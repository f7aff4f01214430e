// The operations table of this build: every call the driver and the screens
// make outside the wizard shell, bound to its real function.
#include <string>

#include "checks/activesync.h"
#include "checks/host_checks.h"
#include "checks/identify.h"
#include "flow/resume_path.h"
#include "checks/resume_record.h"
#include "image/image_check.h"
#include "platform/host_system.h"
#include "platform/pc_files.h"
#include "platform/remote_api.h"
#include "prepare/upgrade.h"
#include "transfer/backup.h"
#include "transfer/download.h"
#include "image/image_file.h"
#include "port/port.h"
#include "flow/driver.h"
#include "image/image_check.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

// The driver only looks at whether the wizard goes on.
bool PrepareUpgrade() {
  RunUpgradePreparation();
  return !Wizard.WizardEnded;
}

// The common controls need initialising only on Windows 95; the Win32 entry
// binds the real call before RunWizard.
void NoCommonControls() {}

}  // namespace

Operations DefaultOperations() {
  Operations ops{};
  ops.IsWindows95 = IsWindows95;
  ops.IsOldWindowsNT = IsOldWindowsNT;
  ops.ActiveSyncVersionOk = ActiveSyncVersionOk;
  ops.InitCommonControls = NoCommonControls;
  ops.CurrentFolder = pc::CurrentFolder;
  ops.LoadUpgradeState = LoadUpgradeState;
  ops.MarkCriticalState = MarkCriticalState;
  ops.ReadSerialPortSetting = [](char* out) { ReadSerialPortSetting(out, kSerialPortNameCapacity); };
  ops.RestartActiveSync = [] { RestartActiveSync(); };   // its result is not used
  ops.SetDeviceClock = [] { SetDeviceClock(); };         // its result is not used
  ops.CeRapiInitEx = rapi::CeRapiInitEx;
  ops.CeGetSystemPowerStatusEx = rapi::CeGetSystemPowerStatusEx;
  ops.IdentifyDevice = [] { return IdentifyDevice(RunResumePath); };
  ops.VerifyImageAndDevice = VerifyImageAndDevice;
  ops.ReadImageHeader = [](const char* path) { return wizard::ReadImageHeader(path) != 0; };
  ops.ImageChecksumHolds = ImageFileChecksumHolds;
  ops.GetImageFileSize = wizard::GetImageFileSize;
  ops.RunUpgradePreparation = PrepareUpgrade;
  ops.UpgradeDownloadWorker = UpgradeDownloadWorker;
  ops.ResumeDownloadWorker = ResumeDownloadWorker;
  ops.BackupWorker = BackupWorker;
  ops.ReleaseTransferBuffers = ReleaseTransferBuffers;
  ops.ShutDownTransfer = ShutDownTransfer;
  ops.ClosePort = ShutDownLink;
  ops.FileExists = pc::FileExists;
  ops.FreeBytes = pc::FreeBytes;
  ops.OpenReadme = hostsys::OpenReadme;
  return ops;
}

Operations Ops = DefaultOperations();

}  // namespace wizard
