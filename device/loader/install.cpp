#include "loader/install.h"

#include "flash/flash_driver.h"
#include "flash/flash_status.h"
#include "platform/bus.h"
#include "startup/agent_state.h"
#include "startup/debug_print.h"

namespace {

constexpr uint32_t kResetRequest = 1;

// Every unit block the loader range overlaps, not only the first: with
// blocks smaller than the loader the rest would otherwise be programmed
// over old data.
bool EraseLoaderRange(uint32_t chipCount) {
  const uint32_t unit = TheFlashDescriptor.blockSize * chipCount;
  for (uint32_t offset = kLoaderFlashOffset; offset < kLoaderFlashOffset + kLoaderImageBytes;
       offset = offset - offset % unit + unit) {
    if (FlashEraseBlock(offset, chipCount) != kFlashSucceed) return false;
  }
  return true;
}

void StoreWord(uint8_t* bytes, uint32_t value) {
  for (uint32_t i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

int InstallLoader() {
  ClearStatusByModel(Agent.hardwareMap.flashWindow);
  uint32_t chipCount = 0;
  if (FlashInit(&chipCount) != kFlashSucceed) return 0;
  SetIdleHook(nullptr);
  if (!EraseLoaderRange(chipCount)) {
    DebugPrint("Flsh Erase error\n");
    return 0;
  }
  if (FlashEraseBlock(kLoaderRecordOffset, chipCount) != kFlashSucceed) {
    DebugPrint("Flash Erase error\n");
    return 0;
  }
  const void* image = devbus::RamPointer(Agent.hardwareMap.loaderBuffer);
  const uint32_t length = (kLoaderImageBytes + 3) & ~3u;
  if (FlashProgramRange(kLoaderFlashOffset, length, image) != kFlashSucceed) return 0;

  const LoaderRecord record{Agent.hardwareMap.loaderBuffer,
                            static_cast<uint32_t>(Agent.modelCode)};
  uint8_t bytes[kLoaderRecordBytes];
  StoreWord(bytes, record.loaderBuffer);
  StoreWord(bytes + 4, record.modelCode);
  if (FlashProgramRange(kLoaderRecordOffset, kLoaderRecordBytes, bytes) != kFlashSucceed) {
    DebugPrint("Flash program error\n");
    return 0;
  }
  return 1;
}

void RestartDevice() {
  devbus::Write32(Agent.hardwareMap.resetController + reg::kSoftwareReset, kResetRequest);
  // The reset takes hold within a few cycles; the loop reads a register so it
  // is not an empty endless loop.
  for (;;) devbus::Read32(Agent.hardwareMap.osTimer + reg::kOSCR);
}
