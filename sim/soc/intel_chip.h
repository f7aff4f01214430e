// One x16 flash chip with Intel's command set (StrataFlash-style).
//
// The chip sees 16-bit bus cycles at word addresses of its own; commands are
// taken from DQ0-DQ7 as the datasheet says. Its array lives in memory that the
// flash bank owns (the bank interleaves the chips' words into one flat image),
// so the chip only gets a view: word w sits at base + w * stride.
//
// What the chip follows from the datasheet:
// - 0xFF read array, 0x90 read identifier (word 0 manufacturer, word 1 device
//   code, block base + 2 block lock bit), 0x70 read status, 0x50 clear status.
// - 0x20/0xD0 block erase, 0x40 or 0x10 then data: word program,
//   0xE8 write to buffer (returns XSR, bit 7 = buffer available), count N
//   (N + 1 words, at most 16) at an address in the same block, N + 1 data
//   words inside the block and inside start .. start + N, then 0xD0 at an
//   address in the same block. Any other cycle aborts the sequence with the
//   invalid-sequence status (SR.5 and SR.4), and nothing is programmed.
// - 0x60/0x01 sets the lock bit of the addressed block, 0x60/0xD0 clears all
//   lock bits of the chip.
// - SR.7 ready, SR.5 erase error, SR.4 program error, SR.3 VPP low, SR.1
//   locked block. Error bits stay until 0x50 clears them.
// - Programming only clears bits; a bit that is asked to become 0 and stays 1
//   sets SR.4 (the chip's internal verify), unless the fault is silent.
// - While an operation runs, only 0x70 (and 0xE8, which then reports the
//   buffer as unavailable) is taken; other writes are ignored and counted.
#pragma once
#include <stdint.h>

#include <set>
#include <vector>

namespace soc {

// Status register (SR) bits.
inline constexpr uint8_t kSrReady = 0x80;
inline constexpr uint8_t kSrEraseError = 0x20;
inline constexpr uint8_t kSrProgramError = 0x10;
inline constexpr uint8_t kSrVppLow = 0x08;
inline constexpr uint8_t kSrBlockLocked = 0x02;
// Extended status register (XSR) after 0xE8.
inline constexpr uint8_t kXsrBufferAvailable = 0x80;

// Command codes.
inline constexpr uint8_t kCmdReadArray = 0xFF;
inline constexpr uint8_t kCmdReadIdentifier = 0x90;
inline constexpr uint8_t kCmdReadStatus = 0x70;
inline constexpr uint8_t kCmdClearStatus = 0x50;
inline constexpr uint8_t kCmdEraseSetup = 0x20;
inline constexpr uint8_t kCmdConfirm = 0xD0;
inline constexpr uint8_t kCmdProgram = 0x40;
inline constexpr uint8_t kCmdProgramAlt = 0x10;
inline constexpr uint8_t kCmdWriteToBuffer = 0xE8;
inline constexpr uint8_t kCmdLockSetup = 0x60;
inline constexpr uint8_t kCmdSetBlockLock = 0x01;

inline constexpr uint16_t kIntelManufacturer = 0x89;
// Write buffer of one chip: 32 bytes, 16 words.
inline constexpr uint32_t kWriteBufferWords = 16;

// Busy times of the write state machine, in simulated nanoseconds.
struct FlashTimings {
  uint64_t eraseNs = 2000000;       // block erase
  uint64_t wordProgramNs = 20000;   // one word program
  uint64_t bufferProgramNs = 60000; // one write-buffer program
  uint64_t lockNs = 20000;          // set a block lock bit
  uint64_t unlockNs = 500000;       // clear all lock bits
  // Typical datasheet values of a 3 V StrataFlash chip, for benchmarks that
  // want realistic simulated durations. The defaults above are shorter so
  // that tests poll only a few thousand times.
  static FlashTimings Typical();
};

enum class ChipMode { ReadArray, ReadStatus, ReadIdentifier, ReadExtendedStatus };

struct ChipCounters {
  uint32_t erases = 0;           // erases started (including never-ending ones)
  uint32_t wordPrograms = 0;     // word programs started
  uint32_t bufferPrograms = 0;   // buffer programs started
  uint32_t lockSets = 0;
  uint32_t lockClears = 0;
  uint32_t aborts = 0;           // invalid command sequences
  uint32_t ignoredWhileBusy = 0; // writes dropped while an operation ran
};

// A bit of one chip word that does not program to 0.
struct ChipStuckBit {
  uint32_t word;
  uint16_t mask;
  bool silent;  // the chip reports success although the bit stayed 1
};

// What the rest of the board tells the chip on every cycle.
struct ChipInputs {
  uint64_t nowNs;
  bool vpp;  // programming voltage present (board latch bit 0)
};

class IntelChip {
 public:
  IntelChip(uint16_t deviceCode, uint32_t chipBytes, uint32_t blockBytes, uint16_t manufacturer);

  // Where the chip's words live; set by the bank before the first cycle.
  void Attach(uint8_t* base, uint32_t strideBytes);
  void SetTimings(const FlashTimings& timings) { timings_ = timings; }
  void AddStuckBit(const ChipStuckBit& bit) { stuck_bits_.push_back(bit); }
  void AddStuckEraseBlock(uint32_t block) { stuck_erase_blocks_.insert(block); }

  void Write(uint32_t word, uint16_t value, const ChipInputs& in);
  uint16_t Read(uint32_t word, const ChipInputs& in) const;

  // A reset pulse on RP#: read-array mode, sequence and busy state dropped,
  // status cleared. Lock bits and the array keep their state.
  void Reset();

  uint32_t Words() const { return words_; }
  uint32_t BlockWords() const { return block_words_; }
  uint32_t BlockOf(uint32_t word) const { return (word % words_) / block_words_; }
  bool Busy(uint64_t nowNs) const { return nowNs < busy_until_ns_; }
  uint8_t Status(uint64_t nowNs) const;
  ChipMode Mode() const { return mode_; }
  bool BlockLocked(uint32_t block) const { return locked_.at(block); }
  void SetBlockLocked(uint32_t block, bool locked) { locked_.at(block) = locked; }
  const ChipCounters& Counters() const { return counters_; }

 private:
  enum class Pending { None, EraseConfirm, ProgramData, BufferCount, BufferData, BufferConfirm, LockCommand };

  uint16_t Word(uint32_t word) const;
  void SetWord(uint32_t word, uint16_t value);
  void StartCommand(uint32_t word, uint8_t command, const ChipInputs& in);
  void ContinueSequence(uint32_t word, uint16_t value, const ChipInputs& in);
  void Abort();
  void Erase(uint32_t word, const ChipInputs& in);
  void ProgramWord(uint32_t word, uint16_t value, const ChipInputs& in);
  void ProgramBuffer(const ChipInputs& in);
  void LockCommand(uint32_t word, uint8_t command, const ChipInputs& in);
  // Programs one word by ANDing; returns false when a stuck bit failed loudly.
  bool AndIntoArray(uint32_t word, uint16_t value);
  void Finish(const ChipInputs& in, uint64_t busyNs) { busy_until_ns_ = in.nowNs + busyNs; }

  uint16_t device_;
  uint16_t manufacturer_;
  uint32_t words_;
  uint32_t block_words_;
  uint8_t* base_ = nullptr;
  uint32_t stride_ = 2;
  FlashTimings timings_;
  std::vector<ChipStuckBit> stuck_bits_;
  std::set<uint32_t> stuck_erase_blocks_;
  std::vector<bool> locked_;

  ChipMode mode_ = ChipMode::ReadArray;
  Pending pending_ = Pending::None;
  uint8_t status_ = 0;  // sticky error bits; SR.7 comes from the busy time
  uint8_t xsr_ = 0;
  uint64_t busy_until_ns_ = 0;
  // Write-to-buffer sequence in progress.
  uint32_t buffer_block_ = 0;
  uint32_t buffer_count_ = 0;  // words still to load
  uint32_t buffer_start_ = 0;
  uint32_t buffer_last_ = 0;   // start + N
  bool buffer_started_ = false;
  std::vector<std::pair<uint32_t, uint16_t>> buffer_;
  ChipCounters counters_;
};

}  // namespace soc
