// The flash on static memory bank 0: one x16 chip on data lines D0-D15, or two
// x16 chips side by side on D0-D31 (the first chip owns the low half-word of
// every bus word, the second the high half-word).
//
// The bank holds the whole flash as one flat byte image in bus order, exactly
// what a file of the flash looks like (byte 0 is flash offset 0, little-endian
// as the processor stores it). The chips' words are interleaved in it.
//
// Bus cycles follow the memory controller's bus-width bit for bank 0, and the
// board's wiring decides what each chip sees:
// - one chip: chip word = bus address / 2; on a 32-bit bus the upper lanes
//   are not connected (reads give 0xFFFF there);
// - two chips: chip word = bus address / 4; on a 16-bit bus only the first
//   chip is on the data lines, so every cycle reaches it alone.
// A 32-bit access on a 16-bit bus is two cycles, low half first.
#pragma once
#include <stdint.h>

#include <span>
#include <vector>

#include "sim/soc/intel_chip.h"

namespace soc {

// Chip size and erase-block size.
struct ChipGeometry {
  uint32_t chipBytes;
  uint32_t blockBytes;
};

// Geometry of a device code as the handheld's boards use it. Codes the board
// does not know get the 16 MiB / 128 KiB default, so a chip with a foreign
// code can still be simulated (the agent must reject it).
ChipGeometry GeometryForDevice(uint16_t deviceCode);

// A bit in the flat image (bus order) that does not program to 0.
struct StuckBit {
  uint32_t busOffset;
  uint8_t mask;
  bool silent = false;  // chip reports success although the bit stayed 1
};

struct FlashConfig {
  uint16_t manufacturer = kIntelManufacturer;
  uint16_t deviceCode = 0x18;
  int chips = 2;            // 1 or 2
  uint32_t chipBytes = 0;   // 0: from the device code
  uint32_t blockBytes = 0;  // 0: from the device code
  FlashTimings timings;
  // Erases of the block holding one of these bus offsets never finish (on
  // the chip that holds the offset).
  std::vector<uint32_t> neverFinishingEraseAt;
  std::vector<StuckBit> stuckBits;
};

// Counts of bus cycles that reach the flash.
struct FlashBusCounters {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t partialWrites = 0;  // writes narrower than a chip word
};

class FlashBank {
 public:
  explicit FlashBank(const FlashConfig& config);
  FlashBank(const FlashBank&) = delete;
  FlashBank& operator=(const FlashBank&) = delete;

  // Size of the flash window in bytes (chip size times chip count).
  uint32_t SizeBytes() const { return static_cast<uint32_t>(image_.size()); }
  int ChipCount() const { return static_cast<int>(chips_.size()); }
  uint32_t BlockBytes() const { return geometry_.blockBytes; }
  // Erase granularity as the bus sees it: block size times chip count.
  uint32_t UnitBlockBytes() const { return geometry_.blockBytes * ChipCount(); }

  // The flat image. Load copies `bytes` in from offset 0; a shorter input
  // leaves the rest erased (0xFF), a longer one is refused
  // (std::invalid_argument).
  const std::vector<uint8_t>& Contents() const { return image_; }
  std::span<uint8_t> Bytes() { return image_; }
  void Load(std::span<const uint8_t> bytes);

  // One processor access of `size` bytes (1, 2 or 4) at a flash offset, with
  // the bus width (16 or 32) that the memory controller sets for bank 0.
  uint32_t Read(uint32_t offset, int size, int busWidth, const ChipInputs& in);
  void Write(uint32_t offset, int size, uint32_t value, int busWidth, const ChipInputs& in);

  // Lock bits, by any bus offset inside the unit block (all chips).
  void SetUnitBlockLocked(uint32_t busOffset, bool locked);
  bool UnitBlockLocked(uint32_t busOffset) const;  // true if any chip's block is locked

  // Reset pulse on the chips' RP# pins.
  void ResetChips();

  const IntelChip& Chip(int index) const { return chips_.at(index); }
  IntelChip& Chip(int index) { return chips_.at(index); }
  const FlashBusCounters& BusCounters() const { return counters_; }

 private:
  void BusCycleWrite(uint32_t cycleAddress, uint32_t data, uint32_t laneMask, int busWidth,
                     const ChipInputs& in);
  uint32_t BusCycleRead(uint32_t cycleAddress, int busWidth, const ChipInputs& in);
  // Which chip holds a bus byte offset, and its word there.
  int ChipAt(uint32_t busOffset) const;
  uint32_t ChipWordAt(uint32_t busOffset) const;
  void ApplyFaults(const FlashConfig& config);

  ChipGeometry geometry_;
  std::vector<uint8_t> image_;
  std::vector<IntelChip> chips_;
  FlashBusCounters counters_;
};

}  // namespace soc
