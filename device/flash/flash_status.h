// Status handling shared by the flash operations: the model-wide status clear
// and the bounded waits that decode the error bits of every chip.
#pragma once
#include <stdint.h>

#include "flash/flash_descriptor.h"
#include "flash/flash_result.h"

// Status register bits of one chip.
constexpr uint32_t kStatusReady = 0x80;        // SR.7
constexpr uint32_t kStatusEraseError = 0x20;   // SR.5
constexpr uint32_t kStatusProgramError = 0x10; // SR.4
constexpr uint32_t kStatusVppLow = 0x08;       // SR.3
constexpr uint32_t kStatusBlockLocked = 0x02;  // SR.1
constexpr uint32_t kStatusErrorBits =
    kStatusEraseError | kStatusProgramError | kStatusVppLow | kStatusBlockLocked;

// Clears the status at an address with the width ModelCode selects: model
// 5300 one 16-bit 0x0050, any other model 32-bit 0x00500050.
void ClearStatusByModel(uint32_t address);

enum class PollPause { kNone, kHook, kSpinAndHook };

struct StatusWait {
  FlashSlot test;           // the slot's status test, polled first
  uint32_t limitTicks;      // OS timer ticks before giving up
  FlashResult timeoutCode;  // result when the limit passes
  FlashResult errorCode;    // result when every chip is ready but one reports an error
  PollPause pause;          // what runs after a poll that is not ready
};

// True when every chip's status has SR.7 set.
bool AllChipsReady(uint32_t status, uint32_t chipCount);
// True when any chip's status has an error bit set.
bool AnyChipError(uint32_t status, uint32_t chipCount);

// Polls until the slot's test passes, an error shows or the limit passes.
// On failure the status is printed, cleared and the chips put back to read
// array mode.
FlashResult WaitForStatus(uint32_t address, uint32_t chipCount, const StatusWait& wait);
