#include "sim/soc/soc.h"

#include <algorithm>
#include <cstdio>

namespace soc {

namespace {

// A character on the serial line: start bit, 8 data bits, stop bit.
constexpr uint64_t kBitsPerCharacter = 10;

thread_local Soc* current_soc = nullptr;

bool Inside(uint32_t address, uint32_t base, uint32_t bytes) { return address - base < bytes; }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

Soc::Soc(const Board& board) : board_(board), flash_(board.flash) {
  for (const RamRegion& region : board_.ram) {
    ram_.push_back({region.base, std::vector<uint8_t>(region.bytes, 0)});
  }
  LoadBootState();
}

void Soc::LoadBootState() {
  memory_.registers = {{kMsc0Offset, board_.bootMsc0}, {kMsc1Offset, board_.bootMsc1}};
  latch_.value = board_.bootLatch;
  if (RamBlock* shadow = FindRam(board_.latchShadow, 4)) {
    RamAccess(true, 4, *shadow, board_.latchShadow, board_.bootLatch);
  }
  uart_.utcr[0] = uart_.utcr[1] = uart_.utcr[2] = uart_.utcr[3] = 0;
  uart_.utsr0 = 0;
  uart_.transmitBusyUntilNs = 0;
  timer_.registers.clear();
  interrupts_.registers.clear();
  flash_.ResetChips();
}

void Soc::RestartAfterReset() { LoadBootState(); }

const char* BusDeviceName(BusDevice device) {
  static const char* const kNames[kBusDeviceCount] = {
      "flash", "memory", "uart", "timer", "interrupts", "reset", "latch", "debug", "ram", "none"};
  return kNames[static_cast<int>(device)];
}

BusDevice Soc::DeviceAt(uint32_t address, uint32_t bytes) {
  // The flash answers within its window only, however large the chips.
  if (Inside(address, board_.flashWindow, std::min(flash_.SizeBytes(), board_.flashWindowBytes)))
    return BusDevice::Flash;
  if (Inside(address, board_.debugPort, kSingleRegisterBytes)) return BusDevice::DebugPort;
  if (Inside(address, board_.boardLatch, kSingleRegisterBytes)) return BusDevice::BoardLatch;
  if (FindRam(address, bytes)) return BusDevice::Ram;
  const std::pair<uint32_t, BusDevice> blocks[] = {
      {board_.memoryController, BusDevice::MemoryController},
      {board_.uart3, BusDevice::Uart},
      {board_.osTimer, BusDevice::OsTimer},
      {board_.interruptController, BusDevice::InterruptController},
      {board_.resetController, BusDevice::ResetController},
  };
  for (const auto& [base, device] : blocks)
    if (Inside(address, base, kRegisterBlockBytes)) return device;
  return BusDevice::None;
}

uint32_t Soc::Access(bool write, int bytes, uint32_t address, uint32_t value) {
  if (address % bytes != 0) throw BusFault("misaligned access at " + Hex(address));
  clock_.Tick();
  const BusDevice device = DeviceAt(address, static_cast<uint32_t>(bytes));
  ++stats_.perDevice[static_cast<int>(device)];
  bool timer = device == BusDevice::OsTimer;
  bool traced = trace_on_ && (!timer || trace_timer_);
  if (write) {
    ++stats_.writes;
    if (traced) trace_.push_back({true, static_cast<uint8_t>(bytes), address, value, clock_.NowNs(), device});
    Dispatch(device, true, bytes, address, value);
    return 0;
  }
  ++stats_.reads;
  uint32_t result = Dispatch(device, false, bytes, address, 0);
  if (traced) trace_.push_back({false, static_cast<uint8_t>(bytes), address, result, clock_.NowNs(), device});
  return result;
}

uint32_t Soc::Dispatch(BusDevice device, bool write, int bytes, uint32_t address, uint32_t value) {
  using Handler = uint32_t (Soc::*)(bool, uint32_t, uint32_t);
  Handler handler = nullptr;
  uint32_t base = 0;
  switch (device) {
    case BusDevice::Flash:
      return FlashAccess(write, bytes, address - board_.flashWindow, value);
    case BusDevice::DebugPort:
      return DebugAccess(write, value);
    case BusDevice::BoardLatch:
      if (bytes != 4) throw BusFault("board latch takes 32-bit accesses only");
      return LatchAccess(write, value);
    case BusDevice::Ram:
      ++stats_.ramAccesses;
      return RamAccess(write, bytes, *FindRam(address, bytes), address, value);
    case BusDevice::MemoryController: handler = &Soc::MemoryAccess; base = board_.memoryController; break;
    case BusDevice::Uart: handler = &Soc::UartAccess; base = board_.uart3; break;
    case BusDevice::OsTimer: handler = &Soc::TimerAccess; base = board_.osTimer; break;
    case BusDevice::InterruptController: handler = &Soc::InterruptAccess; base = board_.interruptController; break;
    case BusDevice::ResetController: handler = &Soc::ResetAccess; base = board_.resetController; break;
    case BusDevice::None:
      throw BusFault(std::string(write ? "write to " : "read from ") + Hex(address) + ": no device there");
  }
  // On-chip registers are 32 bits wide and take word accesses only.
  if (bytes != 4) throw BusFault("register at " + Hex(address) + " needs a 32-bit access");
  return (this->*handler)(write, address - base, value);
}

uint32_t Soc::FlashAccess(bool write, int bytes, uint32_t offset, uint32_t value) {
  ChipInputs in{clock_.NowNs(), Vpp()};
  if (write) {
    flash_.Write(offset, bytes, value, FlashBusWidth(), in);
    return 0;
  }
  return flash_.Read(offset, bytes, FlashBusWidth(), in);
}

uint32_t Soc::MemoryAccess(bool write, uint32_t offset, uint32_t value) {
  if (!write) return memory_.Get(offset);
  // Bank 0's bus width comes from a board pin (ROM_SEL) and reads back as
  // the board wired it, whatever software writes.
  if (offset == kMsc0Offset) value = (value & ~kMsc0Bank0Width16) | (board_.bootMsc0 & kMsc0Bank0Width16);
  memory_.registers[offset] = value;
  memory_.writes.push_back({offset, value});
  return 0;
}

uint32_t Soc::UartAccess(bool write, uint32_t offset, uint32_t value) {
  if (!write) {
    if (offset <= kUtcr3) return uart_.utcr[offset / 4];
    if (offset == kUtsr0) return uart_.utsr0;
    if (offset == kUtsr1) {
      bool busy = clock_.NowNs() < uart_.transmitBusyUntilNs;
      return kUtsr1TransmitNotFull | (busy ? kUtsr1TransmitterBusy : 0);
    }
    return 0;  // UTDR: nothing received
  }
  uart_.writes.push_back({offset, value});
  if (offset <= kUtcr3) {
    uart_.utcr[offset / 4] = value;
  } else if (offset == kUtdr && (uart_.utcr[3] & kUtcr3TransmitEnable)) {
    uart_.transmitted.push_back(static_cast<char>(value));
    uart_.transmitBusyUntilNs =
        clock_.NowNs() + kBitsPerCharacter * kNsPerSecond / uart_.BaudRate();
  } else if (offset == kUtsr0) {
    uart_.utsr0 &= ~(value & kUtsr0StickyBits);  // write 1 to clear
  }
  return 0;
}

uint32_t Soc::TimerAccess(bool write, uint32_t offset, uint32_t value) {
  if (offset == kOscrOffset) {
    if (write) {
      clock_.SetOscr(value);
      return 0;
    }
    ++stats_.timerReads;
    return clock_.Oscr();
  }
  if (write) {
    timer_.registers[offset] = value;
    return 0;
  }
  auto it = timer_.registers.find(offset);
  return it == timer_.registers.end() ? 0 : it->second;
}

uint32_t Soc::ResetAccess(bool write, uint32_t offset, uint32_t value) {
  if (!write) {
    auto it = reset_.registers.find(offset);
    return it == reset_.registers.end() ? 0 : it->second;
  }
  if (offset != kRsrrOffset) {
    reset_.registers[offset] = value;
    return 0;
  }
  if ((value & kRsrrSoftwareReset) == 0) return 0;
  ++reset_.resets;
  reset_.lastResetNs = clock_.NowNs();
  if (reset_hook_) {
    reset_hook_(*this);
  } else {
    throw DeviceReset();
  }
  return 0;
}

uint32_t Soc::InterruptAccess(bool write, uint32_t offset, uint32_t value) {
  if (!write) {
    auto it = interrupts_.registers.find(offset);
    return it == interrupts_.registers.end() ? 0 : it->second;
  }
  interrupts_.registers[offset] = value;
  interrupts_.writes.push_back({offset, value});
  return 0;
}

uint32_t Soc::LatchAccess(bool write, uint32_t value) {
  if (!write) {
    // The latch cannot be read; the bus returns nothing useful.
    ++latch_.reads;
    return 0;
  }
  latch_.value = value;
  ++latch_.writes;
  latch_.history.push_back(value);
  return 0;
}

uint32_t Soc::DebugAccess(bool write, uint32_t value) {
  if (!write) return 0;
  debug_.text.push_back(static_cast<char>(value & 0xFF));
  debug_.lastByteNs = clock_.NowNs();
  return 0;
}

uint32_t Soc::RamAccess(bool write, int bytes, RamBlock& block, uint32_t address, uint32_t value) {
  uint8_t* p = block.bytes.data() + (address - block.base);
  if (write) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
    return 0;
  }
  uint32_t result = 0;
  for (int i = 0; i < bytes; ++i) result |= static_cast<uint32_t>(p[i]) << (8 * i);
  return result;
}

Soc::RamBlock* Soc::FindRam(uint32_t address, uint32_t bytes) {
  for (RamBlock& block : ram_) {
    uint32_t size = static_cast<uint32_t>(block.bytes.size());
    if (Inside(address, block.base, size) && address - block.base + bytes <= size) return &block;
  }
  return nullptr;
}

std::vector<Soc::RamView> Soc::RamRegions() {
  std::vector<RamView> views;
  for (RamBlock& block : ram_)
    views.push_back({block.base, static_cast<uint32_t>(block.bytes.size()), block.bytes.data()});
  return views;
}

void* Soc::RamPointer(uint32_t address) {
  RamBlock* block = FindRam(address, 1);
  return block ? block->bytes.data() + (address - block->base) : nullptr;
}

uint32_t Soc::LatchShadow() {
  RamBlock* block = FindRam(board_.latchShadow, 4);
  if (!block) throw BusFault("no RAM at the latch shadow");
  return RamAccess(false, 4, *block, board_.latchShadow, 0);
}

std::vector<std::string> Soc::Violations() const {
  std::vector<std::string> found;
  for (int i = 0; i < flash_.ChipCount(); ++i) {
    const ChipCounters& c = flash_.Chip(i).Counters();
    const std::string chip = "flash chip " + std::to_string(i) + ": ";
    if (c.aborts) found.push_back(chip + std::to_string(c.aborts) + " command sequences aborted");
    if (c.ignoredWhileBusy) found.push_back(chip + std::to_string(c.ignoredWhileBusy) + " writes ignored while busy");
  }
  if (flash_.BusCounters().partialWrites)
    found.push_back("flash: " + std::to_string(flash_.BusCounters().partialWrites) +
                    " writes narrower than a chip word");
  return found;
}

void Soc::EnableTrace(bool on, bool includeTimerReads) {
  trace_on_ = on;
  trace_timer_ = includeTimerReads;
}

Soc* CurrentSoc() { return current_soc; }

ScopedBus::ScopedBus(Soc& soc) : previous_(current_soc) { current_soc = &soc; }

ScopedBus::~ScopedBus() { current_soc = previous_; }

}  // namespace soc
