// The agent's bus seam in the simulator: every access goes to the Soc made
// current on this thread by soc::ScopedBus.
#include "device/platform/bus.h"

#include "sim/soc/soc.h"

namespace devbus {

namespace {

soc::Soc& Bus() {
  soc::Soc* current = soc::CurrentSoc();
  if (!current) throw soc::BusFault("agent bus used without a simulated handheld");
  return *current;
}

}  // namespace

uint8_t Read8(uint32_t address) { return Bus().Read8(address); }
uint16_t Read16(uint32_t address) { return Bus().Read16(address); }
uint32_t Read32(uint32_t address) { return Bus().Read32(address); }
void Write8(uint32_t address, uint8_t value) { Bus().Write8(address, value); }
void Write16(uint32_t address, uint16_t value) { Bus().Write16(address, value); }
void Write32(uint32_t address, uint32_t value) { Bus().Write32(address, value); }
void* RamPointer(uint32_t address) { return Bus().RamPointer(address); }

}  // namespace devbus
