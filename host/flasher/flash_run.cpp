#include "flasher/flash_run.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "checks/resume_record.h"
#include "checks/identify.h"
#include "flasher/exit_codes.h"
#include "flasher/progress_meter.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/link.h"
#include "platform/screens.h"
#include "port/port.h"
#include "port/transfer_log.h"
#include "transfer/download.h"
#include "wizard/screen_session.h"
#include "wizard/screen_table.h"
#include "wizard/wizard_state.h"

namespace flasher {
namespace {

using wizard::kNotTransferred;
using wizard::kTransferred;
constexpr int kTimerCount = 2;          // timers 1 (message) and 2 (wake-up)
constexpr std::uint64_t kNoDeadline = ~static_cast<std::uint64_t>(0);
constexpr std::uint32_t kNoSettle = 0;          // the handheld already sits in its loader
constexpr std::uint32_t kWatchTickMs = 20;      // real milliseconds between looks
constexpr std::uint32_t kWorkerJoinMs = 10000;  // real: a worker ends within a send slice
constexpr std::uint32_t kWakeUpSeconds = wizard::kWakeUpTimerMs / 1000;
constexpr std::uint32_t kMessageSeconds = wizard::kMessageTimerMs / 1000;
constexpr char kBootLoaderReset[] = "reset the handheld into its boot loader (hold the joypad while pressing reset)";

// What the progress screen would show: its timers and its progress, kept
// for the watching thread. Called from the worker.
class FlashView : public screens::ScreenView {
 public:
  FlashView() {
    for (auto& deadline : deadlines_) deadline = kNoDeadline;
  }
  void ControlChanged(int) override {}
  void ProgressChanged() override {
    std::uint64_t none = kNoDeadline;
    startMs_.compare_exchange_strong(none, platform::NowMs());  // the transfer has begun
  }
  void StartTimer(int timer, std::uint32_t ms) override {
    if (Valid(timer)) deadlines_[timer - 1] = platform::NowMs() + ms;
  }
  void StopTimer(int timer) override {
    if (Valid(timer)) deadlines_[timer - 1] = kNoDeadline;
  }
  void CursorChanged() override {}
  void Collapse() override {}
  void SetVisible(bool) override {}
  void Ended() override {}

  // The timer whose time is up (0: none).
  int Expired() const {
    std::uint64_t now = platform::NowMs();
    for (int timer = 1; timer <= kTimerCount; ++timer) {
      if (deadlines_[timer - 1].load() <= now) return timer;
    }
    return 0;
  }
  void StopAll() {
    for (auto& deadline : deadlines_) deadline = kNoDeadline;
  }
  bool Started() const { return startMs_.load() != kNoDeadline; }
  // Real milliseconds since the transfer began (0 before).
  std::uint64_t ElapsedMs() const {
    std::uint64_t start = startMs_.load();
    if (start == kNoDeadline) return 0;
    return (platform::NowMs() - start) / platform::TimeScale();
  }

 private:
  static bool Valid(int timer) { return timer >= 1 && timer <= kTimerCount; }
  std::atomic<std::uint64_t> deadlines_[kTimerCount];
  std::atomic<std::uint64_t> startMs_{kNoDeadline};
};

// The worker's side. The loader path opens the link itself (at once: the
// handheld is already in its loader); the boot loader path's transfer does.
std::atomic<bool> loaderPortFailed{false};

unsigned long LoaderWorker(void*) {
  if (!wizard::StartMessageLink(wizard::PortFailureReport::LeaveToCaller, kNoSettle)) {
    loaderPortFailed = true;
    if (auto* screen = wizard::ProgressScreen.load()) screen->End(kNotTransferred);
    return 0;
  }
  wizard::LoaderTransfer();
  return 0;
}

unsigned long BootLoaderWorker(void*) {
  wizard::BootLoaderTransfer();
  return 0;
}

// How the run ended, for the message and the exit code.
struct Outcome {
  bool written = false;
  bool interrupted = false;
  bool portFailed = false;
  bool imageUnreadable = false;
  bool linkLost = false;  // the reader ended on a port error before the end
  int timer = 0;          // the timer that fired (0: none)
  std::uint64_t sent = 0;
  std::uint64_t elapsedMs = 0;
};

void Say(std::FILE* err, const FlashOptions& options, const std::string& text) {
  if (!options.quiet) std::fprintf(err, "%s\n", text.c_str());
}

// The port could not be opened: why, in the user's terms.
std::string PortFailureText(const FlashOptions& options) {
  const std::string device = DeviceForPort(options.port);
  char group[64];
  const std::uint32_t code = wizard::LastOpenFailureCode();
  const std::string name = "cannot open " + options.port + ": ";
  switch (linkport::DescribeOpenFailure(device.c_str(), code, group, sizeof group)) {
    case linkport::OpenFailure::NoSuchDevice:
      return name + "no such device. Check the port's name and that the cable (or its USB adapter) is plugged in.";
    case linkport::OpenFailure::PermissionDenied:
      if (group[0] != 0) {
        return name + "permission denied: you are not in the group \"" + group +
               "\" that owns the device. Add yourself to it (for example: sudo usermod -aG " + group +
               " $USER), log in again and run romwiz-flash again.";
      }
      return name + "permission denied. Ask for access to the device and run romwiz-flash again.";
    case linkport::OpenFailure::Busy:
      return name + "busy: another program holds the port (another romwiz-flash, a terminal program, or a modem "
                    "manager probing new serial devices). Close it and run romwiz-flash again.";
    case linkport::OpenFailure::Other:
      break;
  }
  // The open itself went through; the device failed as soon as it was used
  // (an adapter pulled out, a line hung up): the transfer log has the error.
  if (code == 0) {
    return "the port " + options.port + " opened but failed at once (the device went away or hung up). Check "
           "the cable and its adapter and run romwiz-flash again; nothing was sent.";
  }
  return name + "the system refused it (code " + std::to_string(code) + ").";
}

std::string Progress(const Outcome& outcome, std::uint64_t total) {
  return std::to_string(outcome.sent) + " of " + std::to_string(total) + " bytes";
}

std::string Cause(const Outcome& outcome) {
  if (outcome.interrupted) return "interrupted (Ctrl-C)";
  if (outcome.linkLost) return "the connection was lost";
  if (outcome.timer == wizard::kWakeUpTimer) {
    return "the download loader did not answer within " + std::to_string(kWakeUpSeconds) + " s";
  }
  return "the handheld sent nothing for " + std::to_string(kMessageSeconds) + " s";
}

// What state the handheld is in and what to do next.
std::string FailureText(const FlashOptions& options, const Outcome& outcome, std::uint64_t total) {
  const std::string stopped = Cause(outcome) + "; the transfer stopped after " + Progress(outcome, total) + ". ";
  if (options.via == Via::BootLoader) {
    std::string state = outcome.sent == 0 && !outcome.interrupted
                            ? "Check the cable and the port, then "
                            : "The flash from 0x40000 on may be partly erased or written: ";
    return stopped + state + kBootLoaderReset + " and run romwiz-flash again.";
  }
  if (outcome.sent == 0) {
    return stopped + "Nothing was written. Check the cable and the port and that the handheld sits in its "
                     "download loader (a normal reset starts it when it is in flash), then run romwiz-flash "
                     "--via loader again.";
  }
  if (wizard::Workers.BytesToSend <= wizard::kLoaderBlockSize) {
    return stopped + "The loader block was being rewritten, so the download loader may be damaged: " +
           kBootLoaderReset + " and run romwiz-flash --via bootloader again.";
  }
  return stopped + "The download loader is still in flash: reset the handheld normally and run romwiz-flash "
                   "--via loader again.";
}

// Watches the transfer until the progress screen has ended: timers, Ctrl-C,
// a lost link, and the progress line.
void Watch(screens::ScreenSession& session, FlashView& view, ProgressMeter& meter, const FlashOptions& options,
           std::FILE* err, Outcome& outcome) {
  bool readerSeen = false;
  while (!session.Ended()) {
    const int timer = view.Expired();
    const bool interrupt = platform::Interrupted();
    if (timer != 0 || interrupt) {
      if (timer != 0) translog::TimerFired(timer);
      if (interrupt) translog::Note("interrupted (Ctrl-C)");
      outcome.timer = interrupt ? 0 : timer;
      outcome.interrupted = interrupt;
      // The progress screen's abandon: the worker stops first, then the buffers go.
      wizard::Workers.StopWorkers = true;
      wizard::ReleaseTransferBuffers();
      view.StopAll();
      session.End(kNotTransferred);
      break;
    }
    if (wizard::ReaderReady) readerSeen = true;
    if (readerSeen && !wizard::ReaderReady && !wizard::Workers.StopWorkers) outcome.linkLost = true;
    if (!options.quiet && view.Started()) {
      std::string text = meter.Update(session.ProgressPosition(), view.ElapsedMs());
      if (!text.empty()) {
        std::fputs(text.c_str(), err);
        std::fflush(err);
      }
    }
    platform::SleepMs(kWatchTickMs * platform::TimeScale());
  }
  outcome.sent = session.ProgressPosition();
  outcome.elapsedMs = view.ElapsedMs();
  if (!options.quiet && view.Started()) {
    std::string text = meter.Update(outcome.sent, outcome.elapsedMs) + meter.Close();
    std::fputs(text.c_str(), err);
  }
}

// The wizard's state for this transfer. False when the image's path does
// not fit.
bool PrepareState(const FlashOptions& options, const ImageVerdict& image) {
  if (options.image.size() >= sizeof wizard::Wizard.FlashFile) return false;
  std::memset(wizard::Wizard.FlashFile, 0, sizeof wizard::Wizard.FlashFile);
  std::memcpy(wizard::Wizard.FlashFile, options.image.data(), options.image.size());
  wizard::Wizard.ConnectionType = wizard::Connection::Serial;
  wizard::Wizard.Critical = options.via == Via::BootLoader;  // the boot loader takes the serial port only
  wizard::Wizard.ImageSizeKB = static_cast<std::uint32_t>(image.fileSize >> 10);
  wizard::Wizard.WizardEnded = false;
  wizard::Workers.StopWorkers = false;
  wizard::Workers.BytesToSend = wizard::kInitialBytesToSend;
  wizard::KeepResumeRecord(false);
  wizard::UseLinkDevice(DeviceForPort(options.port).c_str());
  if (!options.logFile.empty()) translog::SetLogPath(options.logFile.c_str());
  return true;
}

int Finish(const FlashOptions& options, const Outcome& outcome, std::uint64_t total, std::FILE* out,
           std::FILE* err) {
  if (outcome.written) {
    translog::EndSession("image written by romwiz-flash");
    Say(err, options, "The handheld restarts into the new ROM once its loader has written the last block.");
    std::fprintf(out, "%s\n", ClosingLine(outcome.sent, outcome.elapsedMs).c_str());
    return kExitWritten;
  }
  std::string text;
  if (outcome.portFailed) {
    text = PortFailureText(options);
  } else if (outcome.imageUnreadable) {
    text = options.image + ": the image file could not be read during the transfer. " +
           FailureText(options, outcome, total);
  } else {
    text = FailureText(options, outcome, total);
  }
  translog::EndSession(outcome.interrupted ? "interrupted" : "the transfer failed");
  std::fprintf(err, "romwiz-flash: %s\n", text.c_str());
  return outcome.interrupted ? kExitInterrupted : kExitFailed;
}

}  // namespace

std::uint64_t BytesToWrite(std::uint64_t fileSize) {
  const std::uint64_t skipped = wizard::kHeaderAndBootBlock;
  return fileSize > skipped ? fileSize - skipped : 0;
}

int RunFlash(const FlashOptions& options, const ImageVerdict& image, std::FILE* out, std::FILE* err) {
  if (!PrepareState(options, image)) {
    std::fprintf(err, "romwiz-flash: the image's path is longer than %u characters\n",
                 static_cast<unsigned>(sizeof wizard::Wizard.FlashFile - 1));
    return kExitUsage;
  }
  const std::uint64_t total = BytesToWrite(image.fileSize);
  if (options.via == Via::BootLoader) {
    Say(err, options, "Hold the joypad and press reset on the handheld to start its boot loader, if it is not "
                      "there yet; romwiz-flash waits up to " + std::to_string(kMessageSeconds) + " s for it.");
  }
  Say(err, options, "Writing " + image.model + " " + image.language + " " + image.version + " (" +
                        std::to_string(total) + " bytes) through " + options.port + "...");

  // The session lives on the heap: should the worker not end in time, it is
  // left to it rather than freed under it.
  auto session = std::make_unique<screens::ScreenSession>(*screens::FindScreen(wizard::kDownloadProgressScreen));
  auto view = std::make_unique<FlashView>();
  session->AttachView(view.get());
  wizard::ProgressScreen = session.get();
  loaderPortFailed = false;
  platform::Thread* worker =
      platform::StartThread(options.via == Via::Loader ? LoaderWorker : BootLoaderWorker, nullptr);
  Outcome outcome;
  if (worker == nullptr) {
    std::fprintf(err, "romwiz-flash: the transfer thread cannot be started\n");
    return kExitFailed;
  }
  ProgressMeter meter(total, platform::StandardErrorIsTerminal());
  Watch(*session, *view, meter, options, err, outcome);
  const bool workerEnded = platform::JoinThread(worker, kWorkerJoinMs);
  platform::ReleaseThread(worker);
  wizard::ShutDownLink();
  wizard::ReleaseTransferBuffers();
  const int errorScreen = wizard::TakeTransferErrorScreen();
  outcome.written = session->Result() == kTransferred && !outcome.interrupted;
  outcome.portFailed = loaderPortFailed || errorScreen == wizard::kOpenPortFailureScreen;
  outcome.imageUnreadable = errorScreen == wizard::kCannotOpenImageScreen;
  if (workerEnded) {
    wizard::ProgressScreen = nullptr;
  } else {
    session.release();  // still in the worker's hands
    view.release();
  }
  return Finish(options, outcome, total, out, err);
}

}  // namespace flasher
