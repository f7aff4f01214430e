// The board table: where the handheld's devices sit in the kernel's virtual
// address space, what RAM there is, how the flash is built and what the
// registers hold after boot. The defaults are the Lumo handhelds' own
// addresses; another board gives its own table.
#pragma once
#include <stdint.h>

#include <array>
#include <string>
#include <vector>

#include "sim/soc/flash_bank.h"

namespace soc {

// Number of 32-bit words in the HAL information record.
inline constexpr int kHalInfoWords = 21;
// Word of the HAL information record that holds the loader buffer's RAM
// address on model 5300.
inline constexpr int kHalLoaderBufferWord = 3;

// Memory-controller register offsets.
inline constexpr uint32_t kMsc0Offset = 0x10;
inline constexpr uint32_t kMsc1Offset = 0x14;
// MSC0 bit of bank 0's bus width: set = 16 bits, clear = 32 bits.
inline constexpr uint32_t kMsc0Bank0Width16 = 1u << 2;
inline constexpr uint32_t kMsc0Bank1Width16 = 1u << 18;

// Board latch bits.
inline constexpr uint32_t kLatchFlashProgramEnable = 0x01;  // drives the flash VPEN
inline constexpr uint32_t kLatchSerialEnable = 0x80;

struct RamRegion {
  uint32_t base;
  uint32_t bytes;
};

// The SA-1110's static memory bank 0, where the flash answers: 128 MB.
inline constexpr uint32_t kFlashWindowBytes = 0x08000000;

struct Board {
  // Device addresses. The flash answers in flashWindow .. + flashWindowBytes,
  // the other devices in their register blocks; no two windows overlap
  // (BoardProblem).
  uint32_t flashWindow = 0xA0000000;
  uint32_t flashWindowBytes = kFlashWindowBytes;
  uint32_t resetController = 0xA9030000;
  uint32_t memoryController = 0xAA000000;
  uint32_t uart3 = 0xA8050000;
  uint32_t osTimer = 0xA9000000;
  uint32_t interruptController = 0xA9050000;
  uint32_t boardLatch = 0xA8700000;
  uint32_t latchShadow = 0x8C0202F8;
  uint32_t debugPort = 0xA8800FE0;
  // RAM the agent may use: at least the latch shadow's page and the loader
  // buffer (LoaderBufferAddress() of this board).
  std::vector<RamRegion> ram;
  // What the handheld's HAL hands out as its information record.
  std::array<uint32_t, kHalInfoWords> halInfo{};
  // Register values after boot.
  uint32_t bootMsc0 = 0;
  uint32_t bootMsc1 = 0;
  uint32_t bootLatch = 0;
  FlashConfig flash;
};

// Model 5800: two interleaved 128-Mbit chips (device 0x18) on a 32-bit bus,
// loader buffer at 0xAC080000.
Board Board5800();
// Model 5300: one 128-Mbit chip on a 16-bit bus; the loader buffer's address
// comes from word 3 of the HAL information record.
Board Board5300();

// Loader buffer address on a model: 0xAC080000 on the 5800, HAL word 3 with
// 0xA0000000 ORed in on the 5300.
uint32_t LoaderBufferAddress5800();
uint32_t LoaderBufferAddress5300(const Board& board);

// One device's address window on a board.
struct DeviceWindowRange {
  const char* device;
  uint32_t base;
  uint32_t bytes;
};

// Address space each on-chip register block answers in.
inline constexpr uint32_t kRegisterBlockBytes = 0x100;
// The latch and the debug port are single registers.
inline constexpr uint32_t kSingleRegisterBytes = 4;

// The board's device windows: the flash window (flashWindowBytes) first.
std::vector<DeviceWindowRange> DeviceWindows(const Board& board);

// Why a flash of `flashBytes` cannot sit on `board` (empty when it can): a
// flash larger than its window, or two device windows that overlap.
std::string BoardProblem(const Board& board, uint64_t flashBytes);

// Bytes of RAM the boards give the loader buffer (the agent clears 128 KiB).
inline constexpr uint32_t kLoaderBufferBytes = 0x20000;

}  // namespace soc
