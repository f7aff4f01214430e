#include "sim/soc/flash_bank.h"

#include <algorithm>
#include <stdexcept>

namespace soc {

namespace {

constexpr uint32_t kMiB = 0x100000;
constexpr uint32_t kKiB = 0x400;
constexpr uint8_t kErasedByte = 0xFF;
// Lanes of a chip word inside a bus cycle's byte-enable mask.
constexpr uint32_t kChipLanes = 0x3;
constexpr int kChipWordBits = 16;
constexpr uint32_t kChipWordMask = 0xFFFF;
// Upper data lines with no chip behind them read high.
constexpr uint32_t kFloatingUpperLanes = 0xFFFF0000;

// A chip word from the driven byte lanes; lanes nobody drives read as 1s, so
// they leave programmed bits alone.
uint16_t ChipValue(uint32_t data16, uint32_t lanes) {
  uint16_t value = 0xFFFF;
  if (lanes & 0x1) value = static_cast<uint16_t>((value & 0xFF00) | (data16 & 0x00FF));
  if (lanes & 0x2) value = static_cast<uint16_t>((value & 0x00FF) | (data16 & 0xFF00));
  return value;
}

uint32_t SizeMask(int size) { return size == 4 ? 0xFFFFFFFFu : ((1u << (8 * size)) - 1u); }

}  // namespace

ChipGeometry GeometryForDevice(uint16_t deviceCode) {
  switch (deviceCode) {
    case 0x16: return {4 * kMiB, 32 * kKiB};
    case 0x17: return {8 * kMiB, 128 * kKiB};
    case 0x18: return {16 * kMiB, 128 * kKiB};
    default: return {16 * kMiB, 128 * kKiB};  // 0x15 and foreign codes
  }
}

FlashBank::FlashBank(const FlashConfig& config) : geometry_(GeometryForDevice(config.deviceCode)) {
  if (config.chipBytes != 0) geometry_.chipBytes = config.chipBytes;
  if (config.blockBytes != 0) geometry_.blockBytes = config.blockBytes;
  if (config.chips != 1 && config.chips != 2) throw std::invalid_argument("flash: 1 or 2 chips");
  if (geometry_.blockBytes == 0 || geometry_.chipBytes % geometry_.blockBytes != 0) {
    throw std::invalid_argument("flash: chip size must be whole blocks");
  }
  image_.assign(static_cast<size_t>(geometry_.chipBytes) * config.chips, kErasedByte);
  chips_.reserve(config.chips);  // the chips keep pointers into image_; no reallocation
  for (int i = 0; i < config.chips; ++i) {
    chips_.emplace_back(config.deviceCode, geometry_.chipBytes, geometry_.blockBytes,
                        config.manufacturer);
    chips_.back().Attach(image_.data() + 2 * i, 2 * config.chips);
    chips_.back().SetTimings(config.timings);
  }
  ApplyFaults(config);
}

void FlashBank::ApplyFaults(const FlashConfig& config) {
  for (uint32_t offset : config.neverFinishingEraseAt) {
    IntelChip& chip = chips_.at(ChipAt(offset));
    chip.AddStuckEraseBlock(chip.BlockOf(ChipWordAt(offset)));
  }
  for (const StuckBit& bit : config.stuckBits) {
    uint16_t mask = static_cast<uint16_t>((bit.busOffset & 1) ? bit.mask << 8 : bit.mask);
    chips_.at(ChipAt(bit.busOffset)).AddStuckBit({ChipWordAt(bit.busOffset), mask, bit.silent});
  }
}

int FlashBank::ChipAt(uint32_t busOffset) const {
  return ChipCount() == 1 ? 0 : static_cast<int>((busOffset >> 1) & 1);
}

uint32_t FlashBank::ChipWordAt(uint32_t busOffset) const {
  return ChipCount() == 1 ? busOffset >> 1 : busOffset >> 2;
}

void FlashBank::Load(std::span<const uint8_t> bytes) {
  if (bytes.size() > image_.size()) throw std::invalid_argument("flash image larger than the flash");
  std::copy(bytes.begin(), bytes.end(), image_.begin());
  std::fill(image_.begin() + static_cast<std::ptrdiff_t>(bytes.size()), image_.end(), kErasedByte);
}

uint32_t FlashBank::Read(uint32_t offset, int size, int busWidth, const ChipInputs& in) {
  int cycleBytes = busWidth / 8;
  if (size > cycleBytes) {
    // A 32-bit access on a 16-bit bus: two cycles, low half first.
    uint32_t low = BusCycleRead(offset, busWidth, in) & kChipWordMask;
    uint32_t high = BusCycleRead(offset + 2, busWidth, in) & kChipWordMask;
    return low | (high << kChipWordBits);
  }
  uint32_t aligned = offset & ~static_cast<uint32_t>(cycleBytes - 1);
  uint32_t data = BusCycleRead(aligned, busWidth, in);
  return (data >> (8 * (offset - aligned))) & SizeMask(size);
}

void FlashBank::Write(uint32_t offset, int size, uint32_t value, int busWidth,
                      const ChipInputs& in) {
  int cycleBytes = busWidth / 8;
  if (size > cycleBytes) {
    BusCycleWrite(offset, value & kChipWordMask, kChipLanes, busWidth, in);
    BusCycleWrite(offset + 2, value >> kChipWordBits, kChipLanes, busWidth, in);
    return;
  }
  uint32_t aligned = offset & ~static_cast<uint32_t>(cycleBytes - 1);
  uint32_t shift = offset - aligned;
  uint32_t lanes = ((1u << size) - 1u) << shift;
  BusCycleWrite(aligned, (value & SizeMask(size)) << (8 * shift), lanes, busWidth, in);
}

uint32_t FlashBank::BusCycleRead(uint32_t cycleAddress, int busWidth, const ChipInputs& in) {
  ++counters_.reads;
  if (ChipCount() == 1) {
    uint32_t value = chips_[0].Read(cycleAddress >> 1, in);
    return busWidth == 16 ? value : (value | kFloatingUpperLanes);
  }
  uint32_t word = cycleAddress >> 2;
  uint32_t low = chips_[0].Read(word, in);
  if (busWidth == 16) return low;  // only D0-D15 are sampled
  return low | (static_cast<uint32_t>(chips_[1].Read(word, in)) << kChipWordBits);
}

void FlashBank::BusCycleWrite(uint32_t cycleAddress, uint32_t data, uint32_t laneMask,
                              int busWidth, const ChipInputs& in) {
  ++counters_.writes;
  auto deliver = [&](IntelChip& chip, uint32_t word, uint32_t data16, uint32_t lanes) {
    if (lanes == 0) return;
    if (lanes != kChipLanes) ++counters_.partialWrites;
    chip.Write(word, ChipValue(data16, lanes), in);
  };
  if (ChipCount() == 1) {
    // Upper lanes of a 32-bit cycle have no chip behind them.
    deliver(chips_[0], cycleAddress >> 1, data & kChipWordMask, laneMask & kChipLanes);
    return;
  }
  uint32_t word = cycleAddress >> 2;
  deliver(chips_[0], word, data & kChipWordMask, laneMask & kChipLanes);
  if (busWidth == 32) {
    deliver(chips_[1], word, data >> kChipWordBits, (laneMask >> 2) & kChipLanes);
  }
}

void FlashBank::SetUnitBlockLocked(uint32_t busOffset, bool locked) {
  for (IntelChip& chip : chips_) chip.SetBlockLocked(chip.BlockOf(ChipWordAt(busOffset)), locked);
}

bool FlashBank::UnitBlockLocked(uint32_t busOffset) const {
  for (const IntelChip& chip : chips_) {
    if (chip.BlockLocked(chip.BlockOf(ChipWordAt(busOffset)))) return true;
  }
  return false;
}

void FlashBank::ResetChips() {
  for (IntelChip& chip : chips_) chip.Reset();
}

}  // namespace soc
