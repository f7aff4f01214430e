#include "port/port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/bounded_text.h"
#include "platform/system_error.h"
#include "port/transfer_log.h"
#include "wizard/screen_session.h"
#include "wizard/wizard_state.h"

namespace wizard {

ReceiveBufferBytes ReceiveBuffer;
std::atomic<std::uint32_t> ReceiveCursor{0};
std::atomic<bool> ReaderReady{false};
std::atomic<linkport::Port*> LinkHandle{nullptr};
std::atomic<platform::Thread*> ReaderThread{nullptr};

namespace {

constexpr char kDefaultPortName[] = "COM1:";
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr char kUsbDevicePath[] = "\\\\.\\WCEUSBSH001";
constexpr char kDownloadPrompt[] = "download";
constexpr std::size_t kDownloadPromptLength = sizeof kDownloadPrompt - 1;
constexpr std::uint8_t kErasePrompt = 0x01;
constexpr std::uint8_t kBlockPrompt = 0x02;
constexpr std::uint8_t kLastMessageCode = 0x05;  // loader messages are 1..5, then 0
constexpr std::uint32_t kEmptyReadSleepMs = 1;
constexpr std::uint32_t kStopSliceMs = 10;
// How long the USB reader waits for the second byte of a message that a tty
// delivered split (real milliseconds).
constexpr std::uint32_t kSecondByteWaitMs = 200;

// Set to stop the current reader when the link closes without StopWorkers
// (the USB reopen); cleared when a reader starts.
std::atomic<bool> ReaderStop{false};
// Sends between taking LinkHandle and their last write: the port is not closed
// while one is in progress.
std::atomic<int> SendsInProgress{0};
std::atomic<SendPieceObserver> PieceObserver{nullptr};
// A device the program named itself (romwiz-flash --port); empty: the
// wizard's rules. Set before a link starts.
char chosenDevice[kLinkDevicePathCapacity] = {};
std::atomic<std::uint32_t> openFailureCode{0};

// --- time ------------------------------------------------------------------

// A deadline `realMs` real milliseconds ahead, in wizard time.
std::uint64_t RealDeadline(std::uint32_t realMs) {
  return platform::NowMs() + static_cast<std::uint64_t>(realMs) * platform::TimeScale();
}

bool ReaderShouldStop() { return Workers.StopWorkers || ReaderStop; }

// Sleeps `ms` wizard milliseconds in slices; measured against the clock, so
// a time scale that rounds each slice up does not stretch the whole sleep.
void SleepObservingStop(std::uint32_t ms) {
  std::uint64_t deadline = platform::NowMs() + ms;
  while (!ReaderShouldStop()) {
    std::uint64_t now = platform::NowMs();
    if (now >= deadline) return;
    platform::SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(deadline - now, kStopSliceMs)));
  }
}

// --- failure and closing ----------------------------------------------------

// The open-port failure: the preparing screen closes with 2, the progress
// screen hides, "ERROR 105: OPEN PORT FAILURE" shows and the wizard ends. A
// worker leaves all of it to the GUI thread.
void ReportPortFailure(PortFailureReport report) {
  if (report == PortFailureReport::LeaveToCaller) return;
  if (Wizard.PreparingScreen != nullptr) Wizard.PreparingScreen->End(2);
  if (screens::ScreenSession* progress = ProgressScreen.load()) progress->SetVisible(false);
  screens::ShowScreen(kOpenPortFailureScreen);
  translog::EndSession("ERROR 105 shown");
  EndWizard();
}

// A write failed: the log gets how far the send came and the system's code.
void LogSendFailure(std::uint32_t sent, std::uint32_t total) {
  std::uint32_t code = platform::LastErrorCode();
  char what[80];
  std::snprintf(what, sizeof what, "send failed after %u of %u bytes", static_cast<unsigned>(sent),
                static_cast<unsigned>(total));
  translog::Failure(what, code);
}

bool WaitForSendsToEnd(std::uint32_t realMs) {
  std::uint64_t deadline = RealDeadline(realMs);
  while (SendsInProgress.load() != 0) {
    if (platform::NowMs() >= deadline) return false;
    platform::SleepMs(1);
  }
  return true;
}

// Takes the reader and the port (each exactly once), stops and joins the
// reader, waits for a send, and closes the port.
void CloseLink() {
  platform::Thread* reader = ReaderThread.exchange(nullptr);
  linkport::Port* port = LinkHandle.exchange(nullptr);
  ReaderStop = true;
  if (port != nullptr) linkport::CancelWait(port);
  bool readerEnded = true;
  if (reader != nullptr) {
    readerEnded = platform::JoinThread(reader, kReaderStopLimitMs);
    platform::ReleaseThread(reader);
  }
  bool sendsEnded = WaitForSendsToEnd(kReaderStopLimitMs);
  // A reader or a send that did not end in time may still use the port:
  // leaving it open is safe, closing it under them is not.
  if (port != nullptr && readerEnded && sendsEnded) {
    linkport::Close(port);
    translog::PortClosed();
  } else if (port != nullptr) {
    translog::Problem("the port was left open: its reader or a send did not end in time");
  }
}

// --- reading ----------------------------------------------------------------

// A read that returns at once; a port error goes to the log with its code.
long ReadPort(linkport::Port* port, void* buffer, std::uint32_t capacity) {
  long n = linkport::Read(port, buffer, capacity, Workers.StopWorkers);
  if (n < 0) translog::Failure("read failed", platform::LastErrorCode());
  return n;
}

// 1: a byte, 0: nothing there, -1: port error.
int ReadOneByte(linkport::Port* port, std::uint8_t& byte) {
  long n = ReadPort(port, &byte, 1);
  return n < 0 ? -1 : (n == 1 ? 1 : 0);
}

// The reader's wait for port events failed: logged with its code.
void LogWaitFailure(const char* what) { translog::Failure(what, platform::LastErrorCode()); }

// Waits for the next comm event of a serial reader. When the driver cannot
// wait for events, it switches to polled reads kPolledReadIntervalMs apart
// instead of spinning. False when the reader must end.
bool NextSerialEvent(linkport::Port* port, bool& polling, std::uint32_t& events) {
  if (!polling) {
    switch (linkport::WaitEvent(port, events, Workers.StopWorkers)) {
      case linkport::WaitResult::Event:
        return true;
      case linkport::WaitResult::Stopped:
        return false;
      case linkport::WaitResult::Failed:
        LogWaitFailure("wait for port events failed");
        return false;
      case linkport::WaitResult::Unsupported:
        translog::Note("the driver cannot wait for port events: the reader polls");
        polling = true;
        break;
    }
  }
  SleepObservingStop(kPolledReadIntervalMs);
  events = linkport::kEventRxChar;
  return !ReaderShouldStop();
}

int AwaitByte(linkport::Port* port, std::uint8_t& byte);

bool IsMessageCode(std::uint8_t byte) { return byte >= 1 && byte <= kLastMessageCode; }

// Serial message reader: the burst that arrived, one byte per read. The
// buffer is cleared only when a byte has actually come, so an event whose
// bytes were already taken cannot wipe a message the protocol has not seen.
// A burst that is only the first byte of a message waits a little for the
// second: on a real line the two come one character time apart, and a new
// burst would clear the first byte away (the loader's answer would be lost
// and its timer would end the transfer).
bool CollectBurst(linkport::Port* port) {
  std::uint8_t byte = 0;
  int got = ReadOneByte(port, byte);
  if (got <= 0) return got == 0;
  ClearReceiveBuffer();
  AppendReceivedByte(byte);
  const bool messageStarted = IsMessageCode(byte);
  std::uint32_t inBurst = 1;
  while (!ReaderShouldStop()) {
    got = ReadOneByte(port, byte);
    if (got == 0 && inBurst == 1 && messageStarted) got = AwaitByte(port, byte);
    if (got <= 0) return got == 0;
    AppendReceivedByte(byte);
    ++inBurst;
  }
  return true;
}

bool WholeMessageAtStart() { return IsMessageCode(ReceiveBuffer.At(0)) && ReceiveBuffer.At(1) == 0; }

unsigned long SerialMessageReader(void* argument) {
  auto* port = static_cast<linkport::Port*>(argument);
  linkport::SetReadReturnAtOnce(port);
  linkport::SetEventMask(port, kFirstSerialEventMask);
  ReaderReady = true;
  bool polling = false;
  while (!ReaderShouldStop()) {
    std::uint32_t events = 0;
    if (!NextSerialEvent(port, polling, events)) break;
    linkport::SetEventMask(port, kSerialEventMask);
    if ((events & linkport::kEventRxChar) != 0 && !CollectBurst(port)) break;
    if (WholeMessageAtStart()) SleepObservingStop(kAfterMessageSleepMs);
  }
  ReaderReady = false;
  translog::ReaderEnded();
  return 0;
}

// Reads one more byte into `byte`, waiting a little for it. 1, 0 (none came)
// or -1 (port error).
int AwaitByte(linkport::Port* port, std::uint8_t& byte) {
  std::uint64_t deadline = RealDeadline(kSecondByteWaitMs);
  for (;;) {
    int got = ReadOneByte(port, byte);
    if (got != 0) return got;
    if (ReaderShouldStop() || platform::NowMs() >= deadline) return 0;
    platform::SleepMs(kEmptyReadSleepMs);
  }
}

// One two-byte message from the USB link: 2, 0 (nothing) or -1 (port error).
// A tty may deliver a message split in two reads; the second byte is awaited.
// A pair whose second byte is not 0 is not a message: its first byte was
// noise, so the pair slides on by one byte (bounded) to find the message.
int ReadMessage(linkport::Port* port, std::uint8_t (&pair)[2]) {
  long n = ReadPort(port, pair, 2);
  if (n <= 0) return n < 0 ? -1 : 0;
  if (n == 1) {
    int got = AwaitByte(port, pair[1]);
    if (got <= 0) return got;
  }
  for (int slide = 0; pair[1] != 0 && slide < 2; ++slide) {
    translog::Received(translog::Message::StrayBytes, 1);
    pair[0] = pair[1];
    int got = AwaitByte(port, pair[1]);
    if (got <= 0) return got;
  }
  return 2;
}

// Keeps the latest message at the buffer's start until the protocol has
// cleared it. False on a port error.
bool KeepLatestMessage(linkport::Port* port) {
  do {
    if (ReaderShouldStop()) return true;
    std::uint8_t pair[2] = {0, 0};
    int got = ReadMessage(port, pair);
    if (got < 0) return false;
    if (got == 2 && pair[0] != 0) {
      // Byte 1 first: the message is whole once byte 0 is non-zero.
      ReceiveBuffer.Set(1, pair[1]);
      ReceiveBuffer.Set(0, pair[0]);
    } else if (ReceiveBuffer.At(0) != 0) {
      platform::SleepMs(kEmptyReadSleepMs);
    }
  } while (ReceiveBuffer.At(0) != 0);
  return true;
}

// The USB driver's event loop: wait, re-arm, take the messages, reset.
void RunUsbEvents(linkport::Port* port, std::uint32_t mask) {
  while (!ReaderShouldStop()) {
    linkport::WaitResult waited = linkport::UsbWaitEvent(port, mask, Workers.StopWorkers);
    if (waited != linkport::WaitResult::Event) {
      if (waited == linkport::WaitResult::Failed) LogWaitFailure("USB wait for an event failed");
      return;
    }
    // Re-armed with the events of the last wait, as the driver expects.
    if (linkport::UsbArmMask(port, mask) != linkport::ControlResult::Done) {
      LogWaitFailure("USB re-arming failed");
      return;
    }
    ClearReceiveBuffer();
    if (!KeepLatestMessage(port)) return;
    if (!linkport::UsbReset(port, mask)) {
      LogWaitFailure("USB reset control failed");
      return;
    }
  }
}

// A device without the USB driver's controls: polled reads
// kPolledReadIntervalMs apart, with the same two-byte message semantics.
void PollUsbMessages(linkport::Port* port) {
  while (!ReaderShouldStop()) {
    SleepObservingStop(kPolledReadIntervalMs);
    if (!KeepLatestMessage(port)) return;
  }
}

unsigned long UsbMessageReader(void* argument) {
  auto* port = static_cast<linkport::Port*>(argument);
  std::uint32_t mask = kUsbEventMask;
  linkport::SetReadReturnAtOnce(port);
  ReaderReady = true;
  switch (linkport::UsbArmMask(port, mask)) {
    case linkport::ControlResult::Done:
      RunUsbEvents(port, mask);
      break;
    case linkport::ControlResult::Unsupported:
      translog::Note("the driver has no USB controls: the reader polls");
      PollUsbMessages(port);
      break;
    case linkport::ControlResult::Failed:
      LogWaitFailure("USB arming failed");
      break;
  }
  ReaderReady = false;
  translog::ReaderEnded();
  return 0;
}

// The last bytes received, to spot "download" without rescanning the buffer.
struct PromptWatch {
  char recent[kDownloadPromptLength] = {};

  bool Add(std::uint8_t byte) {
    std::memmove(recent, recent + 1, kDownloadPromptLength - 1);
    recent[kDownloadPromptLength - 1] = static_cast<char>(byte);
    return byte == kErasePrompt || byte == kBlockPrompt ||
           std::memcmp(recent, kDownloadPrompt, kDownloadPromptLength) == 0;
  }
};

// Boot loader reader: collects until a prompt (0x01, 0x02 or "download") has
// arrived. `collected` tells whether any byte came.
bool CollectPrompt(linkport::Port* port, bool& collected) {
  std::uint8_t byte = 0;
  int got = ReadOneByte(port, byte);
  collected = got == 1;
  if (got <= 0) return got == 0;
  ClearReceiveBuffer();
  PromptWatch watch;
  AppendReceivedByte(byte);
  bool prompt = watch.Add(byte);
  while (!prompt) {
    if (ReaderShouldStop()) return true;
    got = ReadOneByte(port, byte);
    if (got < 0) return false;
    if (got == 0) {
      platform::SleepMs(kEmptyReadSleepMs);
      continue;
    }
    AppendReceivedByte(byte);
    prompt = watch.Add(byte);
  }
  return true;
}

unsigned long BootLoaderReader(void* argument) {
  auto* port = static_cast<linkport::Port*>(argument);
  linkport::SetReadReturnAtOnce(port);
  linkport::SetEventMask(port, kFirstSerialEventMask);
  ReaderReady = true;
  bool polling = false;
  while (!ReaderShouldStop()) {
    std::uint32_t events = 0;
    if (!NextSerialEvent(port, polling, events)) break;
    linkport::SetEventMask(port, kSerialEventMask);
    bool collected = false;
    if ((events & linkport::kEventRxChar) != 0 && !CollectPrompt(port, collected)) break;
    if (collected) SleepObservingStop(kAfterPromptSleepMs);
  }
  ReaderReady = false;
  translog::ReaderEnded();
  return 0;
}

// Starts `reader` on the open link and waits until it is ready. A thread that
// cannot be started or does not become ready in time is a port failure.
int StartReader(platform::ThreadFunction reader, const char* name, PortFailureReport report) {
  linkport::Port* port = LinkHandle.load();
  if (port == nullptr) return 0;
  ReaderStop = false;
  ReaderReady = false;
  platform::Thread* thread = platform::StartThread(reader, port);
  if (thread == nullptr) {
    translog::Failure("the reader thread cannot be started", platform::LastErrorCode());
    CloseLink();
    ReportPortFailure(report);
    return 0;
  }
  translog::ReaderStarted(name);
  ReaderThread = thread;
  std::uint64_t deadline = RealDeadline(kReaderReadyLimitMs);
  while (!ReaderReady) {
    if (platform::NowMs() >= deadline) {
      translog::Problem("the reader did not become ready");
      CloseLink();
      ReportPortFailure(report);
      return 0;
    }
    platform::SleepMs(kStopSliceMs);
  }
  return 1;
}

// Begins the transfer log's session for `path`: the connection, the record's
// state and the image that is about to go out.
void BeginLinkSession(const char* path) {
  char what[translog::kTextCapacity];
  std::snprintf(what, sizeof what, "%s, %s%s, image %.*s", path,
                Wizard.ConnectionType == Connection::Usb ? "USB" : "serial",
                Wizard.Critical ? ", critical record" : "",
                static_cast<int>(BoundedLength(Wizard.FlashFile, sizeof Wizard.FlashFile)), Wizard.FlashFile);
  translog::BeginSession(what);
}

}  // namespace

// --- ReceiveBuffer ------------------------------------------------------------

std::uint8_t ReceiveBufferBytes::At(std::size_t index) const {
  return index < kReceiveBufferSize ? bytes_[index].load(std::memory_order_relaxed) : 0;
}

void ReceiveBufferBytes::Set(std::size_t index, std::uint8_t value) {
  if (index < kReceiveBufferSize) bytes_[index].store(value, std::memory_order_relaxed);
}

void ReceiveBufferBytes::Clear() {
  for (auto& byte : bytes_) byte.store(0, std::memory_order_relaxed);
}

void ReceiveBufferBytes::ClearFirstTwo() {
  bytes_[0].store(0, std::memory_order_relaxed);
  bytes_[1].store(0, std::memory_order_relaxed);
}

bool ReceiveBufferBytes::MessageAt(std::size_t index, std::uint8_t first, std::uint8_t second) const {
  return index + 1 < kReceiveBufferSize && At(index) == first && At(index + 1) == second;
}

int ReceiveBufferBytes::IndexOf(std::uint8_t value) const {
  for (std::size_t i = 0; i < kReceiveBufferSize; ++i) {
    std::uint8_t byte = At(i);
    if (byte == 0) return -1;
    if (byte == value) return static_cast<int>(i);
  }
  return -1;
}

int ReceiveBufferBytes::IndexOfText(const char* text) const {
  // A snapshot, so that the search sees one consistent string.
  char content[kReceiveBufferSize + 1];
  for (std::size_t i = 0; i < kReceiveBufferSize; ++i) content[i] = static_cast<char>(At(i));
  content[kReceiveBufferSize] = 0;
  const char* found = std::strstr(content, text);
  return found == nullptr ? -1 : static_cast<int>(found - content);
}

bool ReceiveBufferBytes::ContainsByte(std::uint8_t value) const { return IndexOf(value) >= 0; }

bool ReceiveBufferBytes::ContainsText(const char* text) const { return IndexOfText(text) >= 0; }

void ClearReceiveBuffer() {
  ReceiveBuffer.Clear();
  ReceiveCursor = 0;
}

void ClearReceiveMessage() {
  ReceiveBuffer.ClearFirstTwo();
  ReceiveCursor = 0;
}

void AppendReceivedByte(std::uint8_t value) {
  std::uint32_t seen = ReceiveCursor.load();
  std::uint32_t cursor = std::min<std::uint32_t>(seen, kReceiveLimit);
  if (cursor >= kReceiveLimit) {
    // Full: start over with the last few bytes, so that a prompt split across
    // the restart is still found.
    std::uint8_t keep[kReceiveKeepOnRestart];
    for (std::size_t i = 0; i < kReceiveKeepOnRestart; ++i) {
      keep[i] = ReceiveBuffer.At(kReceiveLimit - kReceiveKeepOnRestart + i);
    }
    ReceiveBuffer.Clear();
    for (std::size_t i = 0; i < kReceiveKeepOnRestart; ++i) ReceiveBuffer.Set(i, keep[i]);
    cursor = kReceiveKeepOnRestart;
  }
  // A message's second byte is 0, which a cleared buffer already holds: were
  // the place after this byte left as it is, a message whose first byte had
  // come would look whole before its second byte arrived. The protocol would
  // take and clear it, the real second byte would then land at the start, and
  // the next message one place behind, where it is never looked for (a
  // transfer that stalls into ERROR 113 when the reader is slowed between two
  // bytes). The mark goes first, so the message is whole only once both
  // bytes are in.
  if (cursor + 1 < kReceiveLimit) ReceiveBuffer.Set(cursor + 1, kNotYetReceived);
  ReceiveBuffer.Set(cursor, value);
  // The protocol may have cleared the message and reset the cursor while this
  // byte went in: its reset wins, so the next message starts at the buffer's
  // start instead of behind the one already taken.
  ReceiveCursor.compare_exchange_strong(seen, cursor + 1);
}

// --- opening, sending, starting, stopping ------------------------------------

void UseLinkDevice(const char* devicePath) {
  std::snprintf(chosenDevice, sizeof chosenDevice, "%s", devicePath != nullptr ? devicePath : "");
}

std::uint32_t LastOpenFailureCode() { return openFailureCode; }

void LinkDevicePath(const char* portName, char* path, std::size_t capacity) {
  if (capacity == 0) return;
  if (chosenDevice[0] != 0) {
    std::snprintf(path, capacity, "%s", chosenDevice);
    return;
  }
  const char* name = (portName == nullptr || *portName == 0) ? kDefaultPortName : portName;
  if (Wizard.Critical || Wizard.ConnectionType == Connection::Serial) {
    // "COM3:" without its last character.
    std::size_t length = std::strlen(name);
    int nameLength = static_cast<int>(length > 0 ? length - 1 : 0);
    std::snprintf(path, capacity, "%s%.*s", kDevicePrefix, nameLength, name);
  } else {
    std::snprintf(path, capacity, "%s", kUsbDevicePath);
  }
}

int OpenLinkPort(const char* portName, PortFailureReport report) {
  // A link still open is closed first, so its port and reader are not lost.
  if (LinkHandle.load() != nullptr) CloseLink();
  char path[kLinkDevicePathCapacity];
  LinkDevicePath(portName, path, sizeof path);
  openFailureCode = 0;  // a failure after the open has no code of its own
  linkport::Port* port = linkport::Open(path);
  if (port == nullptr) {
    std::uint32_t code = platform::LastErrorCode();
    openFailureCode = code;
    char what[sizeof path + 20];
    std::snprintf(what, sizeof what, "cannot open %s", path);
    translog::Failure(what, code);
    ReportPortFailure(report);
    return 0;
  }
  translog::PortOpened(path);
  // Like the original settings call, a device that refuses part of the
  // settings is still used; the protocol's timers catch a link that fails.
  if (linkport::ApplySettings(port)) {
    translog::PortSetUp();
  } else {
    translog::Failure("the port refused its settings", platform::LastErrorCode());
  }
  linkport::RaiseDtrThenRts(port);
  LinkHandle = port;
  return 1;
}

bool SendBytes(const void* data, std::uint32_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::uint32_t total = length;
  std::uint32_t sent = 0;
  ++SendsInProgress;
  linkport::Port* port = LinkHandle.load();
  bool ok = port != nullptr;
  SendPieceObserver observer = PieceObserver.load();
  while (ok && length > 0) {
    if (Workers.StopWorkers) {  // nothing is sent after an abandon
      ok = false;
      break;
    }
    std::uint32_t piece = std::min(length, kSendPieceSize);
    if (observer != nullptr) observer(piece);
    std::uint32_t written = 0;
    while (written < piece) {  // a short write is followed by the rest
      long n = linkport::Write(port, bytes + written, piece - written, Workers.StopWorkers);
      if (n <= 0) {
        if (n < 0) LogSendFailure(sent + written, total);
        ok = false;
        break;
      }
      written += static_cast<std::uint32_t>(n);
    }
    sent += piece;
    bytes += piece;
    length -= piece;
  }
  --SendsInProgress;
  return ok;
}

int StartMessageLink(PortFailureReport report, std::uint32_t settleMs) {
  platform::SleepMs(settleMs);
  BeginLinkSession("loader path");
  ReceiveCursor = 0;
  if (!OpenLinkPort(Wizard.SerialPortName, report)) return 0;
  if (Wizard.ConnectionType == Connection::Usb) {
    // The USB-serial device is opened a second time before it is used.
    CloseLink();
    if (!OpenLinkPort(Wizard.SerialPortName, report)) return 0;
  }
  Workers.StopWorkers = false;
  bool usb = Wizard.ConnectionType == Connection::Usb;
  return StartReader(usb ? UsbMessageReader : SerialMessageReader,
                     usb ? "USB message reader" : "serial message reader", report);
}

int StartBootLoaderLink(PortFailureReport report) {
  platform::SleepMs(kBootLoaderLinkSettleMs);
  BeginLinkSession("boot loader path");
  ReceiveCursor = 0;
  if (!OpenLinkPort(Wizard.SerialPortName, report)) return 0;
  Workers.StopWorkers = false;
  // The reader's handle is kept (not closed at once), so that ShutDownLink
  // can wait for the reader before it closes the port.
  return StartReader(BootLoaderReader, "boot loader reader", report);
}

void ShutDownLink() {
  Workers.StopWorkers = true;
  CloseLink();
}

void SetSendPieceObserver(SendPieceObserver observer) { PieceObserver = observer; }

}  // namespace wizard
