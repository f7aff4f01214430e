#include "startup/os_timer.h"

#include "platform/bus.h"
#include "startup/agent_state.h"

uint32_t ReadOsTimer() {
  return devbus::Read32(Agent.hardwareMap.osTimer + reg::kOSCR);
}

bool TicksElapsed(uint32_t start, uint32_t ticks) {
  return ReadOsTimer() - start >= ticks;
}

void WaitMicroseconds(uint32_t microseconds) {
  const uint32_t ticks = kTicksPerMillisecond * (microseconds / 1000);
  const uint32_t start = ReadOsTimer();
  while (!TicksElapsed(start, ticks)) {
  }
}
