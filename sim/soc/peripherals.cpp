#include "sim/soc/peripherals.h"

#include "sim/soc/sim_clock.h"

namespace soc {

namespace {
// UART clock divided by 16 per bit; divisor field = UTCR1[3:0]:UTCR2[7:0].
constexpr uint32_t kUartSamplesPerBit = 16;
constexpr uint32_t kBaudDivisorHighMask = 0x0F;
constexpr uint32_t kBaudDivisorLowMask = 0xFF;
}  // namespace

uint32_t MemoryController::Get(uint32_t offset) const {
  auto it = registers.find(offset);
  return it == registers.end() ? 0 : it->second;
}

uint32_t Uart3::BaudRate() const {
  uint32_t divisor = ((utcr[1] & kBaudDivisorHighMask) << 8) | (utcr[2] & kBaudDivisorLowMask);
  return static_cast<uint32_t>(kOsTimerHz / (kUartSamplesPerBit * (divisor + 1)));
}

}  // namespace soc
