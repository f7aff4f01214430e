// The two download protocols and the workers that run them. See download.h
// for the wire order and the rules on resources and screens.
#include "transfer/download.h"

#include <cctype>
#include <cstring>

#include "checks/activesync.h"
#include "base/bounded_text.h"
#include "checks/identify.h"
#include "checks/resume_record.h"
#include "platform/clock.h"
#include "image/image_file.h"
#include "platform/system_error.h"
#include "port/port.h"
#include "port/transfer_log.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {

std::atomic<std::uint8_t*> PieceBufferA{nullptr};
std::atomic<std::uint8_t*> PieceBufferB{nullptr};
std::atomic<pc::File*> ImageFileHandle{nullptr};

namespace {

constexpr std::uint8_t kWakeUp[] = {'A'};
constexpr std::uint8_t kReady = 0x05;
constexpr std::uint8_t kPieceRequest = 0x04;
constexpr std::uint8_t kLoadCommand[] = {'l', '\r'};
constexpr std::uint8_t kErasePrompt = 0x01;
constexpr std::uint8_t kBlockPrompt = 0x02;
constexpr const char* kDownloadPrompt = "download";
constexpr std::uint8_t kDownloadReply[] = {'B', '0', '0', '0', 'F', 'F', '\n'};
constexpr std::uint32_t kEraseRangeBytes = 8;
constexpr std::uint32_t kBlockHeaderBytes = 12;
constexpr unsigned kDone = 100;  // percent
// The image length is a 32-bit word on the wire.
constexpr std::uint64_t kLargestLength = 0xFFFFFFFFu;

// --- resources: held by the worker, freed once by whoever lets go last ------

constexpr unsigned kWorkerHolds = 1;
constexpr unsigned kReleaseAsked = 2;
std::atomic<unsigned> releaseState{0};
std::atomic<std::uint32_t> releases{0};
std::atomic<int> errorScreen{0};

void FreeResources() {
  std::uint8_t* a = PieceBufferA.exchange(nullptr);
  std::uint8_t* b = PieceBufferB.exchange(nullptr);
  pc::File* file = ImageFileHandle.exchange(nullptr);
  if (a == nullptr && b == nullptr && file == nullptr) return;
  delete[] a;
  delete[] b;
  pc::CloseFile(file);
  ++releases;
}

// While alive, the worker holds the buffers and the file. On its way out it
// frees them if a release was asked for meanwhile; otherwise it leaves them
// to the screen that ends the transfer.
class WorkerHold {
 public:
  // A request left from an earlier transfer is dropped; one made for this
  // transfer has set StopWorkers first and is kept.
  WorkerHold() {
    releaseState.store(kWorkerHolds);
    if (Workers.StopWorkers) releaseState.fetch_or(kReleaseAsked);
  }
  ~WorkerHold() {
    if (releaseState.fetch_and(~kWorkerHolds) & kReleaseAsked) FreeResources();
  }
  WorkerHold(const WorkerHold&) = delete;
  WorkerHold& operator=(const WorkerHold&) = delete;
};

// A fresh buffer in `slot`, replacing (and freeing) one a finished transfer
// left behind.
std::uint8_t* NewBuffer(std::atomic<std::uint8_t*>& slot, std::uint32_t size) {
  std::uint8_t* buffer = new std::uint8_t[size];
  delete[] slot.exchange(buffer);
  return buffer;
}

// --- the progress screen --------------------------------------------------------

screens::ScreenSession* Screen() { return ProgressScreen.load(); }

// The abandon (StopWorkers) or the end of the wizard: the worker stops at once
// and sends, deletes and ends nothing more.
bool Abandoned() { return Workers.StopWorkers || Wizard.WizardEnded; }

void StartTimer(int timer, std::uint32_t ms) {
  if (auto* screen = Screen()) screen->StartTimer(timer, ms);
  translog::TimerStarted(timer, ms);
}
void StopTimer(int timer) {
  if (auto* screen = Screen()) screen->StopTimer(timer);
  translog::TimerStopped(timer);
}

// Progress in bytes of the image in use, and its percentage of `total`.
class Progress {
 public:
  explicit Progress(std::uint64_t total) : total_(total) {
    if (auto* screen = Screen()) {
      screen->SetProgressRange(static_cast<std::uint32_t>(Wizard.ImageSizeKB) * 1024u);
      screen->SetProgressPosition(0);
      screen->SetPercent(0);
    }
  }
  void Step(std::uint32_t bytes) {
    position_ += bytes;
    if (auto* screen = Screen()) {
      screen->SetProgressPosition(static_cast<std::uint32_t>(position_));
      screen->SetPercent(RunningPercent(position_, total_));
    }
  }

 private:
  std::uint64_t total_;
  std::uint64_t position_ = 0;
};

// The transfer has gone through: the record goes, the screen ends with 1.
void Finish(bool hide) {
  DeleteUpgradeState();
  translog::Note(ResumeRecordKept() ? "the whole image went out; the resume record is deleted"
                                    : "the whole image went out");
  if (auto* screen = Screen()) {
    if (hide) {
      screen->SetVisible(false);
    } else {
      screen->Collapse();
    }
    screen->SetPercent(kDone);
    screen->End(kTransferred);
  }
}

// The image cannot be used: the GUI thread shows `screen` once the progress
// screen has ended.
void FailWith(int screen) {
  StopTimer(kMessageTimer);
  StopTimer(kWakeUpTimer);
  errorScreen = screen;
  if (auto* session = Screen()) {
    session->Collapse();
    session->End(kNotTransferred);
  }
}

// The image cannot be sent: the link is closed and ERROR 104 asked for,
// unless the transfer was abandoned meanwhile (then nothing more is done).
void RefuseImage() {
  if (Abandoned()) return;
  ShutDownLink();
  FailWith(kCannotOpenImageScreen);
}

// The port cannot be opened on this worker: "ERROR 105" is asked for, unless
// the transfer was abandoned meanwhile.
void FailOpeningPort() {
  if (!Abandoned()) FailWith(kOpenPortFailureScreen);
}

// --- the image file ---------------------------------------------------------------

void PutWord(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Reads from the image; an error goes to the transfer log with its code, a
// file that ends before it should (it shrank meanwhile) as a problem.
long ReadImage(pc::File* file, std::uint8_t* buffer, std::uint32_t length) {
  long read = pc::ReadFile(file, buffer, length);
  if (read < 0) translog::Failure("the image file cannot be read", platform::LastErrorCode());
  return read;
}

// Fills `length` bytes from the file; what the file no longer holds is padded
// with 0xFF. False on a read error, or when nothing at all was left to read.
bool ReadPadded(pc::File* file, std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t got = 0;
  while (got < length) {
    long read = ReadImage(file, buffer + got, length - got);
    if (read < 0) return false;
    if (read == 0) break;
    got += static_cast<std::uint32_t>(read);
  }
  if (got == 0) {
    translog::Problem("the image file ended early");
    return false;
  }
  std::memset(buffer + got, kPadByte, length - got);
  return true;
}

// Reads exactly `length` bytes (the header and the blocks that are never
// padded because the payload is known to hold them).
bool ReadExact(pc::File* file, std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t got = 0;
  while (got < length) {
    long read = ReadImage(file, buffer + got, length - got);
    if (read == 0) translog::Problem("the image file ended early");
    if (read <= 0) return false;
    got += static_cast<std::uint32_t>(read);
  }
  return true;
}

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit) {
  return (value + unit - 1) / unit * unit;
}

// Opens FlashFile as ImageFileHandle and checks it can be sent: its size is
// known and its payload holds at least the boot and loader blocks. On failure
// the link is closed and ERROR 104 is asked for.
bool OpenImage(std::uint64_t& fileSize) {
  pc::File* file = pc::OpenFile(Wizard.FlashFile, pc::OpenMode::ReadShared);
  if (file == nullptr) translog::Failure("cannot open the image file", platform::LastErrorCode());
  pc::CloseFile(ImageFileHandle.exchange(file));
  bool usable = file != nullptr && pc::FileSize(file, fileSize) &&
                fileSize >= kImageHeaderSize + kMinimumPayload &&
                RoundUp(fileSize - kHeaderAndBootBlock, kPieceSize) <= kLargestLength;
  if (file != nullptr && !usable) translog::Problem("the image file cannot be sent (size)");
  if (!usable) RefuseImage();
  return usable;
}

// --- the loader path ----------------------------------------------------------------

constexpr std::uint32_t kMessageBytes = 2;  // the loader's messages: code, 0

// Polls until bytes 0 and 1 hold `first` 0x00 (or, with `strayByte`, bytes 1
// and 2), and logs the message as `message` (for `piece`). False on an
// abandon. The wake-up wait sleeps between polls too: a busy wait would take
// the processor from the reader that fills the buffer.
bool WaitForMessage(std::uint8_t first, bool strayByte, translog::Message message, std::uint32_t piece = 0) {
  for (;;) {
    if (Abandoned()) return false;
    if (ReceiveBuffer.MessageAt(0, first, 0)) break;
    if (strayByte && ReceiveBuffer.MessageAt(1, first, 0)) {
      translog::Received(translog::Message::StrayBytes, 1);
      break;
    }
    platform::SleepMs(kTransferPollMs);
  }
  translog::Received(message, kMessageBytes, piece);
  return true;
}

// A piece request has come: the message timer restarts, the message is cleared.
void TakeRequest() {
  StartTimer(kMessageTimer, kMessageTimerMs);
  ClearReceiveMessage();
}

// Sends `message` (for `piece`) and tells whether the transfer may go on. A
// send that fails without an abandon means a dead link: nothing more is
// sent, and the message timer (started here, whichever timer ran before)
// ends the screen.
bool Send(const void* data, std::uint32_t length, translog::Message message, std::uint32_t piece = 0) {
  bool sent = SendBytes(data, length);
  if (Abandoned()) return false;
  if (!sent) {
    StartTimer(kMessageTimer, kMessageTimerMs);
    return false;
  }
  translog::Sent(message, length, piece);
  return true;
}

int RunLoaderProtocol(std::uint64_t fileSize) {
  pc::File* file = ImageFileHandle.load();
  // The header and the boot block, each read at the buffer's start: read,
  // never sent. Then the loader block, sent last.
  std::uint8_t* a = NewBuffer(PieceBufferA, kPieceBufferSize);
  std::uint8_t* b = NewBuffer(PieceBufferB, kPieceBufferSize);
  if (!ReadExact(file, a, kImageHeaderSize) || !ReadExact(file, a, kBlockSize) ||
      !ReadExact(file, b, kLoaderBlockSize)) {
    RefuseImage();
    return 0;
  }
  // Bytes to send: the rest of the payload in whole pieces, then the loader block.
  std::uint64_t remaining = RoundUp(fileSize - kHeaderAndBootBlock, kPieceSize);

  // Wake-up.
  ClearReceiveMessage();
  if (!Send(kWakeUp, sizeof kWakeUp, translog::Message::WakeUp)) return 0;
  StartTimer(kWakeUpTimer, kWakeUpTimerMs);
  if (!WaitForMessage(kReady, true, translog::Message::Ready)) return 0;
  StopTimer(kWakeUpTimer);

  // The ready answer is cleared before the length goes out, so the first
  // piece request lands at the buffer's start whether or not the reader has
  // begun a new burst by then (the loader answers only after the length).
  ClearReceiveMessage();
  std::uint8_t length[4];
  PutWord(length, static_cast<std::uint32_t>(remaining));
  if (!Send(length, sizeof length, translog::Message::ImageLength)) return 0;

  Progress progress(static_cast<std::uint64_t>(Wizard.ImageSizeKB) * 1024u);
  StartTimer(kMessageTimer, kMessageTimerMs);
  Workers.BusyCursor = false;
  if (auto* screen = Screen()) screen->RefreshCursor();

  // The payload from 0x80000 on, from the file. Pieces are numbered from 1
  // in the order they go out.
  std::uint32_t piece = 0;
  while (remaining > kLoaderBlockSize) {
    if (!WaitForMessage(kPieceRequest, false, translog::Message::PieceRequest, piece + 1)) return 0;
    TakeRequest();
    if (!ReadPadded(file, a, kPieceSize)) {
      RefuseImage();
      return 0;
    }
    if (!Send(a, kPieceSize, translog::Message::Piece, ++piece)) return 0;
    remaining -= kPieceSize;
    Workers.BytesToSend = static_cast<std::uint32_t>(remaining);
    progress.Step(kPieceSize);
  }

  // The critical stretch: the loader block, in two pieces. From here on the
  // loader in flash is being replaced, so the record is marked critical
  // first: should the wizard die here, the next run takes the boot loader
  // path, which needs no loader (the loader path can never finish again).
  Workers.BytesToSend = static_cast<std::uint32_t>(remaining);
  if (!WaitForMessage(kPieceRequest, false, translog::Message::PieceRequest, piece + 1)) return 0;
  MarkCriticalState();
  TakeRequest();
  if (!Send(b, kPieceSize, translog::Message::Piece, ++piece)) return 0;
  progress.Step(kPieceSize);
  // A request that came while the first half was going out is already here.
  if (!WaitForMessage(kPieceRequest, false, translog::Message::PieceRequest, piece + 1)) return 0;
  TakeRequest();
  if (!Send(b + kPieceSize, kPieceSize, translog::Message::Piece, ++piece)) return 0;
  progress.Step(kPieceSize);
  StopTimer(kMessageTimer);
  if (Abandoned()) return 0;
  Finish(false);
  return 1;
}

// --- the boot loader path ----------------------------------------------------------

struct BootLoaderRun {
  pc::File* file;
  std::uint8_t* buffer;
  std::uint64_t payload;
  std::uint32_t address = kLoaderBlockOffset;
};

// The number of the block at `address`, from 1.
std::uint32_t BlockNumber(std::uint32_t address) { return (address - kLoaderBlockOffset) / kBlockSize + 1; }

// A prompt has come: logged with the bytes of the buffer up to its end
// (whatever text the boot loader sent ahead of it included).
void LogPrompt(translog::Message message, int at, std::size_t promptLength, std::uint32_t block = 0) {
  translog::Received(message, static_cast<std::uint32_t>(at < 0 ? 0 : at + promptLength), block);
}

bool AnswerErase(BootLoaderRun& run) {
  LogPrompt(translog::Message::ErasePrompt, ReceiveBuffer.IndexOf(kErasePrompt), 1);
  StopTimer(kMessageTimer);
  ClearReceiveBuffer();
  PutWord(run.buffer, run.address);
  PutWord(run.buffer + 4, kEraseLength);
  if (!Send(run.buffer, kEraseRangeBytes, translog::Message::EraseRange)) return false;
  StartTimer(kMessageTimer, kMessageTimerMs);
  return true;
}

enum class BlockResult { More, Last, Stop };

BlockResult AnswerBlock(BootLoaderRun& run, Progress& progress) {
  const std::uint32_t block = BlockNumber(run.address);
  LogPrompt(translog::Message::BlockPrompt, ReceiveBuffer.IndexOf(kBlockPrompt), 1, block);
  StopTimer(kMessageTimer);
  ClearReceiveBuffer();
  PutWord(run.buffer, run.address);
  PutWord(run.buffer + 4, kBlockSize);
  PutWord(run.buffer + 8, 0);
  if (!Send(run.buffer, kBlockHeaderBytes, translog::Message::BlockHeader, block)) return BlockResult::Stop;
  if (!ReadPadded(run.file, run.buffer, kBlockSize)) {
    RefuseImage();
    return BlockResult::Stop;
  }
  if (!Send(run.buffer, kBlockSize, translog::Message::Block, block)) return BlockResult::Stop;
  progress.Step(kBlockSize);
  run.address += kBlockSize;
  StartTimer(kMessageTimer, kMessageTimerMs);
  // "At or past": a padded last block ends past the payload's length.
  return run.address >= run.payload ? BlockResult::Last : BlockResult::More;
}

bool AnswerDownload() {
  LogPrompt(translog::Message::DownloadPrompt, ReceiveBuffer.IndexOfText(kDownloadPrompt),
            std::strlen(kDownloadPrompt));
  StopTimer(kMessageTimer);
  ClearReceiveBuffer();
  if (!Send(kDownloadReply, sizeof kDownloadReply, translog::Message::DownloadReply)) return false;
  StartTimer(kMessageTimer, kMessageTimerMs);
  return true;
}

void RunBootLoaderProtocol(std::uint64_t fileSize) {
  BootLoaderRun run{ImageFileHandle.load(), NewBuffer(PieceBufferA, kBootLoaderBufferSize),
                    fileSize - kImageHeaderSize};
  if (!ReadExact(run.file, run.buffer, kHeaderAndBootBlock)) {
    RefuseImage();
    return;
  }
  ClearReceiveBuffer();
  Progress progress(fileSize - kBlockSize);
  if (!Send(kLoadCommand, sizeof kLoadCommand, translog::Message::LoadCommand)) return;
  StartTimer(kMessageTimer, kMessageTimerMs);
  for (;;) {
    if (Abandoned()) return;
    // The first match wins: erase, then block, then download.
    if (ReceiveBuffer.ContainsByte(kErasePrompt)) {
      if (!AnswerErase(run)) return;
    } else if (ReceiveBuffer.ContainsByte(kBlockPrompt)) {
      BlockResult result = AnswerBlock(run, progress);
      if (result == BlockResult::Stop) return;
      if (result == BlockResult::Last) break;
    } else if (ReceiveBuffer.ContainsText(kDownloadPrompt)) {
      if (!AnswerDownload()) return;
    } else {
      platform::SleepMs(kTransferPollMs);
    }
  }
  StopTimer(kMessageTimer);
  if (Abandoned()) return;
  Finish(true);
}

// --- the resume worker ------------------------------------------------------------

template <std::size_t N>
bool SameText(const char (&a)[N], const char* b, std::size_t bCapacity) {
  std::size_t length = BoundedLength(a, N);
  if (length != BoundedLength(b, bCapacity)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The header of FlashFile into ImageHeader, read here without screens (the
// worker shows none); false when the file cannot be read.
bool ReadResumeHeader() {
  pc::File* file = pc::OpenFile(Wizard.FlashFile, pc::OpenMode::ReadShared);
  std::uint8_t header[kImageHeaderSize];
  bool read = file != nullptr && ReadExact(file, header, kImageHeaderSize);
  pc::CloseFile(file);
  if (read) ParseImageHeader(header, ImageHeader);
  return read;
}

// The size of FlashFile itself (the image being sent); false when unknown.
bool ResumeImageSize(std::uint64_t& size) {
  pc::File* file = pc::OpenFile(Wizard.FlashFile, pc::OpenMode::ReadShared);
  bool known = file != nullptr && pc::FileSize(file, size);
  pc::CloseFile(file);
  return known;
}

// The error a worker asked for, as the transfer log names it.
const char* ErrorScreenName(int screen) {
  switch (screen) {
    case kIncompatibleImageScreen: return "ERROR 100 shown";
    case kCannotOpenImageScreen: return "ERROR 104 shown";
    case kOpenPortFailureScreen: return "ERROR 105 shown";
    default: return "error screen shown";
  }
}

}  // namespace

unsigned RunningPercent(std::uint64_t position, std::uint64_t total) {
  if (total == 0) return 0;
  std::uint64_t percent = position * kDone / total;
  return percent >= kDone ? kDone - 1 : static_cast<unsigned>(percent);
}

int LoaderTransfer() {
  WorkerHold hold;
  std::uint64_t fileSize = 0;
  if (!OpenImage(fileSize)) return 0;
  return RunLoaderProtocol(fileSize);
}

void BootLoaderTransfer() {
  WorkerHold hold;
  std::uint64_t fileSize = 0;
  // The image is checked before the port opens: nothing goes out for an
  // image that cannot be sent.
  if (!OpenImage(fileSize)) return;
  if (!StartBootLoaderLink(PortFailureReport::LeaveToCaller)) {
    FailOpeningPort();
    return;
  }
  if (LinkHandle.load() == nullptr || Abandoned()) return;
  RunBootLoaderProtocol(fileSize);
}

unsigned long UpgradeDownloadWorker(void*) {
  LoaderTransfer();
  return 0;
}

unsigned long ResumeDownloadWorker(void*) {
  if (!ReadResumeHeader()) {
    FailWith(kCannotOpenImageScreen);
    return 0;
  }
  const DeviceInfoRecord& device = Wizard.DeviceInfo;
  bool sameModel = SameText(device.ModelID, ImageHeader.ImageModelID, sizeof ImageHeader.ImageModelID);
  bool sameLang = SameText(device.Lang, ImageHeader.ImageLang, sizeof ImageHeader.ImageLang);
  if (!sameModel || !sameLang) {
    if (!sameModel) {
      Wizard.ModelMismatch = true;
    } else {
      Wizard.LanguageMismatch = true;
    }
    FailWith(kIncompatibleImageScreen);
    return 0;
  }
  // The progress is measured on the image being sent, not on the language
  // folder's, which may be another file or missing.
  std::uint64_t size = 0;
  if (!ResumeImageSize(size)) {
    FailWith(kCannotOpenImageScreen);
    return 0;
  }
  Wizard.ImageSizeKB = static_cast<std::uint32_t>(size >> 10);
  if (auto* screen = Screen()) {
    screen->SetProgressRange(Wizard.ImageSizeKB * 1024u);
    screen->SetProgressPosition(0);
    screen->SetPercent(0);
  }
  platform::SleepMs(kResumeSettleMs);
  if (Abandoned()) return 0;
  ReadSerialPortSetting(Wizard.SerialPortName);
  if (Wizard.Critical) {
    BootLoaderTransfer();
    return 0;
  }
  if (!StartMessageLink(PortFailureReport::LeaveToCaller)) {
    FailOpeningPort();
    return 0;
  }
  if (LinkHandle.load() == nullptr || Wizard.WizardEnded) return 0;
  LoaderTransfer();
  return 0;
}

void ReleaseTransferBuffers() {
  // First: the worker stops before anything it uses is freed.
  Workers.StopWorkers = true;
  if (releaseState.fetch_or(kReleaseAsked) & kWorkerHolds) return;  // it frees them as it leaves
  FreeResources();
}

void ShutDownTransfer() {
  ShutDownLink();
  ReleaseTransferBuffers();
}

int TakeTransferErrorScreen() { return errorScreen.exchange(0); }

void ShowTransferError() {
  int screen = TakeTransferErrorScreen();
  if (screen == 0) return;
  screens::ShowScreen(screen);
  translog::EndSession(ErrorScreenName(screen));
  EndWizard();
}

std::uint32_t TransferReleases() { return releases; }

}  // namespace wizard
