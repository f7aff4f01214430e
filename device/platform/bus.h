// Bus access for the handheld agent: the only way agent code touches hardware.
// On the handheld these are volatile accesses at the HardwareMap addresses
// (bus_target.cpp); in the simulator they land on the device models
// (sim/soc/agent_bus.cpp, linked into native builds only).
#pragma once
#include <stdint.h>

namespace devbus {

uint8_t Read8(uint32_t address);
uint16_t Read16(uint32_t address);
uint32_t Read32(uint32_t address);
void Write8(uint32_t address, uint8_t value);
void Write16(uint32_t address, uint16_t value);
void Write32(uint32_t address, uint32_t value);

// A RAM address (such as the loader buffer or the latch shadow) as a pointer
// the agent may read and write directly.
void* RamPointer(uint32_t address);

}  // namespace devbus
