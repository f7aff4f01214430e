// The small on-chip and board registers the agent touches: memory
// controller, UART 3, OS timer registers other than OSCR, reset controller,
// board latch and debug port. Each keeps what is written and answers reads
// the way the agent's code needs to go on.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace soc {

// A write to a register block, kept in order for tests.
struct RegisterWrite {
  uint32_t offset;
  uint32_t value;
};

// Static memory control registers and the rest of the memory controller's
// block, stored as written.
struct MemoryController {
  std::map<uint32_t, uint32_t> registers;  // by offset
  std::vector<RegisterWrite> writes;
  uint32_t Get(uint32_t offset) const;
};

// UART 3 register offsets and status bits.
inline constexpr uint32_t kUtcr0 = 0x00;
inline constexpr uint32_t kUtcr1 = 0x04;
inline constexpr uint32_t kUtcr2 = 0x08;
inline constexpr uint32_t kUtcr3 = 0x0C;
inline constexpr uint32_t kUtdr = 0x14;
inline constexpr uint32_t kUtsr0 = 0x1C;
inline constexpr uint32_t kUtsr1 = 0x20;
inline constexpr uint32_t kUtsr1TransmitterBusy = 0x01;   // TBY
inline constexpr uint32_t kUtsr1ReceiveNotEmpty = 0x02;   // RNE
inline constexpr uint32_t kUtsr1TransmitNotFull = 0x04;   // TNF
inline constexpr uint32_t kUtsr0StickyBits = 0x1C;        // RID, RBB, REB: write 1 to clear
inline constexpr uint32_t kUtcr3TransmitEnable = 0x02;

struct Uart3 {
  uint32_t utcr[4] = {0, 0, 0, 0};
  uint32_t utsr0 = 0;                // sticky receiver bits
  uint64_t transmitBusyUntilNs = 0;  // TBY reads 1 until then
  std::string transmitted;           // bytes written to UTDR while TXE was on
  std::vector<RegisterWrite> writes;
  // Baud rate from UTCR1/UTCR2 (3.6864 MHz / (16 * (divisor + 1))).
  uint32_t BaudRate() const;
};

// OS timer registers other than OSCR (match registers, status, enables).
inline constexpr uint32_t kOscrOffset = 0x10;
struct OsTimerRegisters {
  std::map<uint32_t, uint32_t> registers;
};

// Reset controller: a write with bit 0 set to the software reset register.
inline constexpr uint32_t kRsrrOffset = 0x00;
inline constexpr uint32_t kRsrrSoftwareReset = 0x01;
struct ResetController {
  int resets = 0;              // software resets requested
  uint64_t lastResetNs = 0;    // simulated time of the last one
  std::map<uint32_t, uint32_t> registers;
};

// Interrupt controller: the HAL masks every source (ICMR = 0) when it stops
// interrupt handling for the agent.
inline constexpr uint32_t kIcmrOffset = 0x04;
struct InterruptController {
  std::map<uint32_t, uint32_t> registers;  // by offset
  std::vector<RegisterWrite> writes;
};

// The write-only board latch. Reads are counted because the agent must
// never rely on them (the value read is not the latch).
struct BoardLatch {
  uint32_t value = 0;
  uint32_t writes = 0;
  uint32_t reads = 0;
  std::vector<uint32_t> history;  // every value written, in order
};

// Byte register that takes the debug text.
struct DebugPort {
  std::string text;
  uint64_t lastByteNs = 0;
};

}  // namespace soc
