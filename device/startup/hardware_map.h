// The handheld's fixed kernel virtual addresses and the register offsets the
// agent uses. The table is filled at run time, so another board gives its own.
#pragma once
#include <stdint.h>

struct HardwareMap {
  uint32_t flashWindow;        // flash offset 0 (static bank 0)
  uint32_t resetController;    // software reset register at offset 0
  uint32_t memoryController;   // MSC0, MSC1
  uint32_t serialPort;         // on-chip UART 3
  uint32_t osTimer;            // OSCR
  uint32_t boardLatch;         // write-only board control register
  uint32_t boardLatchShadow;   // RAM copy of the latch value
  uint32_t debugPort;          // byte register taking the debug text
  uint32_t loaderBuffer;       // RAM receiving the loader file
};

// Addresses of the Lumo Pocket PC.
namespace lumo {
constexpr uint32_t kFlashWindow = 0xA0000000;
constexpr uint32_t kResetController = 0xA9030000;
constexpr uint32_t kMemoryController = 0xAA000000;
constexpr uint32_t kSerialPort = 0xA8050000;
constexpr uint32_t kOsTimer = 0xA9000000;
constexpr uint32_t kBoardLatch = 0xA8700000;
constexpr uint32_t kBoardLatchShadow = 0x8C0202F8;
constexpr uint32_t kDebugPort = 0xA8800FE0;
constexpr uint32_t kLoaderBuffer5800 = 0xAC080000;
// Model 5300 takes its loader buffer from the HAL record, as a kernel
// virtual address with this base ORed in.
constexpr uint32_t kUncachedBase = 0xA0000000;
}  // namespace lumo

// Register offsets inside the blocks above.
namespace reg {
constexpr uint32_t kSoftwareReset = 0x00;  // reset controller
constexpr uint32_t kMSC0 = 0x10;           // memory controller
constexpr uint32_t kMSC1 = 0x14;
constexpr uint32_t kUTCR0 = 0x00;          // UART 3
constexpr uint32_t kUTCR1 = 0x04;
constexpr uint32_t kUTCR2 = 0x08;
constexpr uint32_t kUTCR3 = 0x0C;
constexpr uint32_t kUTDR = 0x14;
constexpr uint32_t kUTSR0 = 0x1C;
constexpr uint32_t kUTSR1 = 0x20;
constexpr uint32_t kOSCR = 0x10;           // OS timer
}  // namespace reg

// The OS timer runs at 3,686,400 Hz.
constexpr uint32_t kOsTimerHz = 3686400;
constexpr uint32_t kTicksPerMillisecond = kOsTimerHz / 1000;  // 3686

// ModelCode values; they also go into the LoaderRecord.
constexpr int32_t kModelNone = 0;
constexpr int32_t kModel5800 = 16;
constexpr int32_t kModel5300 = 32;

// Fills the map for the given model. The 5300's loader buffer is the HAL
// record's word 3 with kUncachedBase ORed in. Returns false when the model is
// unknown (the "PhysicalToVirtual" step fails); the register addresses are
// filled all the same, the loader buffer is left 0.
bool FillHardwareMap(HardwareMap& map, int32_t modelCode, uint32_t halWord3);
