// The bus seam on the handheld: volatile accesses at kernel virtual addresses.
#include "platform/bus.h"

namespace devbus {

namespace {
template <typename T>
volatile T* At(uint32_t address) {
  return reinterpret_cast<volatile T*>(static_cast<uintptr_t>(address));
}
}  // namespace

uint8_t Read8(uint32_t address) { return *At<uint8_t>(address); }
uint16_t Read16(uint32_t address) { return *At<uint16_t>(address); }
uint32_t Read32(uint32_t address) { return *At<uint32_t>(address); }
void Write8(uint32_t address, uint8_t value) { *At<uint8_t>(address) = value; }
void Write16(uint32_t address, uint16_t value) { *At<uint16_t>(address) = value; }
void Write32(uint32_t address, uint32_t value) { *At<uint32_t>(address) = value; }

// Kernel virtual RAM addresses are directly usable.
void* RamPointer(uint32_t address) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

}  // namespace devbus
