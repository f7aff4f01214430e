// The write-only board latch. Every change goes through the platform's RAM
// shadow: read-modify-write the shadow, then write the whole value out.
#pragma once
#include <stdint.h>

constexpr uint32_t kLatchFlashProgramEnable = 0x01;  // bit 0
constexpr uint32_t kLatchSerialGate = 0x80;          // bit 7, off while UART 3 is reprogrammed

void SetBoardLatchBits(uint32_t mask);
void ClearBoardLatchBits(uint32_t mask);
