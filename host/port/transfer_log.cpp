// The transfer log: entry ring, formatting, the session and its writer. See
// transfer_log.h.
#include "port/transfer_log.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/host_system.h"
#include "platform/pc_files.h"
#include "platform/system_error.h"

namespace translog {
namespace {

// The file a program chose for its log (romwiz-flash --log); empty: the
// PC files seam's TransferLogPath. Set before the first session begins.
std::string chosenPath;

std::string LogPath() { return chosenPath.empty() ? pc::TransferLogPath() : chosenPath; }

constexpr char kOldSuffix[] = ".1";
// The writer appends this often (real milliseconds), in slices so that the
// end of a session is noticed soon.
constexpr std::uint32_t kFlushIntervalMs = 100;
constexpr std::uint32_t kFlushSliceMs = 10;
// How long EndSession waits for the writer's last append (real milliseconds).
constexpr std::uint32_t kWriterStopLimitMs = 3000;
constexpr char kPortSettings[] =
    "115200 baud, 8 data bits, no parity, 1 stop bit, binary, parity checking, DTR and RTS on, "
    "no flow control";
// Where the UTC SYSTEMTIME lies in the clock block, and its words.
constexpr std::size_t kSystemTimeOffset = 172;
enum SystemTimeWord { kYear = 0, kMonth = 1, kDay = 3, kHour = 4, kMinute = 5, kSecond = 6 };

EntryRing ring;
std::atomic<bool> open{false};
std::atomic<std::uint64_t> startMs{0};
std::atomic<bool> stopWriter{false};
// Set and read by BeginSession and EndSession only: the GUI thread, or a
// worker that begins the session before the GUI thread can end it.
std::atomic<platform::Thread*> writer{nullptr};
// A writer that did not end in time still owns the ring: no other consumer
// may start, and entries wait for it.
std::atomic<bool> writerStuck{false};

void CopyText(char (&field)[kTextCapacity], const char* text) {
  std::snprintf(field, sizeof field, "%s", text != nullptr ? text : "");
}

void Record(Entry& entry) {
  if (!open.load()) return;
  entry.ms = platform::NowMs() - startMs.load();
  ring.Push(entry);
}

void RecordEvent(Event event, const char* text = nullptr) {
  Entry entry;
  entry.event = event;
  CopyText(entry.text, text);
  Record(entry);
}

void RecordTimer(Event event, int timer, std::uint32_t ms) {
  Entry entry;
  entry.event = event;
  entry.length = static_cast<std::uint32_t>(timer);
  entry.piece = ms;
  Record(entry);
}

void RecordMessage(Direction direction, Message message, std::uint32_t length, std::uint32_t piece) {
  Entry entry;
  entry.event = Event::Transfer;
  entry.direction = direction;
  entry.message = message;
  entry.length = length;
  entry.piece = piece;
  Record(entry);
}

// --- formatting ---------------------------------------------------------------

std::uint32_t Word(const std::uint8_t* at) { return static_cast<std::uint32_t>(at[0] | (at[1] << 8)); }

// "2024-05-01 10:22:03 UTC", from the host's clock.
std::string ClockText() {
  std::uint8_t block[hostsys::kClockBlockSize] = {};
  hostsys::ReadClockBlock(block);
  const std::uint8_t* time = block + kSystemTimeOffset;
  auto at = [&](SystemTimeWord word) { return static_cast<unsigned>(Word(time + 2 * word)); };
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", at(kYear), at(kMonth), at(kDay),
                at(kHour), at(kMinute), at(kSecond));
  return text;
}

// The entry's text after the time column.
void FormatBody(const Entry& entry, char* out, std::size_t capacity) {
  switch (entry.event) {
    case Event::SessionStart:
    case Event::Note:
      std::snprintf(out, capacity, "%s", entry.text);
      break;
    case Event::PortOpened:
      std::snprintf(out, capacity, "port %s opened", entry.text);
      break;
    case Event::PortSetUp:
      std::snprintf(out, capacity, "port set up: %s", kPortSettings);
      break;
    case Event::PortClosed:
      std::snprintf(out, capacity, "port closed");
      break;
    case Event::ReaderStarted:
      std::snprintf(out, capacity, "reader started: %s", entry.text);
      break;
    case Event::ReaderEnded:
      std::snprintf(out, capacity, "reader ended");
      break;
    case Event::Transfer: {
      char piece[16] = "";
      if (entry.piece != 0) std::snprintf(piece, sizeof piece, " %u", static_cast<unsigned>(entry.piece));
      std::snprintf(out, capacity, "%s %s%s, %u byte%s",
                    entry.direction == Direction::PcToHandheld ? "pc>hh" : "hh>pc", MessageName(entry.message),
                    piece, static_cast<unsigned>(entry.length), entry.length == 1 ? "" : "s");
      break;
    }
    case Event::TimerStarted:
      std::snprintf(out, capacity, "timer %u started, %u ms", static_cast<unsigned>(entry.length),
                    static_cast<unsigned>(entry.piece));
      break;
    case Event::TimerStopped:
      std::snprintf(out, capacity, "timer %u stopped", static_cast<unsigned>(entry.length));
      break;
    case Event::TimerFired:
      std::snprintf(out, capacity, "timer %u fired", static_cast<unsigned>(entry.length));
      break;
    case Event::Error:
      if (entry.hasCode) {
        std::snprintf(out, capacity, "error: %s (%s %u)", entry.text, platform::ErrorCodeName(),
                      static_cast<unsigned>(entry.code));
      } else {
        std::snprintf(out, capacity, "error: %s", entry.text);
      }
      break;
    case Event::End:
      std::snprintf(out, capacity, "end: %s", entry.text);
      break;
  }
}

// --- the file -----------------------------------------------------------------

// Appends `text`; a file that would grow past kRotateBytes is renamed to the
// old file first (replacing the one before), and a new file begins.
void AppendToLog(const std::string& path, const std::string& text) {
  if (path.empty() || text.empty()) return;
  pc::File* file = pc::OpenFile(path.c_str(), pc::OpenMode::Append);
  if (file == nullptr) return;
  std::uint64_t size = 0;
  if (pc::FileSize(file, size) && size > 0 && size + text.size() > kRotateBytes) {
    pc::CloseFile(file);
    pc::RenameFile(path.c_str(), (path + kOldSuffix).c_str());
    file = pc::OpenFile(path.c_str(), pc::OpenMode::Append);
    if (file == nullptr) return;
  }
  pc::WriteFile(file, text.data(), text.size());
  pc::CloseFile(file);
}

// Formats and appends what the ring holds. One consumer at a time: the
// session's writer, or EndSession when no writer could be started.
void Flush(const std::string& path, const std::string& clock) {
  std::string text;
  Entry entry;
  char line[kLineCapacity];
  while (ring.Pop(entry)) text.append(line, FormatEntry(entry, clock.c_str(), line, sizeof line));
  if (std::uint32_t dropped = ring.TakeDropped()) {
    std::snprintf(line, sizeof line, "  (%u entries were not logged: the buffer was full)\n",
                  static_cast<unsigned>(dropped));
    text += line;
  }
  AppendToLog(path, text);
}

// The file and the clock are looked up here, off the link worker's thread.
unsigned long WriterMain(void*) {
  const std::string path = LogPath();
  const std::string clock = ClockText();
  while (!stopWriter.load()) {
    Flush(path, clock);
    for (std::uint32_t waited = 0; waited < kFlushIntervalMs && !stopWriter.load(); waited += kFlushSliceMs) {
      platform::SleepMs(kFlushSliceMs * platform::TimeScale());
    }
  }
  Flush(path, clock);
  return 0;
}

// Drops what an earlier session left behind (entries recorded as it ended).
void DrainRing() {
  Entry entry;
  while (ring.Pop(entry)) {
  }
  ring.TakeDropped();
}

}  // namespace

// --- EntryRing ------------------------------------------------------------------

bool EntryRing::Push(const Entry& entry) {
  std::uint64_t head = head_.load();
  do {
    // The slot is free once the consumer has moved past its last use.
    if (head - tail_.load(std::memory_order_acquire) >= kEntryCapacity) {
      ++dropped_;
      return false;
    }
  } while (!head_.compare_exchange_weak(head, head + 1));
  Slot& slot = slots_[head % kEntryCapacity];
  slot.entry = entry;
  slot.full.store(true, std::memory_order_release);
  return true;
}

bool EntryRing::Pop(Entry& entry) {
  std::uint64_t tail = tail_.load(std::memory_order_relaxed);
  Slot& slot = slots_[tail % kEntryCapacity];
  // A slot claimed but not yet filled stops the consumer until next time, so
  // the entries come out in the order they were claimed.
  if (!slot.full.load(std::memory_order_acquire)) return false;
  entry = slot.entry;
  slot.full.store(false, std::memory_order_relaxed);
  tail_.store(tail + 1, std::memory_order_release);
  return true;
}

std::uint32_t EntryRing::TakeDropped() { return dropped_.exchange(0); }

// --- formatting -------------------------------------------------------------------

const char* MessageName(Message message) {
  switch (message) {
    case Message::WakeUp: return "wake-up";
    case Message::Ready: return "ready";
    case Message::ImageLength: return "image length";
    case Message::PieceRequest: return "piece request";
    case Message::Piece: return "piece";
    case Message::LoadCommand: return "load command";
    case Message::ErasePrompt: return "erase prompt";
    case Message::EraseRange: return "erase range";
    case Message::BlockPrompt: return "block prompt";
    case Message::BlockHeader: return "block header";
    case Message::Block: return "block";
    case Message::DownloadPrompt: return "download prompt";
    case Message::DownloadReply: return "download reply";
    case Message::StrayBytes: return "stray bytes";
  }
  return "message";
}

std::size_t FormatEntry(const Entry& entry, const char* clock, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  char body[kLineCapacity];
  FormatBody(entry, body, sizeof body);
  int length = 0;
  if (entry.event == Event::SessionStart) {
    length = std::snprintf(out, capacity, "\n== %s  %s\n", clock != nullptr ? clock : "", body);
  } else {
    length = std::snprintf(out, capacity, "%6u.%03u  %s\n", static_cast<unsigned>(entry.ms / 1000),
                           static_cast<unsigned>(entry.ms % 1000), body);
  }
  if (length < 0) return 0;
  std::size_t written = static_cast<std::size_t>(length);
  if (written >= capacity) {  // cut: keep the line ending
    written = capacity - 1;
    out[written - 1] = '\n';
  }
  return written;
}

// --- the session ---------------------------------------------------------------------

void SetLogPath(const char* path) { chosenPath = path != nullptr ? path : ""; }
std::string CurrentLogPath() { return LogPath(); }

void BeginSession(const char* what) {
  if (open.load()) EndSession("a new link session began");
  if (!writerStuck) DrainRing();
  startMs = platform::NowMs();
  stopWriter = false;
  open = true;
  char text[kTextCapacity];
  std::snprintf(text, sizeof text, "link session: %s", what != nullptr ? what : "");
  RecordEvent(Event::SessionStart, text);
  if (!writerStuck) writer = platform::StartThread(WriterMain, nullptr);
}

void EndSession(const char* endState) {
  if (!open.load()) return;
  RecordEvent(Event::End, endState);
  open = false;
  stopWriter = true;
  if (platform::Thread* thread = writer.exchange(nullptr)) {
    writerStuck = !platform::JoinThread(thread, kWriterStopLimitMs);
    platform::ReleaseThread(thread);
  } else if (!writerStuck) {
    Flush(LogPath(), ClockText());  // no writer could be started
  }
}

bool SessionOpen() { return open.load(); }

void PortOpened(const char* device) { RecordEvent(Event::PortOpened, device); }
void PortSetUp() { RecordEvent(Event::PortSetUp); }
void PortClosed() { RecordEvent(Event::PortClosed); }
void ReaderStarted(const char* reader) { RecordEvent(Event::ReaderStarted, reader); }
void ReaderEnded() { RecordEvent(Event::ReaderEnded); }

void Sent(Message message, std::uint32_t length, std::uint32_t piece) {
  RecordMessage(Direction::PcToHandheld, message, length, piece);
}

void Received(Message message, std::uint32_t length, std::uint32_t piece) {
  RecordMessage(Direction::HandheldToPc, message, length, piece);
}

void TimerStarted(int timer, std::uint32_t ms) { RecordTimer(Event::TimerStarted, timer, ms); }
void TimerStopped(int timer) { RecordTimer(Event::TimerStopped, timer, 0); }
void TimerFired(int timer) { RecordTimer(Event::TimerFired, timer, 0); }

void Failure(const char* what, std::uint32_t code) {
  Entry entry;
  entry.event = Event::Error;
  entry.code = code;
  entry.hasCode = true;
  CopyText(entry.text, what);
  Record(entry);
}

void Problem(const char* what) { RecordEvent(Event::Error, what); }
void Note(const char* text) { RecordEvent(Event::Note, text); }

}  // namespace translog
