// The 20 FlashOps slots and the geometry table.
#include "flash/flash_descriptor.h"
#include "flash/flash_result.h"
#include "platform/bus.h"
#include "startup/agent_state.h"

FlashDescriptor TheFlashDescriptor;

namespace {

constexpr uint32_t kCmdReadArray = 0xFF;
constexpr uint32_t kCmdReadStatus = 0x70;
constexpr uint32_t kCmdClearStatus = 0x50;
constexpr uint32_t kCmdEraseSetup = 0x20;
constexpr uint32_t kCmdConfirm = 0xD0;
constexpr uint32_t kCmdProgramSetup = 0x40;
constexpr uint32_t kCmdWriteToBuffer = 0xE8;
constexpr uint32_t kCmdLockSetup = 0x60;
constexpr uint32_t kCmdSetBlockLock = 0x01;
constexpr uint32_t kCmdSetMasterLock = 0xF1;
constexpr uint32_t kChipReady = 0x0080;

constexpr uint32_t kDefaultChipSize = 0x1000000;  // 16 MiB
constexpr uint32_t kDefaultBlockSize = 0x20000;   // 128 KiB

struct Geometry {
  uint32_t device;
  uint32_t chipSize;  // 0: keep the default
  uint32_t blockSize;
};

constexpr Geometry kGeometry[] = {
    {0x15, 0, 0},                    // 32 Mbit part: the defaults
    {0x16, 0x400000, 0x8000},        // 4 MiB, 32 KiB blocks
    {0x17, 0x800000, 0x20000},       // 8 MiB, 128 KiB blocks
    {0x18, 0x1000000, 0x20000},      // 16 MiB, 128 KiB blocks
};

bool ValidCount(uint32_t chipCount) { return chipCount == 1 || chipCount == 2; }

uint32_t Command(uint32_t address, uint32_t chipCount, uint32_t command) {
  if (!ValidCount(chipCount)) return kFlashUnavailableCommand;
  WriteCommand(address, chipCount, command);
  return 0;
}

uint32_t BlockCommand(uint32_t address, uint32_t chipCount, uint32_t command) {
  if (!ValidCount(chipCount)) return kFlashUnavailableCommand;
  WriteCommand(UnitBlockStart(address, chipCount), chipCount, command);
  return 0;
}

uint32_t StatusTest(uint32_t address, uint32_t chipCount) {
  if (!ValidCount(chipCount)) return kFlashUnavailableCommand;
  return ReadBusWord(address, chipCount) == ReadyStatus(chipCount) ? 1 : 0;
}

uint32_t EraseBlock(uint32_t a, uint32_t n) {
  if (!ValidCount(n)) return kFlashUnavailableCommand;
  BlockCommand(a, n, kCmdEraseSetup);
  return BlockCommand(a, n, kCmdConfirm);
}
uint32_t ProgramSetup(uint32_t a, uint32_t n) { return Command(a, n, kCmdProgramSetup); }
uint32_t ProgramSetupDone(uint32_t, uint32_t) { return 1; }
uint32_t BufferSetup(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdWriteToBuffer); }
uint32_t BufferCount(uint32_t a, uint32_t n) {
  const uint32_t words = kWriteBufferSize / (kChipDataWidth / 8) - 1;  // 15
  return BlockCommand(a, n, words);
}
uint32_t BufferConfirm(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdConfirm); }
uint32_t LockSetup(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdLockSetup); }
uint32_t SetBlockLock(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdSetBlockLock); }
uint32_t SetMasterLock(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdSetMasterLock); }
uint32_t ClearBlockLocks(uint32_t a, uint32_t n) { return BlockCommand(a, n, kCmdConfirm); }
uint32_t ReadArray(uint32_t a, uint32_t n) { return Command(a, n, kCmdReadArray); }
uint32_t ReadStatus(uint32_t a, uint32_t n) {
  if (!ValidCount(n)) return kFlashUnavailableCommand;
  WriteCommand(a, n, kCmdReadStatus);
  const uint32_t status = ReadBusWord(a, n);
  WriteCommand(a, n, kCmdReadArray);
  return status;
}
uint32_t ClearStatus(uint32_t a, uint32_t n) { return Command(a, n, kCmdClearStatus); }

constexpr FlashOp kSlots[kFlashOpCount] = {
    EraseBlock,   StatusTest,    ProgramSetup,  ProgramSetupDone, StatusTest,
    BufferSetup,  StatusTest,    BufferCount,   BufferConfirm,    StatusTest,
    LockSetup,    SetBlockLock,  SetMasterLock, StatusTest,       LockSetup,
    ClearBlockLocks, StatusTest, ReadArray,     ReadStatus,       ClearStatus,
};

}  // namespace

uint32_t ReadyStatus(uint32_t chipCount) {
  return chipCount == 2 ? (kChipReady << 16) | kChipReady : kChipReady;
}

uint32_t UnitBlockStart(uint32_t address, uint32_t chipCount) {
  const uint32_t window = Agent.hardwareMap.flashWindow;
  const uint32_t unit = TheFlashDescriptor.blockSize * chipCount;
  if (unit == 0) return address;
  const uint32_t offset = address - window;
  return window + offset - offset % unit;
}

void WriteCommand(uint32_t address, uint32_t chipCount, uint32_t command) {
  if (chipCount == 2) {
    devbus::Write32(address, (command << 16) | command);
  } else {
    devbus::Write16(address, static_cast<uint16_t>(command));
  }
}

uint32_t ReadBusWord(uint32_t address, uint32_t chipCount) {
  return chipCount == 2 ? devbus::Read32(address) : devbus::Read16(address);
}

void WriteBusWord(uint32_t address, uint32_t chipCount, uint32_t value) {
  if (chipCount == 2) {
    devbus::Write32(address, value);
  } else {
    devbus::Write16(address, static_cast<uint16_t>(value));
  }
}

bool FillFlashDescriptor(uint32_t manufacturer, uint32_t device) {
  if (manufacturer != kIntelManufacturer) return false;
  const Geometry* row = nullptr;
  for (const Geometry& g : kGeometry) {
    if (g.device == device) row = &g;
  }
  if (row == nullptr) return false;
  FlashDescriptor& d = TheFlashDescriptor;
  d.chipSize = kDefaultChipSize;
  d.blockSize = kDefaultBlockSize;
  if (row->chipSize != 0) d.chipSize = row->chipSize;
  if (row->blockSize != 0) d.blockSize = row->blockSize;
  d.blockCount = d.chipSize / d.blockSize;
  d.chipDataWidth = kChipDataWidth;
  d.reserved = 0;
  d.writeBufferSize = kWriteBufferSize;
  for (uint32_t i = 0; i < kFlashOpCount; ++i) d.ops[i] = kSlots[i];
  return true;
}
