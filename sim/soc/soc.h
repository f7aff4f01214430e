// Simulated SA-1110 of the Lumo handheld, as the agent's bus sees it.
//
// API in short:
//   soc::Soc soc(soc::Board5800());          // or Board5300(), or an own Board
//   soc::ScopedBus use(soc);                 // devbus::* now land on `soc`
//   ... run agent code ...
//   soc.Flash().Contents();                  // the flat flash image (bus order)
//   soc.DebugText();                         // text sent to the debug port
//
// - Bus: Read8/16/32, Write8/16/32 at kernel virtual addresses of the board
//   table, and RamPointer for RAM. Every access advances simulated time by
//   Clock().AccessNs() and is counted in Stats(). An access to an address no
//   device answers throws soc::BusFault (RamPointer returns nullptr instead).
// - Flash: FlashBank behind the flash window; bus width from MSC0 bit 2,
//   which the board sets (bootMsc0) and software cannot change;
//   VPEN from board latch bit 0 (erase and program fail with SR.3 without it).
// - OS timer: OSCR counts at 3,686,400 Hz of simulated time; SetOscr() starts
//   it anywhere, e.g. just below the 32-bit wrap.
// - Reset: a write with bit 0 set to the software reset register counts a
//   reset and calls the reset hook. The default hook throws soc::DeviceReset,
//   so agent code "never returns" and the caller catches the exception.
//   Registers and flash keep their state at the moment of the reset;
//   RestartAfterReset() brings the processor and chips back to boot state.
// - Trace: EnableTrace() records accesses (timer reads only on request).
// - Devices are plain structs reachable by accessors; tests may preset them.
//
// Not thread-safe: one thread drives one Soc at a time. ScopedBus is per
// thread.
#pragma once
#include <stdint.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/soc/board.h"
#include "sim/soc/flash_bank.h"
#include "sim/soc/peripherals.h"
#include "sim/soc/sim_clock.h"

namespace soc {

// Thrown by the default reset hook: the handheld has restarted.
struct DeviceReset : std::runtime_error {
  DeviceReset() : std::runtime_error("handheld reset") {}
};

// Thrown on an access no device answers, or a bus use without a Soc.
struct BusFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The devices on the bus, for counts and traces.
enum class BusDevice {
  Flash,
  MemoryController,
  Uart,
  OsTimer,
  InterruptController,
  ResetController,
  BoardLatch,
  DebugPort,
  Ram,
  None,  // no device answers
};
inline constexpr int kBusDeviceCount = static_cast<int>(BusDevice::None) + 1;
// Short names as the status shows them: "flash", "memory", "uart", ...
const char* BusDeviceName(BusDevice device);

struct BusStats {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t timerReads = 0;
  uint64_t ramAccesses = 0;  // bus reads and writes of RAM (not via pointers)
  uint64_t perDevice[kBusDeviceCount] = {};  // reads and writes by device
};

struct BusEvent {
  bool write;
  uint8_t bytes;  // 1, 2 or 4
  uint32_t address;
  uint32_t value;
  uint64_t timeNs;
  BusDevice device;
};

class Soc {
 public:
  explicit Soc(const Board& board = Board5800());
  Soc(const Soc&) = delete;
  Soc& operator=(const Soc&) = delete;

  // The bus.
  uint8_t Read8(uint32_t address) { return static_cast<uint8_t>(Access(false, 1, address, 0)); }
  uint16_t Read16(uint32_t address) { return static_cast<uint16_t>(Access(false, 2, address, 0)); }
  uint32_t Read32(uint32_t address) { return Access(false, 4, address, 0); }
  void Write8(uint32_t address, uint8_t value) { Access(true, 1, address, value); }
  void Write16(uint32_t address, uint16_t value) { Access(true, 2, address, value); }
  void Write32(uint32_t address, uint32_t value) { Access(true, 4, address, value); }
  // Host pointer to a RAM address, or nullptr when no RAM is there. The
  // pointer stays valid to the end of the RAM region.
  void* RamPointer(uint32_t address);
  // The RAM regions with their host memory (an emulated core maps them).
  struct RamView {
    uint32_t base;
    uint32_t bytes;
    uint8_t* data;
  };
  std::vector<RamView> RamRegions();
  // The device that answers at `address` (BusDevice::None when nothing does).
  BusDevice DeviceAt(uint32_t address, uint32_t bytes = 1);

  const Board& BoardTable() const { return board_; }
  SimClock& Clock() { return clock_; }
  FlashBank& Flash() { return flash_; }
  const FlashBank& Flash() const { return flash_; }
  MemoryController& Memory() { return memory_; }
  Uart3& Uart() { return uart_; }
  ResetController& Reset() { return reset_; }
  InterruptController& Interrupts() { return interrupts_; }
  BoardLatch& Latch() { return latch_; }
  DebugPort& Debug() { return debug_; }
  const BusStats& Stats() const { return stats_; }

  // Shorthands.
  uint32_t Msc0() const { return memory_.Get(kMsc0Offset); }
  uint32_t Msc1() const { return memory_.Get(kMsc1Offset); }
  uint32_t LatchShadow();  // the RAM word at the board's shadow address
  const std::string& DebugText() const { return debug_.text; }
  int ResetCount() const { return reset_.resets; }
  bool Vpp() const { return (latch_.value & kLatchFlashProgramEnable) != 0; }
  int FlashBusWidth() const { return (Msc0() & kMsc0Bank0Width16) ? 16 : 32; }

  void SetResetHook(std::function<void(Soc&)> hook) { reset_hook_ = std::move(hook); }
  const std::function<void(Soc&)>& ResetHook() const { return reset_hook_; }
  // Boot state again: memory controller, latch (and its shadow), UART and
  // timer registers to the board's values, chips to read-array. Flash
  // contents, lock bits, RAM and simulated time stay.
  void RestartAfterReset();

  // What a correct agent never causes: flash command sequences the chips
  // aborted, writes they ignored while busy, writes narrower than a chip
  // word. Empty after a clean run.
  std::vector<std::string> Violations() const;

  void EnableTrace(bool on, bool includeTimerReads = false);
  const std::vector<BusEvent>& Trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }

 private:
  struct RamBlock {
    uint32_t base;
    std::vector<uint8_t> bytes;
  };

  uint32_t Access(bool write, int bytes, uint32_t address, uint32_t value);
  uint32_t Dispatch(BusDevice device, bool write, int bytes, uint32_t address, uint32_t value);
  uint32_t FlashAccess(bool write, int bytes, uint32_t offset, uint32_t value);
  uint32_t MemoryAccess(bool write, uint32_t offset, uint32_t value);
  uint32_t UartAccess(bool write, uint32_t offset, uint32_t value);
  uint32_t TimerAccess(bool write, uint32_t offset, uint32_t value);
  uint32_t ResetAccess(bool write, uint32_t offset, uint32_t value);
  uint32_t InterruptAccess(bool write, uint32_t offset, uint32_t value);
  uint32_t LatchAccess(bool write, uint32_t value);
  uint32_t DebugAccess(bool write, uint32_t value);
  uint32_t RamAccess(bool write, int bytes, RamBlock& block, uint32_t address, uint32_t value);
  RamBlock* FindRam(uint32_t address, uint32_t bytes);
  void LoadBootState();

  Board board_;
  SimClock clock_;
  FlashBank flash_;
  MemoryController memory_;
  Uart3 uart_;
  OsTimerRegisters timer_;
  ResetController reset_;
  InterruptController interrupts_;
  BoardLatch latch_;
  DebugPort debug_;
  std::vector<RamBlock> ram_;
  BusStats stats_;
  std::function<void(Soc&)> reset_hook_;
  bool trace_on_ = false;
  bool trace_timer_ = false;
  std::vector<BusEvent> trace_;
};

// The Soc that devbus::* use on this thread, or nullptr.
Soc* CurrentSoc();

// Makes `soc` the current Soc of this thread for its lifetime (nests).
class ScopedBus {
 public:
  explicit ScopedBus(Soc& soc);
  ~ScopedBus();
  ScopedBus(const ScopedBus&) = delete;
  ScopedBus& operator=(const ScopedBus&) = delete;

 private:
  Soc* previous_;
};

}  // namespace soc
