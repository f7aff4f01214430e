#include "startup/board_latch.h"

#include "platform/bus.h"
#include "startup/agent_state.h"

namespace {

volatile uint32_t* Shadow() {
  return static_cast<volatile uint32_t*>(
      devbus::RamPointer(Agent.hardwareMap.boardLatchShadow));
}

void WriteLatch(uint32_t value) {
  *Shadow() = value;
  devbus::Write32(Agent.hardwareMap.boardLatch, value);
}

}  // namespace

void SetBoardLatchBits(uint32_t mask) { WriteLatch(*Shadow() | mask); }

void ClearBoardLatchBits(uint32_t mask) { WriteLatch(*Shadow() & ~mask); }
