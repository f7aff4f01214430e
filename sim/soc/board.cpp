#include "sim/soc/board.h"

#include <algorithm>
#include <cstdio>

namespace soc {

namespace {

// Fields of one bank's half of an MSC register.
struct MscBank {
  uint32_t romType;          // RT, bits 0-1 (1 = burst-of-4 ROM)
  bool width16;              // RBW, bit 2
  uint32_t firstAccessDelay; // RDF, bits 3-7
  uint32_t nextAccessDelay;  // RDN, bits 8-12
  uint32_t recovery;         // RRR, bits 13-15
};

uint32_t MscHalf(const MscBank& b) {
  return b.romType | (b.width16 ? 1u << 2 : 0u) | (b.firstAccessDelay << 3) |
         (b.nextAccessDelay << 8) | (b.recovery << 13);
}

uint32_t Msc(const MscBank& low, const MscBank& high) { return MscHalf(low) | (MscHalf(high) << 16); }

// What the boot code leaves in the static memory registers: burst ROM type
// and middling timings, so that the agent's edits show in tests.
constexpr uint32_t kBootRomType = 1;
constexpr uint32_t kBootFirstAccess = 12;
constexpr uint32_t kBootNextAccess = 12;
constexpr uint32_t kBootRecovery = 2;

MscBank BootBank(bool width16) {
  return {kBootRomType, width16, kBootFirstAccess, kBootNextAccess, kBootRecovery};
}

// A board latch bit the agent does not own; it must survive every change.
constexpr uint32_t kLatchOtherBoardBit = 0x04;
// The latch shadow lives in this RAM page of the platform.
constexpr uint32_t kShadowPageMask = 0xFFFFF000;
constexpr uint32_t kShadowPageBytes = 0x1000;
// Kernel address of RAM: physical address with this ORed in.
constexpr uint32_t kCachedRamBase = 0xA0000000;
constexpr uint32_t kLoaderBuffer5800 = 0xAC080000;
// Physical RAM address the 5300's HAL reports for the loader buffer.
constexpr uint32_t kHal5300LoaderPhysical = 0x0C0C0000;
constexpr uint32_t kHal5800LoaderPhysical = 0x0C080000;

Board CommonBoard() {
  Board b;
  b.bootLatch = kLatchSerialEnable | kLatchOtherBoardBit;
  b.ram.push_back({b.latchShadow & kShadowPageMask, kShadowPageBytes});
  return b;
}

}  // namespace

uint32_t LoaderBufferAddress5800() { return kLoaderBuffer5800; }

uint32_t LoaderBufferAddress5300(const Board& board) {
  return board.halInfo[kHalLoaderBufferWord] | kCachedRamBase;
}

Board Board5800() {
  Board b = CommonBoard();
  b.flash.chips = 2;
  b.flash.deviceCode = 0x18;
  b.bootMsc0 = Msc(BootBank(false), BootBank(false));
  b.bootMsc1 = Msc(BootBank(false), BootBank(false));
  b.halInfo[kHalLoaderBufferWord] = kHal5800LoaderPhysical;
  b.ram.push_back({LoaderBufferAddress5800(), kLoaderBufferBytes});
  return b;
}

Board Board5300() {
  Board b = CommonBoard();
  b.flash.chips = 1;
  b.flash.deviceCode = 0x18;
  b.bootMsc0 = Msc(BootBank(true), BootBank(true));
  b.bootMsc1 = Msc(BootBank(false), BootBank(false));
  b.halInfo[kHalLoaderBufferWord] = kHal5300LoaderPhysical;
  b.ram.push_back({LoaderBufferAddress5300(b), kLoaderBufferBytes});
  return b;
}

namespace {

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

bool Overlap(const DeviceWindowRange& a, const DeviceWindowRange& b) {
  return uint64_t{a.base} < uint64_t{b.base} + b.bytes && uint64_t{b.base} < uint64_t{a.base} + a.bytes;
}

}  // namespace

std::vector<DeviceWindowRange> DeviceWindows(const Board& board) {
  return {{"flash", board.flashWindow, board.flashWindowBytes},
          {"memory controller", board.memoryController, kRegisterBlockBytes},
          {"UART", board.uart3, kRegisterBlockBytes},
          {"OS timer", board.osTimer, kRegisterBlockBytes},
          {"interrupt controller", board.interruptController, kRegisterBlockBytes},
          {"reset controller", board.resetController, kRegisterBlockBytes},
          {"board latch", board.boardLatch, kSingleRegisterBytes},
          {"debug port", board.debugPort, kSingleRegisterBytes}};
}

std::string BoardProblem(const Board& board, uint64_t flashBytes) {
  const std::vector<DeviceWindowRange> windows = DeviceWindows(board);
  if (flashBytes > board.flashWindowBytes) {
    // Name the first device a window of the flash's size would cover.
    std::string covered;
    const DeviceWindowRange wanted{"flash", board.flashWindow, static_cast<uint32_t>(
                                                                   std::min<uint64_t>(flashBytes, 0xFFFFFFFFu))};
    for (const DeviceWindowRange& w : windows)
      if (w.base != board.flashWindow && Overlap(wanted, w)) {
        covered = std::string(": it would cover the ") + w.device + " at " + Hex(w.base);
        break;
      }
    return "a flash of " + std::to_string(flashBytes >> 20) + " MB does not fit the board's flash window of " +
           std::to_string(board.flashWindowBytes >> 20) + " MB at " + Hex(board.flashWindow) + covered;
  }
  for (std::size_t i = 0; i < windows.size(); ++i)
    for (std::size_t j = i + 1; j < windows.size(); ++j)
      if (Overlap(windows[i], windows[j]))
        return std::string("the board's ") + windows[i].device + " window at " + Hex(windows[i].base) +
               " overlaps its " + windows[j].device + " window at " + Hex(windows[j].base);
  return {};
}

}  // namespace soc
