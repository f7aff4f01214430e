// The wizard driver: RunWizard chains the screens from the first to the last
// and decides between them from their results and from the checks of the
// other subsystems. Everything the driver and the screens call outside the
// wizard shell goes through one operations table, `Ops`, whose defaults bind
// the real functions (driver_bindings.cpp); tests replace entries with doubles.
#pragma once
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/remote_api.h"
#include "transfer/download.h"  // the progress screen's results

namespace wizard {

// Results the driver tests.
constexpr int kIntroNext = 0;          // introductory screens and 105: Next
constexpr int kUpgradeChosen = 1035;   // screen 109
constexpr int kRestoreChosen = 1036;   // screen 109
constexpr int kScreenNext = 1;         // 124, 125, 130, 151
constexpr int kBackupChosen = 1000;    // screen 125: Backup and a file chosen
constexpr int kSkipClosing = 1;        // screen 167: Escape
// A failed transfer with at most this many bytes left goes to "ERROR 114".
constexpr std::uint32_t kLoaderBlockBytes = 0x40000;

// Every call the driver and the screens make outside the wizard shell.
// Operations return true / non-zero for success.
struct Operations {
  // Host environment.
  bool (*IsWindows95)();
  bool (*IsOldWindowsNT)();
  bool (*ActiveSyncVersionOk)();
  void (*InitCommonControls)();
  std::string (*CurrentFolder)();
  // Resume record.
  bool (*LoadUpgradeState)();
  void (*MarkCriticalState)();
  // ActiveSync and the handheld's clock.
  void (*ReadSerialPortSetting)(char* out);  // out holds at least 100 characters
  void (*RestartActiveSync)();
  void (*SetDeviceClock)();
  // Remote API.
  std::int32_t (*CeRapiInitEx)(rapi::InitRecord* init);
  bool (*CeGetSystemPowerStatusEx)(rapi::PowerStatus* status, bool refresh);
  // Identification and verification of the handheld and the image.
  bool (*IdentifyDevice)();
  bool (*VerifyImageAndDevice)();
  // The image file; ReadImageHeader fills the record ImageHeader.
  bool (*ReadImageHeader)(const char* path);
  std::uint32_t (*GetImageFileSize)(const char* path);
  // The one image check (checksum and payload) of the file at `path`, made
  // of every image before anything of it is sent; no screens.
  bool (*ImageChecksumHolds)(const char* path);
  // Preparation and transfer. The three workers are started by their
  // progress screens (102 upgrade and resume forms, 132).
  bool (*RunUpgradePreparation)();
  platform::ThreadFunction UpgradeDownloadWorker;
  platform::ThreadFunction ResumeDownloadWorker;
  platform::ThreadFunction BackupWorker;
  void (*ReleaseTransferBuffers)();  // a progress screen abandons the transfer
  void (*ShutDownTransfer)();        // screen 167 ends all the transfer left running
  void (*ClosePort)();               // screens 142 and 114 on Serial
  // PC files and the read-me.
  bool (*FileExists)(const char* path);
  bool (*FreeBytes)(const char* path, std::uint64_t& bytes);
  void (*OpenReadme)(const char* folder);
};

// The real bindings of this build.
Operations DefaultOperations();
// The table in use; starts as DefaultOperations().
extern Operations Ops;

// Runs the whole wizard, from the first screen to EndWizard.
void RunWizard();

}  // namespace wizard
