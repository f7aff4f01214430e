// Erase, word and write-buffer programming with read-back verify.
#include "flash/flash_driver.h"
#include "flash/flash_status.h"
#include "platform/bus.h"
#include "startup/agent_state.h"
#include "startup/board_latch.h"
#include "startup/debug_print.h"
#include "startup/os_timer.h"

namespace {

uint32_t Window() { return Agent.hardwareMap.flashWindow; }
const FlashOp* Ops() { return TheFlashDescriptor.ops; }
bool ValidCount(uint32_t chipCount) { return chipCount == 1 || chipCount == 2; }
uint32_t FlashEnd(uint32_t chipCount) { return TheFlashDescriptor.chipSize * chipCount; }
uint32_t BusWordBytes(uint32_t chipCount) { return kChipDataWidth / 8 * chipCount; }
uint32_t BufferBytes(uint32_t chipCount) { return kWriteBufferSize * chipCount; }

// Source data may sit at any alignment: assemble little-endian words by byte.
uint32_t LoadWord(const uint8_t* p, uint32_t bytes) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
  return value;
}

FlashResult CheckProgramTarget(uint32_t offset, uint32_t chipCount) {
  if (!FlashDriver.identified) return kFlashIdentifyFailed;
  if (!ValidCount(chipCount)) return kFlashUnavailableCommand;
  if (offset >= FlashEnd(chipCount)) return kFlashInvalidAddress;
  return kFlashSucceed;
}

// The datasheet has the buffer set up again until XSR.7 reports it free.
FlashResult WaitBufferAvailable(uint32_t address, uint32_t chipCount) {
  const uint32_t start = ReadOsTimer();
  while (Ops()[kSlotBufferAvailable](address, chipCount) != 1) {
    if (TicksElapsed(start, kBufferAvailableLimitTicks)) {
      DebugPrint("flash status %X at %x\n", ReadBusWord(address, chipCount), address);
      Ops()[kSlotClearStatus](address, chipCount);
      Ops()[kSlotReadArray](address, chipCount);
      return kFlashWriteBufferCommandTimeOut;
    }
    if (FlashDriver.idleHook != nullptr) FlashDriver.idleHook();
    Ops()[kSlotBufferSetup](address, chipCount);
  }
  return kFlashSucceed;
}

// Compares the programmed buffer with its source, 32-bit word by word.
FlashResult VerifyBuffer(uint32_t address, const uint8_t* source, uint32_t chipCount) {
  const uint32_t words = BufferBytes(chipCount) / 4;
  bool failed = false;
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t flash = devbus::Read32(address + 4 * i);
    const uint32_t expected = LoadWord(source + 4 * i, 4);
    if (flash != expected) {
      DebugPrint("%x, %x, %x\n", flash, expected, i);
      failed = true;
    }
  }
  if (!failed) return kFlashSucceed;
  DebugPrint("VERIFY FAILED\n");
  return kFlashWriteBufferVerifyFailed;
}

// Fewer bytes than a bus word (an uneven tail): the rest of the word keeps
// the flash's present contents, which programming leaves unchanged.
FlashResult ProgramPartialWord(uint32_t offset, const uint8_t* source, uint32_t bytes,
                               uint32_t chipCount) {
  const FlashResult check = CheckProgramTarget(offset, chipCount);
  if (check != kFlashSucceed) return check;
  uint8_t merged[4];
  const uint32_t present = ReadBusWord(Window() + offset, chipCount);
  for (uint32_t i = 0; i < BusWordBytes(chipCount); ++i) {
    merged[i] = i < bytes ? source[i] : static_cast<uint8_t>(present >> (8 * i));
  }
  return FlashProgramWord(offset, merged, chipCount);
}

// One step of the head or tail: a whole bus word or what is left.
FlashResult ProgramWordStep(uint32_t offset, const uint8_t* source, uint32_t length,
                            uint32_t chipCount) {
  if (length < BusWordBytes(chipCount)) {
    return ProgramPartialWord(offset, source, length, chipCount);
  }
  return FlashProgramWord(offset, source, chipCount);
}

}  // namespace

FlashResult FlashEraseBlock(uint32_t offset, uint32_t chipCount) {
  const FlashResult check = CheckProgramTarget(offset, chipCount);
  if (check != kFlashSucceed) return check;
  const uint32_t block = UnitBlockStart(Window() + offset, chipCount);
  ClearStatusByModel(block);
  SetBoardLatchBits(kLatchFlashProgramEnable);
  Ops()[kSlotEraseBlock](block, chipCount);
  const StatusWait wait{kSlotEraseDone, kEraseLimitTicks, kFlashEraseTimeOut,
                        kFlashEraseTimeOut, PollPause::kHook};
  const FlashResult result = WaitForStatus(block, chipCount, wait);
  Ops()[kSlotReadArray](block, chipCount);
  return result;
}

FlashResult FlashProgramWord(uint32_t offset, const void* source, uint32_t chipCount) {
  const FlashResult check = CheckProgramTarget(offset, chipCount);
  if (check != kFlashSucceed) return check;
  const uint32_t address = Window() + offset;
  const uint32_t bytes = BusWordBytes(chipCount);
  const uint32_t value = LoadWord(static_cast<const uint8_t*>(source), bytes);
  ClearStatusByModel(address);
  Ops()[kSlotProgramSetup](address, chipCount);
  const StatusWait setup{kSlotProgramSetupDone, kWordProgramLimitTicks,
                         kFlashWriteCommandTimeOut, kFlashWriteCommandTimeOut, PollPause::kHook};
  FlashResult result = WaitForStatus(address, chipCount, setup);
  if (result != kFlashSucceed) return result;
  WriteBusWord(address, chipCount, value);
  const StatusWait done{kSlotProgramDone, kWordProgramLimitTicks, kFlashWriteVerifySetupTimeOut,
                        kFlashWriteVerifyFailed, PollPause::kNone};
  result = WaitForStatus(address, chipCount, done);
  if (result != kFlashSucceed) return result;
  Ops()[kSlotReadArray](address, chipCount);
  if (ReadBusWord(address, chipCount) != value) {
    DebugPrint("verify fail :Addr = %x, data = %x\r\n", address, value);
    return kFlashWriteVerifyFailed;
  }
  return kFlashSucceed;
}

FlashResult FlashProgramBuffer(uint32_t offset, const void* source, uint32_t chipCount) {
  const FlashResult check = CheckProgramTarget(offset, chipCount);
  if (check != kFlashSucceed) return check;
  const uint32_t bufferBytes = BufferBytes(chipCount);
  // The whole buffer of every chip must lie inside the flash and inside one
  // unit block: the chips refuse a buffer that crosses a block boundary.
  if (bufferBytes > FlashEnd(chipCount) - offset) return kFlashLengthOverMaxLimit;
  const uint32_t address = Window() + offset;
  if (UnitBlockStart(address, chipCount) != UnitBlockStart(address + bufferBytes - 1, chipCount)) {
    return kFlashLengthOverMaxLimit;
  }
  const uint8_t* data = static_cast<const uint8_t*>(source);
  ClearStatusByModel(address);
  Ops()[kSlotBufferSetup](address, chipCount);
  FlashResult result = WaitBufferAvailable(address, chipCount);
  if (result != kFlashSucceed) return result;
  Ops()[kSlotBufferCount](address, chipCount);
  const uint32_t step = BusWordBytes(chipCount);
  for (uint32_t i = 0; i < bufferBytes; i += step) {
    WriteBusWord(address + i, chipCount, LoadWord(data + i, step));
  }
  // The confirm goes to the buffer's own block, as the datasheet asks, even
  // when the buffer ends on a block boundary.
  Ops()[kSlotBufferConfirm](address, chipCount);
  const StatusWait done{kSlotBufferDone, kBufferProgramLimitTicks,
                        kFlashWriteBufferVerifySetupTimeOut, kFlashWriteBufferVerifyFailed,
                        PollPause::kSpinAndHook};
  result = WaitForStatus(address, chipCount, done);
  if (result != kFlashSucceed) return result;
  Ops()[kSlotReadArray](address, chipCount);
  return VerifyBuffer(address, data, chipCount);
}

FlashResult FlashProgramRange(uint32_t offset, uint32_t length, const void* source) {
  if (!FlashDriver.identified) return kFlashIdentifyFailed;
  const uint32_t chipCount = FlashDriver.chipCount;
  const uint32_t word = BusWordBytes(chipCount);
  const uint32_t buffer = BufferBytes(chipCount);
  // A store at an odd bus address would be rotated by the processor.
  if (offset % word != 0) return kFlashInvalidAddress;
  const uint8_t* data = static_cast<const uint8_t*>(source);
  FlashResult result = kFlashSucceed;
  while (offset % buffer != 0 && length > 0) {
    const uint32_t step = length < word ? length : word;
    result = ProgramWordStep(offset, data, length, chipCount);
    if (result != kFlashSucceed) {
      // The takeover makes no OS call: the note goes to the debug port.
      DebugPrint("Flash Write fail !!\r\n");
      return result;
    }
    data += step, offset += step, length -= step;
  }
  for (; length >= buffer; data += buffer, offset += buffer, length -= buffer) {
    result = FlashProgramBuffer(offset, data, chipCount);
    if (result != kFlashSucceed) return result;
  }
  while (length > 0) {
    const uint32_t step = length < word ? length : word;
    result = ProgramWordStep(offset, data, length, chipCount);
    if (result != kFlashSucceed) return result;
    data += step, offset += step, length -= step;
  }
  return kFlashSucceed;
}
