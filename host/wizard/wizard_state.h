// Process-wide state of the wizard, under the names the wizard's developers
// use everywhere. Plain values, one writer each (named beside each item);
// values shared with worker threads are atomics. Tests call ResetWizardState().
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/remote_api.h"

namespace screens { class ScreenSession; }

namespace wizard {

constexpr std::uint32_t kPathCapacity = 260;  // MAX_PATH

enum class Connection { Serial, Usb };

// The handheld, as identified over the remote API or restored from the
// resume record. Each text holds its terminator within its capacity.
struct DeviceInfoRecord {
  char ModelID[10] = {};    // at most 9 characters
  char Version[5] = {};     // 4 characters
  char Lang[4] = {};        // 3 characters
  char Language[16] = {};   // language folder name
  std::uint8_t FlashSizeMB = 0;
};

// The wizard shell and the checks (driver, screens, identification, resume
// record, host checks).
struct WizardState {
  char BaseFolder[kPathCapacity] = {};        // driver, at start
  bool ResumePending = false;                 // resume record
  bool Critical = false;                      // resume record
  Connection ConnectionType = Connection::Serial;  // start-up, screen 158, resume record
  char SerialPortName[100] = {};              // ActiveSync's serial port setting
  rapi::InitRecord RapiInit;                  // driver
  rapi::PowerStatus PowerStatus;              // driver (the poller keeps its own)
  char FlashFile[kPathCapacity] = {};         // identification, resume record, driver
  char FolderImagePath[kPathCapacity] = {};   // identification
  DeviceInfoRecord DeviceInfo;                // identification, resume record
  std::uint32_t ImageSizeKB = 0;              // identification, driver
  bool ModelMismatch = false;                 // driver; cleared by screen 123
  bool LanguageMismatch = false;              // driver; cleared by screen 123
  bool UpgradeStarted = false;                // driver
  bool WarnedPath = false;                    // driver: power warning was shown
  char BackupFilePath[kPathCapacity] = {};    // screen 125
  screens::ScreenSession* PreparingScreen = nullptr;  // driver
  // Set once EndWizard has run; every caller stops when it sees it.
  std::atomic<bool> WizardEnded{false};
};

// The download's count of image bytes still to send before it has started.
constexpr std::uint32_t kInitialBytesToSend = 0x60000;

// Flags shared with the worker threads.
struct WorkerFlags {
  std::atomic<bool> StopWorkers{false};   // ends the power poller and the port readers
  std::atomic<bool> BusyCursor{true};     // hourglass on the progress screen
  std::atomic<bool> BackupDone{false};    // set by the backup, read by screen 130
  std::atomic<std::uint32_t> BytesToSend{kInitialBytesToSend};  // download: image bytes still to send
};

extern WizardState Wizard;
extern WorkerFlags Workers;

// The open progress, backup and power-warning screens (null when none).
extern std::atomic<screens::ScreenSession*> ProgressScreen;
extern std::atomic<screens::ScreenSession*> BackupScreen;
extern std::atomic<screens::ScreenSession*> PowerWarningScreen;

void ResetWizardState();

// Ends the wizard: closes the main window (WM_CLOSE) once and marks
// WizardEnded so that no caller goes on after it.
void EndWizard();

}  // namespace wizard
