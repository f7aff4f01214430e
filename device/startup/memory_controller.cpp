#include "startup/memory_controller.h"

#include <stdint.h>

#include "platform/bus.h"
#include "startup/agent_state.h"

namespace {

constexpr uint32_t kMSC0Bank0TypeBits = 0x3;          // bits 0..1
constexpr uint32_t kMSC1Bank2FirstAccessShift = 3;    // 5-bit field, bits 3..7
constexpr uint32_t kMSC1Bank2FirstAccessMask = 0x1F;
constexpr uint32_t kMSC1Bank2RecoveryShift = 13;      // 3-bit field, bits 13..15
constexpr uint32_t kMSC1Bank2RecoveryMask = 0x7;

uint32_t Register(uint32_t offset) { return Agent.hardwareMap.memoryController + offset; }

void SetField(uint32_t offset, uint32_t shift, uint32_t mask, uint32_t value) {
  const uint32_t old = devbus::Read32(Register(offset));
  devbus::Write32(Register(offset), (old & ~(mask << shift)) | ((value & mask) << shift));
}

}  // namespace

void TuneMemoryController() {
  SetField(reg::kMSC0, 0, kMSC0Bank0TypeBits, 0);
  SetField(reg::kMSC1, kMSC1Bank2FirstAccessShift, kMSC1Bank2FirstAccessMask,
           kMSC1Bank2FirstAccessMask);
  SetField(reg::kMSC1, kMSC1Bank2RecoveryShift, kMSC1Bank2RecoveryMask,
           kMSC1Bank2RecoveryMask);
}
