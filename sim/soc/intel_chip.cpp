#include "sim/soc/intel_chip.h"

#include <cstddef>
#include <limits>

namespace soc {

namespace {

// Invalid command sequence: the chip sets both error bits.
constexpr uint8_t kSrInvalidSequence = kSrEraseError | kSrProgramError;
constexpr uint16_t kErasedWord = 0xFFFF;
constexpr uint8_t kCommandMask = 0xFF;  // commands and counts come on DQ0-DQ7
// Identifier words: manufacturer at 0, device code at 1, lock bit at block + 2.
constexpr uint32_t kIdManufacturerWord = 0;
constexpr uint32_t kIdDeviceWord = 1;
constexpr uint32_t kIdBlockLockWord = 2;
constexpr uint64_t kNeverReady = std::numeric_limits<uint64_t>::max();

}  // namespace

FlashTimings FlashTimings::Typical() {
  FlashTimings t;
  t.eraseNs = 1000000000;      // 1 s per block
  t.wordProgramNs = 210000;    // 210 us per word
  t.bufferProgramNs = 218000;  // 218 us per 32-byte buffer
  t.lockNs = 64000;            // 64 us
  t.unlockNs = 500000000;      // 0.5 s
  return t;
}

IntelChip::IntelChip(uint16_t deviceCode, uint32_t chipBytes, uint32_t blockBytes,
                     uint16_t manufacturer)
    : device_(deviceCode),
      manufacturer_(manufacturer),
      words_(chipBytes / 2),
      block_words_(blockBytes / 2),
      locked_(chipBytes / blockBytes, false) {}

void IntelChip::Attach(uint8_t* base, uint32_t strideBytes) {
  base_ = base;
  stride_ = strideBytes;
}

uint16_t IntelChip::Word(uint32_t word) const {
  const uint8_t* p = base_ + static_cast<size_t>(word % words_) * stride_;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void IntelChip::SetWord(uint32_t word, uint16_t value) {
  uint8_t* p = base_ + static_cast<size_t>(word % words_) * stride_;
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

uint8_t IntelChip::Status(uint64_t nowNs) const {
  // While the state machine runs only SR.7 = 0 is meaningful; the other bits
  // are not driven, and the model reads them as 0.
  if (Busy(nowNs)) return 0;
  return static_cast<uint8_t>(kSrReady | status_);
}

uint16_t IntelChip::Read(uint32_t word, const ChipInputs& in) const {
  switch (mode_) {
    case ChipMode::ReadArray:
      return Word(word);
    case ChipMode::ReadStatus:
      return Status(in.nowNs);
    case ChipMode::ReadExtendedStatus:
      return xsr_;
    case ChipMode::ReadIdentifier: {
      uint32_t w = word % words_;
      if (w == kIdManufacturerWord) return manufacturer_;
      if (w == kIdDeviceWord) return device_;
      if (w % block_words_ == kIdBlockLockWord) return locked_[BlockOf(w)] ? 1 : 0;
      return 0;
    }
  }
  return 0;
}

void IntelChip::Write(uint32_t word, uint16_t value, const ChipInputs& in) {
  uint8_t command = static_cast<uint8_t>(value & kCommandMask);
  if (Busy(in.nowNs)) {
    if (command == kCmdReadStatus) {
      mode_ = ChipMode::ReadStatus;
    } else if (command == kCmdWriteToBuffer && pending_ == Pending::None) {
      // The buffer is not free while the state machine works; the caller has
      // to issue 0xE8 again later.
      xsr_ = 0;
      mode_ = ChipMode::ReadExtendedStatus;
    } else {
      ++counters_.ignoredWhileBusy;
    }
    return;
  }
  if (pending_ != Pending::None) {
    ContinueSequence(word, value, in);
  } else {
    StartCommand(word, command, in);
  }
}

void IntelChip::StartCommand(uint32_t word, uint8_t command, const ChipInputs&) {
  switch (command) {
    case kCmdReadArray:
      mode_ = ChipMode::ReadArray;
      break;
    case kCmdReadIdentifier:
      mode_ = ChipMode::ReadIdentifier;
      break;
    case kCmdReadStatus:
      mode_ = ChipMode::ReadStatus;
      break;
    case kCmdClearStatus:
      status_ = 0;
      break;
    case kCmdEraseSetup:
      pending_ = Pending::EraseConfirm;
      mode_ = ChipMode::ReadStatus;
      break;
    case kCmdProgram:
    case kCmdProgramAlt:
      pending_ = Pending::ProgramData;
      mode_ = ChipMode::ReadStatus;
      break;
    case kCmdWriteToBuffer:
      buffer_block_ = BlockOf(word);
      xsr_ = kXsrBufferAvailable;
      mode_ = ChipMode::ReadExtendedStatus;
      pending_ = Pending::BufferCount;
      break;
    case kCmdLockSetup:
      pending_ = Pending::LockCommand;
      mode_ = ChipMode::ReadStatus;
      break;
    default:
      // Commands this chip does not know (suspend, query, master lock...)
      // are reported as an invalid sequence so that misuse shows.
      Abort();
      break;
  }
}

void IntelChip::ContinueSequence(uint32_t word, uint16_t value, const ChipInputs& in) {
  uint8_t low = static_cast<uint8_t>(value & kCommandMask);
  Pending step = pending_;
  pending_ = Pending::None;
  switch (step) {
    case Pending::EraseConfirm:
      if (low == kCmdConfirm) {
        Erase(word, in);
      } else {
        Abort();
      }
      break;
    case Pending::ProgramData:
      ProgramWord(word, value, in);
      break;
    case Pending::BufferCount:
      // The count goes to an address in the block named with 0xE8 and names
      // at most one buffer of words (N + 1 words).
      if (BlockOf(word) != buffer_block_ || low >= kWriteBufferWords) {
        Abort();
        return;
      }
      buffer_count_ = low + 1u;
      buffer_.clear();
      buffer_started_ = false;
      mode_ = ChipMode::ReadStatus;  // XSR is no longer shown
      pending_ = Pending::BufferData;
      break;
    case Pending::BufferData: {
      uint32_t w = word % words_;
      if (!buffer_started_) {
        buffer_start_ = w;
        buffer_last_ = w + buffer_count_ - 1;
        buffer_started_ = true;
      }
      // Every data address lies in the original block and in start .. start+N.
      if (BlockOf(w) != buffer_block_ || w < buffer_start_ || w > buffer_last_) {
        Abort();
        return;
      }
      buffer_.emplace_back(w, value);
      pending_ = (--buffer_count_ > 0) ? Pending::BufferData : Pending::BufferConfirm;
      break;
    }
    case Pending::BufferConfirm:
      // The confirm must be 0xD0 at an address of the original block; a
      // confirm that lands in another block aborts the buffer.
      if (low != kCmdConfirm || BlockOf(word) != buffer_block_) {
        Abort();
        return;
      }
      ProgramBuffer(in);
      break;
    case Pending::LockCommand:
      LockCommand(word, low, in);
      break;
    case Pending::None:
      break;
  }
}

void IntelChip::Abort() {
  status_ |= kSrInvalidSequence;
  mode_ = ChipMode::ReadStatus;
  pending_ = Pending::None;
  buffer_.clear();
  ++counters_.aborts;
}

void IntelChip::Erase(uint32_t word, const ChipInputs& in) {
  uint32_t block = BlockOf(word);
  mode_ = ChipMode::ReadStatus;
  if (!in.vpp) {
    status_ |= kSrVppLow | kSrEraseError;
    return;
  }
  if (locked_[block]) {
    status_ |= kSrBlockLocked | kSrEraseError;
    return;
  }
  ++counters_.erases;
  if (stuck_erase_blocks_.count(block) != 0) {
    busy_until_ns_ = kNeverReady;
    return;
  }
  uint32_t first = block * block_words_;
  for (uint32_t w = first; w < first + block_words_; ++w) SetWord(w, kErasedWord);
  Finish(in, timings_.eraseNs);
}

bool IntelChip::AndIntoArray(uint32_t word, uint16_t value) {
  uint32_t w = word % words_;
  uint16_t current = Word(w);
  uint16_t next = current & value;
  bool ok = true;
  for (const ChipStuckBit& bit : stuck_bits_) {
    if (bit.word != w) continue;
    uint16_t held = bit.mask & current;  // stuck bits that are 1 stay 1
    next |= held;
    if ((held & ~value) != 0 && !bit.silent) ok = false;
  }
  SetWord(w, next);
  return ok;
}

void IntelChip::ProgramWord(uint32_t word, uint16_t value, const ChipInputs& in) {
  mode_ = ChipMode::ReadStatus;
  if (!in.vpp) {
    status_ |= kSrVppLow | kSrProgramError;
    return;
  }
  if (locked_[BlockOf(word)]) {
    status_ |= kSrBlockLocked | kSrProgramError;
    return;
  }
  ++counters_.wordPrograms;
  if (!AndIntoArray(word, value)) status_ |= kSrProgramError;
  Finish(in, timings_.wordProgramNs);
}

void IntelChip::ProgramBuffer(const ChipInputs& in) {
  mode_ = ChipMode::ReadStatus;
  std::vector<std::pair<uint32_t, uint16_t>> data;
  data.swap(buffer_);
  if (!in.vpp) {
    status_ |= kSrVppLow | kSrProgramError;
    return;
  }
  if (locked_[buffer_block_]) {
    status_ |= kSrBlockLocked | kSrProgramError;
    return;
  }
  ++counters_.bufferPrograms;
  bool ok = true;
  for (const auto& [w, value] : data) ok = AndIntoArray(w, value) && ok;
  if (!ok) status_ |= kSrProgramError;
  Finish(in, timings_.bufferProgramNs);
}

void IntelChip::LockCommand(uint32_t word, uint8_t command, const ChipInputs& in) {
  mode_ = ChipMode::ReadStatus;
  if (command == kCmdSetBlockLock) {
    if (!in.vpp) {
      status_ |= kSrVppLow | kSrProgramError;
      return;
    }
    locked_[BlockOf(word)] = true;
    ++counters_.lockSets;
    Finish(in, timings_.lockNs);
  } else if (command == kCmdConfirm) {
    if (!in.vpp) {
      status_ |= kSrVppLow | kSrEraseError;
      return;
    }
    locked_.assign(locked_.size(), false);
    ++counters_.lockClears;
    Finish(in, timings_.unlockNs);
  } else {
    Abort();
  }
}

void IntelChip::Reset() {
  mode_ = ChipMode::ReadArray;
  pending_ = Pending::None;
  status_ = 0;
  xsr_ = 0;
  busy_until_ns_ = 0;
  buffer_.clear();
}

}  // namespace soc
