// Bus width and identification of the flash chips.
#include "flash/flash_driver.h"
#include "flash/flash_status.h"
#include "platform/bus.h"
#include "startup/agent_state.h"

FlashDriverState FlashDriver;

namespace {

constexpr uint32_t kMSC0Bank0Width16 = 1u << 2;
constexpr uint32_t kMSC0Bank1Width16 = 1u << 18;
constexpr uint32_t kCmdReadIdentifier = 0x90;
constexpr uint32_t kCmdReadArray = 0xFF;
constexpr uint32_t kDeviceCodeOffset32 = 4;  // second word of the first chip

void SetMsc0Bit(uint32_t bit, bool set) {
  const uint32_t address = Agent.hardwareMap.memoryController + reg::kMSC0;
  const uint32_t old = devbus::Read32(address);
  devbus::Write32(address, set ? (old | bit) : (old & ~bit));
}

uint32_t Window() { return Agent.hardwareMap.flashWindow; }

// One chip on a 16-bit bus: manufacturer and device code in one 32-bit read.
bool IdentifyOneChip() {
  SetBusWidth(16);
  WriteCommand(Window(), 1, kCmdReadIdentifier);
  const uint32_t codes = devbus::Read32(Window());
  WriteCommand(Window(), 1, kCmdReadArray);
  return FillFlashDescriptor(codes & 0xFFFF, codes >> 16);
}

// Two chips on a 32-bit bus: the first chip's codes in the low half-words.
bool IdentifyTwoChips() {
  SetBusWidth(32);
  WriteCommand(Window(), 2, kCmdReadIdentifier);
  const uint32_t manufacturer = devbus::Read32(Window()) & 0xFFFF;
  const uint32_t device = devbus::Read32(Window() + kDeviceCodeOffset32) & 0xFFFF;
  WriteCommand(Window(), 2, kCmdReadArray);
  return FillFlashDescriptor(manufacturer, device);
}

// The chips must read ready after a status clear; one more try is allowed.
bool StatusReadsReady(uint32_t chipCount) {
  const FlashOp* ops = TheFlashDescriptor.ops;
  for (int attempt = 0; attempt < 2; ++attempt) {
    ops[kSlotClearStatus](Window(), chipCount);
    if (ops[kSlotReadStatus](Window(), chipCount) == ReadyStatus(chipCount)) return true;
  }
  return false;
}

uint32_t Identify() {
  if (IdentifyOneChip()) return 1;
  if (IdentifyTwoChips()) return 2;
  SetBusWidth(32);
  return 0;
}

}  // namespace

void ResetFlashDriver() {
  FlashDriver = FlashDriverState{};
  TheFlashDescriptor = FlashDescriptor{};
}

void SetBusWidth(uint32_t bits) {
  const bool narrow = bits == 16;
  SetMsc0Bit(kMSC0Bank0Width16, narrow);
  SetMsc0Bit(kMSC0Bank1Width16, narrow);
}

void SetIdleHook(IdleHook hook) { FlashDriver.idleHook = hook; }

FlashResult FlashInit(uint32_t* chipCount) {
  FlashDriver.identified = false;
  FlashDriver.descriptor = nullptr;
  FlashDriver.chipCount = 0;
  ClearStatusByModel(Window());
  const uint32_t count = Identify();
  if (chipCount != nullptr) *chipCount = count;
  if (count == 0 || !StatusReadsReady(count)) return kFlashIdentifyFailed;
  FlashDriver.identified = true;
  FlashDriver.descriptor = &TheFlashDescriptor;
  FlashDriver.chipCount = count;
  return kFlashSucceed;
}
