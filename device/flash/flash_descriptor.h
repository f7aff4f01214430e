// FlashDescriptor: geometry of the identified chips and the 20 FlashOps
// slots speaking Intel's command set. One chip sits on a 16-bit bus; two
// interleaved chips share a 32-bit bus (low half-word: first chip).
#pragma once
#include <stdint.h>

// Every slot takes a flash-window address and chipCount and returns a word.
using FlashOp = uint32_t (*)(uint32_t address, uint32_t chipCount);

enum FlashSlot : uint32_t {
  kSlotEraseBlock,        // 1: 0x20, 0xD0 at the block
  kSlotEraseDone,         // 2: status test
  kSlotProgramSetup,      // 3: 0x40 at the address
  kSlotProgramSetupDone,  // 4: always 1
  kSlotProgramDone,       // 5: status test
  kSlotBufferSetup,       // 6: 0xE8 at the block
  kSlotBufferAvailable,   // 7: status test
  kSlotBufferCount,       // 8: word count - 1 at the block
  kSlotBufferConfirm,     // 9: 0xD0 at the block
  kSlotBufferDone,        // 10: status test
  kSlotLockSetup,         // 11: 0x60 at the block
  kSlotSetBlockLock,      // 12: 0x01 at the block
  kSlotSetMasterLock,     // 13: 0xF1 at the block
  kSlotLockDone,          // 14: status test
  kSlotUnlockSetup,       // 15: 0x60 at the block
  kSlotClearBlockLocks,   // 16: 0xD0 at the block
  kSlotUnlockDone,        // 17: status test
  kSlotReadArray,         // 18: 0xFF at the address
  kSlotReadStatus,        // 19: 0x70, read, 0xFF; returns the status word
  kSlotClearStatus,       // 20: 0x50 at the address
  kFlashOpCount
};

struct FlashDescriptor {
  uint32_t chipSize;         // bytes per chip
  uint32_t blockSize;        // bytes per block of one chip
  uint32_t blockCount;       // chipSize / blockSize
  uint32_t chipDataWidth;    // bits per chip word
  uint32_t reserved;
  uint32_t writeBufferSize;  // bytes per chip
  FlashOp ops[kFlashOpCount];
};

constexpr uint32_t kIntelManufacturer = 0x89;
constexpr uint32_t kChipDataWidth = 16;
constexpr uint32_t kWriteBufferSize = 32;

// The one descriptor, filled when a pair of codes is accepted.
extern FlashDescriptor TheFlashDescriptor;

// Fills TheFlashDescriptor for manufacturer/device codes; false (descriptor
// untouched) unless Intel with device 0x15 to 0x18.
bool FillFlashDescriptor(uint32_t manufacturer, uint32_t device);

// The ready status with every chip idle and no error: 0x0080 or 0x00800080.
uint32_t ReadyStatus(uint32_t chipCount);

// Start of the unit block (block size x chipCount) holding an address.
uint32_t UnitBlockStart(uint32_t address, uint32_t chipCount);

// One command per chip: a 16-bit store, or 0x00XX00XX as a 32-bit store.
void WriteCommand(uint32_t address, uint32_t chipCount, uint32_t command);

// The bus word at an address: 16 bits for one chip, 32 for two.
uint32_t ReadBusWord(uint32_t address, uint32_t chipCount);
void WriteBusWord(uint32_t address, uint32_t chipCount, uint32_t value);
