// Behaviour of the screens that do more than show their table texts.
#include "flow/screen_behaviour.h"

#include <cstdio>

#include "base/bounded_text.h"
#include "platform/clock.h"
#include "platform/screens.h"
#include "port/transfer_log.h"
#include "transfer/backup.h"
#include "transfer/download.h"
#include "image/image_file.h"
#include "wizard/catalogue.h"
#include "flow/driver.h"
#include "flow/power_poller.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace screens::behaviour {
namespace {

// Screens.
constexpr int kPowerWarning = 105;
constexpr int kUpgradeErrorScreen = 114;  // "ERROR 113:  UPGRADE ERROR"
constexpr int kIncompatibleImage = 123;
constexpr int kBackupOffer = 125;
constexpr int kReadyScreen = 130;
constexpr int kBackupScreen = 132;
constexpr int kClosingUsb = 133;
constexpr int kCommunicationError = 142;  // "ERROR 114:  COMMUNICATION ERROR"
constexpr int kCannotBackUp = 145;        // "ERROR 107"
constexpr int kFileExists = 152;          // "WARNING 112"
constexpr int kConnectionScreen = 158;
constexpr int kClosingSerial = 160;
constexpr int kAfterTransfer = 167;

// Commands and controls.
constexpr int kNext = 1;
constexpr int kCancel = 2;
constexpr int kUsbRadio = 1150;
constexpr int kSerialRadio = 1151;
constexpr int kBackupButton = 1030;
constexpr int kBackupOfferText = 1041;
constexpr int kReadyText = 1076;
constexpr int kBackupCompleteNote = 1128;
constexpr int kProgressDurationText = 1132;
constexpr int kBackupDurationText = 1087;
constexpr int kProceedButton = 1181;
constexpr int kReadmeCheckBox = 1134;
constexpr int kHandheldModel = 1056, kImageModel = 1060;
constexpr int kHandheldLanguage = 1058, kImageLanguage = 1062;

constexpr int kBackupCompleteSlot = 11107;  // "The ROM Backup is now complete."

// The backup needs this much free space on the target drive (16 MB).
constexpr std::uint64_t kBackupFreeBytes = 16777216;
constexpr const char* kBackupNameFormat = "LUMOROM%s";
constexpr const char* kDialogFolder = "%USERPROFILE%\\My Documents";  // not expanded
constexpr const char* kImageExtension = "nbf";

// Timers of the progress screen, and how long its closing waits (real
// milliseconds) for the worker before it frees the screen.
constexpr int kPieceTimer = 1;
constexpr int kWakeTimer = 2;
constexpr std::uint32_t kWorkerJoinMs = 5000;

std::string SlotText(int slot) {
  const char* text = wizard::Slot(slot);
  return text == nullptr ? std::string() : std::string(text);
}

bool Serial() { return wizard::Wizard.ConnectionType == wizard::Connection::Serial; }

template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, wizard::BoundedLength(text, N));
}

// A text chosen by the handheld's language group and the connection.
std::string DurationText(const wizard::DurationSlots& slots, bool serial) {
  std::string language = Field(wizard::Wizard.DeviceInfo.Language);
  return SlotText(wizard::ChooseDurationSlot(slots, language.c_str(), serial));
}

// --- 158: connection type ----------------------------------------------------

void OpenConnectionScreen(ScreenSession& session) {
  if (wizard::Ops.IsOldWindowsNT() || wizard::Ops.IsWindows95()) {
    // These systems have no USB link to the handheld.
    session.Enable(kUsbRadio, false);
    session.Check(kUsbRadio, false);
    session.Check(kSerialRadio, true);
  } else {
    session.Check(kUsbRadio, false);
    session.Check(kSerialRadio, false);
    session.Enable(kNext, false);  // until the user has chosen
  }
}

// --- 105: power warning --------------------------------------------------------

Outcome PowerWarningNext() {
  // The poller may not have disabled Next yet after an unplug: look again.
  bool read = wizard::Ops.CeGetSystemPowerStatusEx(&wizard::Wizard.PowerStatus, true);
  if (read && wizard::Wizard.PowerStatus.ACLineStatus != 1) return Outcome::Ignore;
  return Outcome::UseTable;
}

// --- 125: backup offer ----------------------------------------------------------

// "LUMOROM" and Version characters 0, 2 and 3 (1.14 gives LUMOROM114); a
// shorter version gives only the characters it has.
void ProposeBackupName() {
  const auto& version = wizard::Wizard.DeviceInfo.Version;
  std::size_t length = wizard::BoundedLength(version, sizeof version);
  char digits[4] = {};
  std::size_t count = 0;
  for (std::size_t index : {0u, 2u, 3u}) {
    if (index < length) digits[count++] = version[index];
  }
  std::snprintf(wizard::Wizard.BackupFilePath, sizeof wizard::Wizard.BackupFilePath,
                kBackupNameFormat, digits);
}

// The drive of the backup target: its first two characters (drive letter and
// colon) on a Windows path. A path without a drive letter is measured at its
// folder instead.
std::string BackupDrive(const char* path) {
  if (path[0] != 0 && path[1] == ':') return std::string(path, 2);
  std::string folder(path);
  std::size_t separator = folder.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  return separator == 0 ? folder.substr(0, 1) : folder.substr(0, separator);
}

bool EnoughSpaceForBackup() {
  std::uint64_t bytes = 0;
  // When the free space cannot be read the backup is refused: a backup that
  // runs out of space leaves an incomplete image behind.
  if (!wizard::Ops.FreeBytes(BackupDrive(wizard::Wizard.BackupFilePath).c_str(), bytes)) {
    return false;
  }
  return bytes >= kBackupFreeBytes;
}

bool ChooseBackupFile(ScreenSession& session) {
  FileDialogRequest request;
  request.save = true;
  request.initialFolder = kDialogFolder;
  request.defaultExtension = kImageExtension;
  request.noChangeDir = true;
  request.owner = &session;
  return CurrentFrontEnd().ChooseFile(request, wizard::Wizard.BackupFilePath,
                                      sizeof wizard::Wizard.BackupFilePath);
}

// Shows `screen` in place of the backup offer and returns its result.
int ShowInstead(ScreenSession& session, int screen) {
  session.SetVisible(false);
  int result = ShowScreen(screen);
  session.SetVisible(true);
  return result;
}

Outcome BackupButton(ScreenSession& session, int& result) {
  ProposeBackupName();
  for (;;) {
    if (wizard::Wizard.WizardEnded) return Outcome::Ignore;
    if (!ChooseBackupFile(session)) return Outcome::Ignore;  // stay on 125
    if (wizard::Ops.FileExists(wizard::Wizard.BackupFilePath)) {
      if (ShowInstead(session, kFileExists) != kNext) {
        continue;  // the dialog again, with the chosen name
      }
    }
    if (EnoughSpaceForBackup()) {
      result = wizard::kBackupChosen;
      return Outcome::End;
    }
    ShowInstead(session, kCannotBackUp);
    return Outcome::Ignore;
  }
}

// --- 102 and 132: progress screens ----------------------------------------------

enum class ProgressForm { Upgrade, Resume };
// One progress or backup screen is open at a time (they are modal and the
// driver shows them one after the other).
ProgressForm openingForm = ProgressForm::Upgrade;
ProgressForm openForm = ProgressForm::Upgrade;
platform::Thread* worker = nullptr;

// False (and the screen ended with 2) when the worker cannot run.
bool StartWorker(ScreenSession& session, platform::ThreadFunction function) {
  worker = function == nullptr ? nullptr : platform::StartThread(function, nullptr);
  if (worker == nullptr) session.End(2);  // the transfer cannot run: it failed
  return worker != nullptr;
}

void OpenProgressScreen(ScreenSession& session) {
  openForm = openingForm;
  bool resume = openForm == ProgressForm::Resume;
  if (resume) wizard::Workers.BusyCursor = true;
  bool serial = Serial() || (resume && wizard::Wizard.Critical);
  session.SetText(kProgressDurationText, DurationText(wizard::kDownloadTexts, serial));
  session.SetPercent(0);
  wizard::ProgressScreen = &session;
  StartWorker(session, resume ? wizard::Ops.ResumeDownloadWorker
                              : wizard::Ops.UpgradeDownloadWorker);
}

void OpenBackupScreen(ScreenSession& session) {
  session.SetText(kBackupDurationText, DurationText(wizard::kBackupProgressTexts, Serial()));
  session.SetPercent(0);
  wizard::BackupScreen = &session;
  wizard::BackupScreenOpening();
  // A backup that cannot even start is a failed backup, and says so.
  if (!StartWorker(session, wizard::Ops.BackupWorker)) wizard::BackupWorkerDidNotStart();
}

// A stalled transfer: stop the workers first, then release the buffers and
// file (the download frees them once its worker has let go), end.
void Abandon(ScreenSession& session, int timer) {
  wizard::Workers.StopWorkers = true;
  wizard::Ops.ReleaseTransferBuffers();
  session.StopTimer(timer);
  session.End(2);
}

bool CloseWorkerScreen(std::atomic<ScreenSession*>& shared) {
  shared = nullptr;
  bool ended = true;
  if (worker != nullptr) {
    ended = platform::JoinThread(worker, kWorkerJoinMs);
    platform::ReleaseThread(worker);
    worker = nullptr;
  }
  return ended;
}

// The transfer log's end of a failed transfer: the screen and what was left.
void EndFailedSession(const char* error) {
  char state[80];
  std::snprintf(state, sizeof state, "%s shown, %u bytes still to send", error,
                static_cast<unsigned>(wizard::Workers.BytesToSend.load()));
  translog::EndSession(state);
}

// --- 133 and 160: closing screens ------------------------------------------------

void OpenReadmeIfTicked(const ScreenSession& session) {
  if (!session.Checked(kReadmeCheckBox)) return;
  char folder[wizard::kPathCapacity];
  int length = std::snprintf(folder, sizeof folder, "%s\\%s",
                             Field(wizard::Wizard.BaseFolder).c_str(),
                             Field(wizard::ImageHeader.ImageLanguage).c_str());
  // A folder that does not fit is not opened rather than opened cut short.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof folder) return;
  wizard::Ops.OpenReadme(folder);
}

}  // namespace

void Opened(ScreenSession& session) {
  switch (session.id()) {
    case kConnectionScreen: OpenConnectionScreen(session); break;
    case kPowerWarning:
      wizard::PowerWarningScreen = &session;
      wizard::StartPowerPoller(session);
      break;
    case kBackupOffer:
      session.SetText(kBackupOfferText, DurationText(wizard::kBackupOfferTexts, Serial()));
      break;
    case kReadyScreen:
      session.SetText(kReadyText, DurationText(wizard::kReadyTexts, Serial()));
      // The note shows on the first showing after a backup only.
      session.SetText(kBackupCompleteNote, wizard::Workers.BackupDone.exchange(false)
                                               ? SlotText(kBackupCompleteSlot)
                                               : std::string());
      break;
    case wizard::kDownloadProgressScreen: OpenProgressScreen(session); break;
    case kBackupScreen: OpenBackupScreen(session); break;
    case kAfterTransfer:
      // Before anything is drawn: end all the transfer left running.
      wizard::Workers.StopWorkers = true;
      wizard::Ops.ShutDownTransfer();
      translog::EndSession("image transferred");
      break;
    case kCommunicationError:
    case kUpgradeErrorScreen:
      if (Serial()) wizard::Ops.ClosePort();
      // The next run resumes over the serial boot loader.
      if (session.id() == kCommunicationError) wizard::Ops.MarkCriticalState();
      EndFailedSession(session.id() == kCommunicationError ? "ERROR 114" : "ERROR 113");
      break;
    default: break;
  }
}

Outcome Command(ScreenSession& session, int command, int& result) {
  switch (session.id()) {
    case kConnectionScreen:
      if (command == kNext) {
        wizard::Wizard.ConnectionType = session.Checked(kSerialRadio)
                                            ? wizard::Connection::Serial
                                            : wizard::Connection::Usb;
      }
      return Outcome::UseTable;
    case kPowerWarning:
      return command == kNext ? PowerWarningNext() : Outcome::UseTable;
    case kIncompatibleImage:
      if (command == kNext || command == kCancel) {
        wizard::Wizard.ModelMismatch = false;
        wizard::Wizard.LanguageMismatch = false;
      }
      return Outcome::UseTable;
    case kBackupOffer:
      return command == kBackupButton ? BackupButton(session, result) : Outcome::UseTable;
    case kAfterTransfer:
      if (command == kProceedButton) wizard::Ops.RestartActiveSync();
      return Outcome::UseTable;
    case kClosingUsb:
    case kClosingSerial:
      if (command == kNext) OpenReadmeIfTicked(session);
      if (command == kNext || command == kCancel) wizard::Ops.SetDeviceClock();
      return Outcome::UseTable;
    default:
      return Outcome::UseTable;
  }
}

void Timer(ScreenSession& session, int timer) {
  if (session.id() != wizard::kDownloadProgressScreen) return;
  translog::TimerFired(timer);
  if (openForm == ProgressForm::Upgrade) {
    Abandon(session, kPieceTimer);  // any timer; timer 1 is the one stopped
  } else if (timer == kPieceTimer || timer == kWakeTimer) {
    Abandon(session, timer);
  }
}

void UserChecked(ScreenSession& session, int control, bool /*checked*/) {
  if (session.id() == kConnectionScreen && (control == kUsbRadio || control == kSerialRadio)) {
    session.Enable(kNext, true);
  }
}

bool Highlighted(const ScreenSession& session, int control) {
  if (session.id() != kIncompatibleImage) return false;
  if (control == kHandheldModel || control == kImageModel) return wizard::Wizard.ModelMismatch;
  if (control == kHandheldLanguage || control == kImageLanguage) {
    return wizard::Wizard.LanguageMismatch;
  }
  return false;
}

bool Closed(ScreenSession& session) {
  switch (session.id()) {
    case kPowerWarning: {
      bool stopped = wizard::StopPowerPoller();
      wizard::PowerWarningScreen = nullptr;
      return stopped;
    }
    case wizard::kDownloadProgressScreen: {
      bool ended = CloseWorkerScreen(wizard::ProgressScreen);
      // A worker that could not use the image asked for its error screen;
      // screens are shown from this thread only.
      wizard::ShowTransferError();
      return ended;
    }
    case kBackupScreen: {
      // Only once the worker has ended may this thread close the connection
      // it used and show the screen its failure asked for.
      bool ended = CloseWorkerScreen(wizard::BackupScreen);
      wizard::FinishBackup(ended);
      return ended;
    }
    default: return true;
  }
}

}  // namespace screens::behaviour

namespace screens {

int ShowResumeProgressScreen() {
  behaviour::openingForm = behaviour::ProgressForm::Resume;
  int result = ShowScreen(102);
  behaviour::openingForm = behaviour::ProgressForm::Upgrade;
  return result;
}

}  // namespace screens
