#include "flash/flash_status.h"

#include "flash/flash_driver.h"
#include "platform/bus.h"
#include "startup/agent_state.h"
#include "startup/debug_print.h"
#include "startup/os_timer.h"

namespace {

constexpr uint32_t kClearStatus16 = 0x0050;
constexpr uint32_t kClearStatus32 = 0x00500050;
constexpr uint32_t kSpinIterations = 1000;

uint32_t ChipStatus(uint32_t status, uint32_t chip) { return (status >> (16 * chip)) & 0xFFFF; }

void Pause(PollPause pause) {
  if (pause == PollPause::kSpinAndHook) {
    // An empty delay loop the compiler must keep.
    for (uint32_t i = 0; i < kSpinIterations; ++i) asm volatile("");
  }
  if (pause != PollPause::kNone && FlashDriver.idleHook != nullptr) FlashDriver.idleHook();
}

FlashResult Fail(uint32_t address, uint32_t chipCount, uint32_t status, FlashResult code) {
  DebugPrint("flash status %X at %x\n", status, address);
  TheFlashDescriptor.ops[kSlotClearStatus](address, chipCount);
  TheFlashDescriptor.ops[kSlotReadArray](address, chipCount);
  return code;
}

}  // namespace

void ClearStatusByModel(uint32_t address) {
  if (Agent.modelCode == kModel5300) {
    devbus::Write16(address, kClearStatus16);
  } else {
    devbus::Write32(address, kClearStatus32);
  }
}

bool AllChipsReady(uint32_t status, uint32_t chipCount) {
  for (uint32_t chip = 0; chip < chipCount; ++chip) {
    if ((ChipStatus(status, chip) & kStatusReady) == 0) return false;
  }
  return true;
}

bool AnyChipError(uint32_t status, uint32_t chipCount) {
  for (uint32_t chip = 0; chip < chipCount; ++chip) {
    if ((ChipStatus(status, chip) & kStatusErrorBits) != 0) return true;
  }
  return false;
}

FlashResult WaitForStatus(uint32_t address, uint32_t chipCount, const StatusWait& wait) {
  const uint32_t start = ReadOsTimer();
  for (;;) {
    if (TheFlashDescriptor.ops[wait.test](address, chipCount) == 1) return kFlashSucceed;
    // The exact test failed: once every chip is ready the error bits decide.
    const uint32_t status = ReadBusWord(address, chipCount);
    if (AllChipsReady(status, chipCount)) {
      if (!AnyChipError(status, chipCount)) return kFlashSucceed;
      return Fail(address, chipCount, status, wait.errorCode);
    }
    if (TicksElapsed(start, wait.limitTicks)) {
      return Fail(address, chipCount, status, wait.timeoutCode);
    }
    Pause(wait.pause);
  }
}
