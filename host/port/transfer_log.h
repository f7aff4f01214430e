// The transfer log: every link session of the wizard appends a compact,
// time-stamped record to one file, for users and for support: the port and
// its settings, every message sent and received (kind, length, piece
// number), the timers started, stopped and fired, the errors with their
// system codes, and the end state. Where the file lives is the PC files
// seam's TransferLogPath; it is rotated at kRotateBytes, one old file kept
// beside it with ".1" added to its name.
//
// Entries are recorded from any thread (the link worker, the reader, the GUI
// thread) into a fixed buffer without locks and without waiting; a writer
// thread of the session formats and appends them to the file a few times a
// second, so the link worker never waits on the disk. A full buffer drops
// entries and says so in the file.
//
// A session line looks like
//      12.345  pc>hh piece 3, 131072 bytes
// (seconds of wizard time since the session began, then the entry). Message
// lines name the direction (pc>hh, hh>pc), the message, its piece or block
// number where it has one, and its length: the simulated handheld writes the
// same lines on its side, so that the two logs can be read side by side.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace translog {

// Bounds of the log.
constexpr std::uint64_t kRotateBytes = 1u << 20;  // 1 MB
constexpr std::size_t kEntryCapacity = 512;       // entries waiting for the writer
constexpr std::size_t kTextCapacity = 200;
constexpr std::size_t kLineCapacity = kTextCapacity + 64;

enum class Direction : std::uint8_t { PcToHandheld, HandheldToPc };

// The messages of the loader and the boot loader protocols.
enum class Message : std::uint8_t {
  WakeUp, Ready, ImageLength, PieceRequest, Piece,
  LoadCommand, ErasePrompt, EraseRange, BlockPrompt, BlockHeader, Block, DownloadPrompt, DownloadReply,
  StrayBytes,  // bytes ahead of a message that belong to none
};

enum class Event : std::uint8_t {
  SessionStart,  // text: what the session carries
  PortOpened,    // text: the device
  PortSetUp,     // the line settings were applied
  PortClosed,
  ReaderStarted,  // text: which reader
  ReaderEnded,
  Transfer,      // a message: direction, message, length, piece
  TimerStarted,  // timer, ms
  TimerStopped,
  TimerFired,
  Error,         // text, and a system code when hasCode
  Note,          // text
  End,           // text: the end state
};

struct Entry {
  std::uint64_t ms = 0;  // wizard milliseconds since the session began
  Event event = Event::Note;
  Direction direction = Direction::PcToHandheld;
  Message message = Message::WakeUp;
  std::uint32_t length = 0;  // bytes of a message; timer number
  std::uint32_t piece = 0;   // piece or block number from 1 (0: none); a timer's milliseconds
  std::uint32_t code = 0;
  bool hasCode = false;
  char text[kTextCapacity] = {};
};

// A fixed ring of entries: any number of threads push, one consumer pops.
// Push never waits; when the ring is full the entry is counted as dropped.
class EntryRing {
 public:
  bool Push(const Entry& entry);
  bool Pop(Entry& entry);
  std::uint32_t TakeDropped();

 private:
  struct Slot {
    std::atomic<bool> full{false};
    Entry entry;
  };
  Slot slots_[kEntryCapacity];
  std::atomic<std::uint64_t> head_{0};  // next index to claim
  std::atomic<std::uint64_t> tail_{0};  // next index to pop
  std::atomic<std::uint32_t> dropped_{0};
};

// One line for `entry` with its newline, cut to `capacity`; `clock` is the
// wall-clock text a session start shows. Returns the length written.
std::size_t FormatEntry(const Entry& entry, const char* clock, char* out, std::size_t capacity);
const char* MessageName(Message message);

// Where the log goes: `path` (a program's own choice, such as romwiz-flash's
// --log FILE) instead of TransferLogPath; null or empty goes back to that.
// Called before the first session begins, never while one is open.
void SetLogPath(const char* path);
// The file entries go to now; empty when there is no such place.
std::string CurrentLogPath();

// The session. BeginSession ends a session still open; EndSession records
// the end state, lets the writer append the rest and waits (bounded) for it.
// Both are called where no port read runs on the calling thread.
void BeginSession(const char* what);
void EndSession(const char* endState);
bool SessionOpen();

// Entries; ignored while no session is open. Texts are cut to fit.
void PortOpened(const char* device);
void PortSetUp();
void PortClosed();
void ReaderStarted(const char* reader);
void ReaderEnded();
void Sent(Message message, std::uint32_t length, std::uint32_t piece = 0);
void Received(Message message, std::uint32_t length, std::uint32_t piece = 0);
void TimerStarted(int timer, std::uint32_t ms);
void TimerStopped(int timer);
void TimerFired(int timer);
// An error with the system code the platform reported for it.
void Failure(const char* what, std::uint32_t code);
// An error without a system code (a time-out, an image that cannot be used).
void Problem(const char* what);
void Note(const char* text);

}  // namespace translog
