// The backup worker. See backup.h for the handshake with the handheld's
// backup program and for who shows which screen.
#include "transfer/backup.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/bounded_text.h"
#include "checks/identify.h"
#include "platform/clock.h"
#include "platform/pc_files.h"
#include "platform/remote_api.h"
#include "handheld_files/device_files.h"
#include "image/image_check.h"
#include "image/image_file.h"
#include "port/transfer_log.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {
namespace {

constexpr int kBackupFailureScreen = 147;  // "ERROR 109:  FAILURE TO BACK UP CURRENT ROM IMAGE"
constexpr unsigned kPercent = 100;
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFFu;  // CeGetFileSize's failure

// What a failure asks the GUI thread for once the worker has ended.
struct Failure {
  int screen = 0;           // error screen; 0 for none
  bool closeConnection = false;
  bool endWizard = false;
};

constexpr Failure kProgramDidNotStart{kProgramFailureScreen, true, true};
constexpr Failure kFileNotCreated{kCannotOpenImageScreen, false, false};
constexpr Failure kChunkMissing{kBackupFailureScreen, false, true};
constexpr Failure kWriteFailed{kBackupFailureScreen, false, false};
// The worker thread could not be started: nothing was backed up, as after
// a failed write, and the wizard goes on the same way.
constexpr Failure kWorkerDidNotStart{kBackupFailureScreen, false, false};

// Written by the worker before it ends the screen, read by FinishBackup
// after the worker has ended.
std::atomic<int> failureScreen{0};
std::atomic<bool> failureCloses{false};
std::atomic<bool> failureEnds{false};
std::atomic<bool> fileVoided{false};  // the file's header was made one no check accepts

screens::ScreenSession* Screen() { return BackupScreen.load(); }

template <std::size_t N>
std::string Field(const char (&text)[N]) {
  return std::string(text, BoundedLength(text, N));
}

void EndScreen(int result) {
  if (auto* screen = Screen()) screen->End(result);
}

// What FinishBackup acts on once the screen is gone.
void RecordFailure(const Failure& failure) {
  failureScreen = failure.screen;
  failureCloses = failure.closeConnection;
  failureEnds = failure.endWizard;
}

// The backup failed: the GUI thread shows `failure` once the screen is gone.
void Fail(const Failure& failure, bool collapse) {
  RecordFailure(failure);
  if (auto* screen = Screen()) {
    if (collapse) screen->Collapse();
    screen->End(kBackupFailed);
  }
}

void DeleteOnDevice(const char* path) {
  rapi::CeDeleteFile(rapi::AnsiToDevicePath(path).c_str());  // the result is not needed
}

// Copies every "backup.exe" of the language folder into \Temp (hidden).
void StageBackupProgram() {
  std::string folder = Field(Wizard.BaseFolder) + '\\' + Field(Wizard.DeviceInfo.Language);
  std::vector<pc::DirEntry> entries;
  if (!pc::ListFolder(folder.c_str(), entries)) return;
  for (const pc::DirEntry& entry : entries) {
    if (entry.attributes == pc::kAttributeDirectory || !EqualNoCase(entry.name.c_str(), kBackupProgramName))
      continue;
    std::string path = folder + '\\' + entry.name;
    if (path.size() < kPathCapacity)
      StageFileOnDevice(path.c_str(), (std::string("\\Temp\\") + entry.name).c_str(), entry.name.c_str());
  }
}

// The end of a backup, whatever its outcome: the program's copy and the
// chunk file are deleted on the handheld (results ignored). This does not
// stop a program still running: the handshake gives the PC no way to, and a
// running program's file usually cannot be deleted. Such a program writes at
// most one more chunk and then waits for its slot until it reaches the
// flash's end or the handheld resets (the upgrade resets it).
void CleanUpOnDevice() {
  DeleteOnDevice(kBackupProgramDevicePath);
  DeleteOnDevice(kBackupChunkDevicePath);
}

bool StartBackupProgram() {
  std::u16string program = rapi::AnsiToDevicePath(kBackupProgramDevicePath);
  std::u16string empty;
  rapi::ProcessInfo info;
  if (!rapi::CeCreateProcess(program.c_str(), empty.c_str(), &info)) return false;
  // The program runs on by itself; its handles are of no further use.
  if (info.thread != nullptr) rapi::CeCloseHandle(info.thread);
  if (info.process != nullptr) rapi::CeCloseHandle(info.process);
  return true;
}

// Reads the handheld file from its start into `buffer`, as much as it holds
// up to one chunk.
std::uint32_t ReadChunkFile(rapi::Handle file, std::uint8_t* buffer) {
  std::uint32_t total = 0;
  while (total < kBackupChunkBytes) {
    std::uint32_t got = 0;
    if (!rapi::CeReadFile(file, buffer + total, kBackupChunkBytes - total, &got) || got == 0) break;
    total += got;
  }
  return total;
}

// Waits for a whole chunk: up to kChunkAttempts looks, kChunkAttemptMs
// apart, sleeping first. A file that is still being written is closed again
// (so that the program can go on writing) and read anew at the next look,
// within the same budget: only a whole chunk is ever used, so no byte of an
// earlier chunk can stand in for one that never came.
bool FetchChunk(std::uint8_t* buffer) {
  const std::u16string path = rapi::AnsiToDevicePath(kBackupChunkDevicePath);
  for (std::uint32_t attempt = 0; attempt < kChunkAttempts; ++attempt) {
    platform::SleepMs(kChunkAttemptMs);
    rapi::Handle file = rapi::CeCreateFile(path.c_str(), rapi::kGenericRead, rapi::kShareRead,
                                           rapi::kOpenExisting, 0);
    if (file == rapi::kInvalidHandle) continue;
    // A file still short of a chunk is not read at all: the program is still
    // writing it (or never finishes it), and it is looked at again next time.
    std::uint32_t high = 0;
    std::uint32_t size = rapi::CeGetFileSize(file, &high);
    bool whole = size == kSizeUnknown || high != 0 || size >= kBackupChunkBytes;
    std::uint32_t got = whole ? ReadChunkFile(file, buffer) : 0;
    rapi::CeCloseHandle(file);
    if (got == kBackupChunkBytes) return true;
  }
  return false;
}

class Progress {
 public:
  explicit Progress(std::uint32_t total) : total_(total) {
    if (auto* screen = Screen()) {
      screen->SetProgressRange(total);
      screen->SetProgressPosition(0);
      screen->SetPercent(0);
    }
  }
  void Step() {
    position_ += kBackupChunkBytes;
    if (auto* screen = Screen()) {
      screen->SetProgressPosition(static_cast<std::uint32_t>(position_));
      screen->SetPercent(static_cast<unsigned>(position_ * kPercent / total_));
    }
  }

 private:
  std::uint64_t total_;
  std::uint64_t position_ = 0;
};

enum class Fetch { Done, ChunkMissing, WriteFailed };

// Steps 9: every chunk fetched, written after the header space and summed.
Fetch FetchAll(pc::File* file, std::uint32_t size, Progress& progress, std::uint16_t& sum) {
  std::vector<std::uint8_t> buffer(kBackupChunkBytes);
  for (std::uint32_t fetched = 0; fetched < size; fetched += kBackupChunkBytes) {
    if (!FetchChunk(buffer.data())) return Fetch::ChunkMissing;
    if (!pc::WriteFile(file, buffer.data(), buffer.size())) return Fetch::WriteFailed;
    // The sum covers exactly the bytes written.
    sum = AddToChecksum(sum, buffer.data(), buffer.size());
    DeleteOnDevice(kBackupChunkDevicePath);  // the program's signal for the next chunk
    progress.Step();
  }
  return Fetch::Done;
}

void VoidBackupFile(pc::File* file) {
  const DeviceInfoRecord& device = Wizard.DeviceInfo;
  // Best effort: when even this write fails the header stays as it was, and
  // a header never written (zeros) or one that did not hold is refused too.
  fileVoided = WriteVoidImageHeader(file, device.ModelID, device.Lang, device.Version);
}

// The header, then the verdict on the file as written: read back through
// the same handle (no other program may open it meanwhile), it must pass the
// wizard's own image check and hold the whole payload. A file that does not
// keeps its data but gets a header no check accepts.
bool SealBackupFile(pc::File* file, std::uint32_t size, std::uint16_t sum) {
  const DeviceInfoRecord& device = Wizard.DeviceInfo;
  std::uint64_t payloadBytes = 0;
  if (!WriteImageHeader(file, device.ModelID, device.Lang, device.Version, sum).empty() &&
      ImageChecksumHolds(file, payloadBytes) && payloadBytes == size)
    return true;
  VoidBackupFile(file);
  return false;
}

// Steps 7 to 11 once the program runs; the screen's result.
void MakeBackupFile(std::uint32_t size, Progress& progress) {
  pc::File* file = pc::OpenFile(Wizard.BackupFilePath, pc::OpenMode::CreateAlways);
  if (file == nullptr) {
    CleanUpOnDevice();
    Fail(kFileNotCreated, false);
    return;
  }
  std::uint16_t sum = 0;
  Fetch fetched =
      pc::SeekFile(file, kImageHeaderSize) ? FetchAll(file, size, progress, sum) : Fetch::WriteFailed;
  bool sound = false;
  if (fetched == Fetch::Done) {
    sound = SealBackupFile(file, size, sum);
  } else {
    VoidBackupFile(file);  // the chunks so far stay, as a file no check accepts
  }
  pc::CloseFile(file);
  CleanUpOnDevice();
  if (fetched == Fetch::ChunkMissing) {
    Fail(kChunkMissing, true);
    return;
  }
  if (!sound) {
    Fail(kWriteFailed, false);
    return;
  }
  Workers.BackupDone = true;
  EndScreen(kBackupDone);
}

}  // namespace

std::uint32_t BackupSize(const char* language, const char* version) {
  if (EqualNoCase(language, "English"))
    return VersionNumber(version) >= kBackupNewEnglishVersion ? kBackupSizeEnglishNew : kBackupSizeSmall;
  for (const char* european : {"French", "German", "Italian", "Spanish"})
    if (EqualNoCase(language, european)) return kBackupSizeSmall;
  return kBackupSizeLarge;
}

void BackupScreenOpening() {
  failureScreen = 0;
  failureCloses = false;
  failureEnds = false;
  fileVoided = false;
}

void BackupWorkerDidNotStart() {
  // The screen has been ended already; only what it asks for is recorded.
  RecordFailure(kWorkerDidNotStart);
}

unsigned long BackupWorker(void*) {
  const DeviceInfoRecord& device = Wizard.DeviceInfo;
  std::uint32_t size = BackupSize(Field(device.Language).c_str(), Field(device.Version).c_str());
  Progress progress(size);
  DeleteOnDevice(kBackupProgramDevicePath);
  DeleteOnDevice(kBackupChunkDevicePath);
  StageBackupProgram();
  if (!StartBackupProgram()) {
    Fail(kProgramDidNotStart, false);
    return 0;
  }
  platform::SleepMs(kBackupProgramStartMs);
  MakeBackupFile(size, progress);
  return 0;
}

namespace {

// The transfer log keeps, for the user and for support, why the file on the
// PC is refused although its data is there.
void RecordVoidedFile() {
  translog::BeginSession((std::string("ROM backup to ") + Wizard.BackupFilePath).c_str());
  std::string note = std::string("the backup file did not check out: its data is kept, its checksum field "
                                 "reads \"") + kVoidChecksumText + "\" so that no check accepts it";
  translog::Problem(note.c_str());
  translog::EndSession("ERROR 109 shown");
}

}  // namespace

void FinishBackup(bool workerEnded) {
  if (!workerEnded) {
    // The worker may still use the connection: it is not closed under it.
    EndWizard();
    return;
  }
  int screen = failureScreen.exchange(0);
  if (screen == 0) return;
  if (failureCloses) rapi::CeRapiUninit();
  if (fileVoided.exchange(false)) RecordVoidedFile();
  screens::ShowScreen(screen);
  if (failureEnds) EndWizard();
}

}  // namespace wizard
