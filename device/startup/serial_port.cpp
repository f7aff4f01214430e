#include "startup/serial_port.h"

#include <stdint.h>

#include "platform/bus.h"
#include "startup/agent_state.h"
#include "startup/board_latch.h"
#include "startup/os_timer.h"

namespace {

constexpr uint32_t kUTSR1TransmitterBusy = 0x01;
constexpr uint32_t kUTCR0EightBitsNoParityOneStop = 8;
constexpr uint32_t kBaudDivisorHigh = 0;  // UTCR1
constexpr uint32_t kBaudDivisorLow = 1;   // UTCR2: 3.6864 MHz / (16 x 2) = 115200
constexpr uint32_t kUTSR0ClearIdleAndBreak = 0x1C;
constexpr uint32_t kUTCR3Off = 0;
constexpr uint32_t kUTCR3ReceiveTransmit = 3;
// A transmitter still busy after this long is stuck; the port is reprogrammed
// anyway rather than hanging the takeover (a character in flight is lost).
constexpr uint32_t kTransmitDrainLimitTicks = 100 * kTicksPerMillisecond;

void WriteUart(uint32_t offset, uint32_t value) {
  devbus::Write32(Agent.hardwareMap.serialPort + offset, value);
}

void WaitTransmitterIdle() {
  const uint32_t start = ReadOsTimer();
  while ((devbus::Read32(Agent.hardwareMap.serialPort + reg::kUTSR1) &
          kUTSR1TransmitterBusy) != 0) {
    if (TicksElapsed(start, kTransmitDrainLimitTicks)) return;
  }
}

}  // namespace

void SetupSerialPort() {
  ClearBoardLatchBits(kLatchSerialGate);
  WaitTransmitterIdle();
  WriteUart(reg::kUTCR3, kUTCR3Off);
  WriteUart(reg::kUTCR0, kUTCR0EightBitsNoParityOneStop);
  WriteUart(reg::kUTCR1, kBaudDivisorHigh);
  WriteUart(reg::kUTCR2, kBaudDivisorLow);
  WriteUart(reg::kUTSR0, kUTSR0ClearIdleAndBreak);
  WriteUart(reg::kUTCR3, kUTCR3ReceiveTransmit);
  SetBoardLatchBits(kLatchSerialGate);
}
