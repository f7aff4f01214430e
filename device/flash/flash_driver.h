// The agent's flash driver: identification, unit-block erase, word and
// write-buffer programming with read-back verify. Offsets are bytes from the
// start of the flash window. Runs after the takeover: no OS call, no heap.
#pragma once
#include <stdint.h>

#include "flash/flash_descriptor.h"
#include "flash/flash_result.h"
#include "startup/hardware_map.h"

using IdleHook = void (*)();

struct FlashDriverState {
  bool identified;
  const FlashDescriptor* descriptor;  // null until identified
  uint32_t chipCount;                 // 0 until identified
  IdleHook idleHook;                  // called between some status polls
};

extern FlashDriverState FlashDriver;

// Time limits of the status waits, in OS timer ticks. Each lies well above
// the StrataFlash worst case (block erase 5 s, buffer program under 1 ms), so
// only a chip that has truly stopped answering hits them.
constexpr uint32_t kEraseLimitTicks = 10000 * kTicksPerMillisecond;         // 10 s
constexpr uint32_t kWordProgramLimitTicks = 100 * kTicksPerMillisecond;     // 100 ms
constexpr uint32_t kBufferAvailableLimitTicks = 100 * kTicksPerMillisecond; // 100 ms
constexpr uint32_t kBufferProgramLimitTicks = 200 * kTicksPerMillisecond;   // 200 ms

void ResetFlashDriver();

// 16 sets MSC0 bits 2 and 18 (16-bit banks 0 and 1); anything else clears them.
void SetBusWidth(uint32_t bits);

// 0 when identified (chipCount stored), -1 otherwise.
FlashResult FlashInit(uint32_t* chipCount);

void SetIdleHook(IdleHook hook);

// Erases the unit block holding the offset. 0 once the chips read ready;
// kFlashEraseTimeOut when a chip never finishes or reports an error bit.
FlashResult FlashEraseBlock(uint32_t offset, uint32_t chipCount);

// One bus word (2 bytes on one chip, 4 on two) from source.
FlashResult FlashProgramWord(uint32_t offset, const void* source, uint32_t chipCount);

// One write buffer: 32 bytes per chip.
FlashResult FlashProgramBuffer(uint32_t offset, const void* source, uint32_t chipCount);

// Head words up to a buffer boundary, whole buffers, tail words.
FlashResult FlashProgramRange(uint32_t offset, uint32_t length, const void* source);
