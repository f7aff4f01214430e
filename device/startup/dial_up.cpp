#include "platform/services.h"
#include "startup/windows_phase.h"

namespace {
constexpr uint32_t kMaxConnections = 20;
}  // namespace

uint32_t CloseRasConnections() {
  devos::RasConnection entries[kMaxConnections] = {};
  entries[0].size = sizeof(devos::RasConnection);
  uint32_t bytes = sizeof entries;
  uint32_t count = 0;
  const uint32_t error = devos::RasEnumConnections(entries, &bytes, &count);
  if (error != 0) return error;
  for (uint32_t i = 0; i < count && i < kMaxConnections; ++i) {
    const uint32_t hangUp = devos::RasHangUp(entries[i].handle);
    if (hangUp != 0) return hangUp;
  }
  return 0;
}
