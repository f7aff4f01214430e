// The handheld's StrongARM core: runs a bare ARM image (the agent's takeover
// code as the `arm` preset builds it) on an emulated SA-1110 (Unicorn, CPU
// model SA1110) whose hardware accesses land on a Soc.
//
//   soc::ElfImage image;  soc::LoadElfImage(path, image);
//   soc::ArmRun run = soc::RunArmImage(soc, image, {modelCode, loaderBuffer});
//
// - The Soc's RAM regions (the loader buffer, the latch shadow's page) are
//   shared with the core: what the caller put there, the ARM code sees.
// - The image's segments get RAM of their own (code, data, .bss, stack),
//   which must not overlap the Soc's RAM or devices.
// - Every access to a device of the board (flash window, memory controller,
//   UART, OS timer, interrupt controller, reset controller, latch, debug
//   port) goes through the Soc's bus, so it is timed, counted and traced as
//   an access of the host build would be. Anything else stops the core.
//   The flash window is bounded by the board's and no window overlaps
//   another or the RAM; a board that breaks this is refused before the run.
// - A fault stops the core at the faulting access itself: an access to
//   nothing, a device access the bus refuses, a store into the guard pages
//   below the stack (__stack_guard .. __stack_limit), a stack pointer moved
//   below the stack's end, an instruction the SA-1110 lacks (bx, blx, clz,
//   every Thumb or ARMv5 one) or any processor exception. No device sees an
//   access after it.
// - Each instruction takes simulated time (about 5 ns, one cycle at
//   206 MHz) besides the bus accesses, so spin loops end as on the handheld.
// - The run ends at the software reset (ArmEnd::Reset), at a fault, or when
//   the instruction limit is spent (a hung agent).
#pragma once
#include <stdint.h>

#include <string>

#include "sim/soc/elf_image.h"
#include "sim/soc/soc.h"

namespace soc {

enum class ArmEnd { Reset, Fault, Limit };

struct ArmRun {
  ArmEnd end = ArmEnd::Fault;
  // ARM instructions issued, one by one: those whose condition failed
  // included (each takes its cycle), the one that faulted included.
  uint64_t instructions = 0;
  uint32_t pc = 0;            // where the core stopped
  std::string error;          // what went wrong (Fault, Limit)
};

struct ArmStart {
  uint32_t r0 = 0;  // the entry's first two arguments
  uint32_t r1 = 0;
  // Far more than an installation needs (a few million), so only a core
  // that never reaches the reset hits it.
  uint64_t instructionLimit = 2'000'000'000;
};

ArmRun RunArmImage(Soc& soc, const ElfImage& image, const ArmStart& start);

}  // namespace soc
