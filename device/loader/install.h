// Loader installation after the takeover, and the restart.
#pragma once
#include <stdint.h>

// Flash layout the handheld's boot code reads after the restart.
constexpr uint32_t kLoaderFlashOffset = 0x40000;
constexpr uint32_t kLoaderImageBytes = 0x10000;   // 64 KiB are programmed in every case
constexpr uint32_t kLoaderRecordOffset = 0x60000;

// LoaderRecord: two little-endian 32-bit words.
struct LoaderRecord {
  uint32_t loaderBuffer;  // the loader buffer's address as the agent used it
  uint32_t modelCode;     // 16 (5800) or 32 (5300)
};
constexpr uint32_t kLoaderRecordBytes = 8;

// Erases the unit blocks under the loader and the record, programs both.
// 1 when everything was written, 0 otherwise (the driver printed why).
int InstallLoader();

// Writes the software reset register and spins until the reset takes hold.
[[noreturn]] void RestartDevice();
