#include "sim/soc/arm_core.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace soc {

namespace {

constexpr uint64_t kPageBytes = 0x1000;
// The SA-1110 at 206 MHz retires about one instruction per cycle. Charging
// the time makes the agent's pure spin loops take simulated time, as on the
// handheld, instead of spinning for ever between two bus accesses.
constexpr uint64_t kNsPerInstruction = 5;

uint64_t PageDown(uint64_t a) { return a & ~(kPageBytes - 1); }
uint64_t PageUp(uint64_t a) { return (a + kPageBytes - 1) & ~(kPageBytes - 1); }

std::string Hex(uint64_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

// Everything the callbacks need; lives for one run.
struct Core {
  Soc& soc;
  uc_engine* uc = nullptr;
  uint64_t instructions = 0;
  uint64_t limit = 0;
  uint32_t stackLimit = 0;  // 0: the image names no stack
  uint32_t stackTop = 0;
  uint32_t stackGuard = 0;  // start of the inaccessible pages below stackLimit
  bool onStack = false;     // the start code has set the stack pointer
  bool reset = false;
  bool limitHit = false;
  std::string fault;

  // Once the run is over (fault, limit or reset) no device sees another
  // access, even one the emulator still makes before it stops.
  bool Over() const { return reset || limitHit || !fault.empty(); }
};

// One device window of the board as the core maps it.
struct DeviceWindow {
  Core* core;
  uint32_t base;
};

void Stop(Core& core, const std::string& why) {
  if (core.fault.empty()) core.fault = why;
  uc_emu_stop(core.uc);
}

// A device access the bus refused (it threw) or the core cannot make ends
// the run at that access: the hook per instruction checks for the stop
// before the next one, so nothing after it runs, and the device models are
// not reached again (Over).
uint64_t DeviceRead(uc_engine*, uint64_t offset, unsigned size, void* user) {
  auto* window = static_cast<DeviceWindow*>(user);
  Core& core = *window->core;
  if (core.Over()) return 0;
  const uint32_t address = window->base + static_cast<uint32_t>(offset);
  try {
    switch (size) {
      case 1: return core.soc.Read8(address);
      case 2: return core.soc.Read16(address);
      case 4: return core.soc.Read32(address);
    }
    Stop(core, std::to_string(size) + "-byte read at " + Hex(address));
  } catch (const std::exception& e) {
    Stop(core, e.what());
  }
  return 0;
}

void DeviceWrite(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
  auto* window = static_cast<DeviceWindow*>(user);
  Core& core = *window->core;
  if (core.Over()) return;
  const uint32_t address = window->base + static_cast<uint32_t>(offset);
  try {
    switch (size) {
      case 1: core.soc.Write8(address, static_cast<uint8_t>(value)); return;
      case 2: core.soc.Write16(address, static_cast<uint16_t>(value)); return;
      case 4: core.soc.Write32(address, static_cast<uint32_t>(value)); return;
    }
    Stop(core, std::to_string(size) + "-byte write at " + Hex(address));
  } catch (const std::exception& e) {
    Stop(core, e.what());
  }
}

// Before every instruction: the count, the time it takes, the limit and the
// stack. A stop asked for here takes effect before the instruction runs.
// The count is of instructions issued, those whose condition failed
// included (each takes its cycle on the SA-1110 too).
void BeforeInstruction(uc_engine* uc, uint64_t, uint32_t, void* user) {
  Core& core = *static_cast<Core*>(user);
  if (core.Over()) {
    uc_emu_stop(uc);
    return;
  }
  if (core.instructions == core.limit) {
    core.limitHit = true;
    uc_emu_stop(uc);
    return;
  }
  if (core.stackLimit != 0) {
    uint32_t sp = 0;
    uc_reg_read(uc, UC_ARM_REG_SP, &sp);
    if (sp > core.stackLimit && sp <= core.stackTop) core.onStack = true;
    // A stack pointer moved below the stack's end, once the start code has
    // set it: stopped before anything is stored there.
    if (core.onStack && sp < core.stackLimit) {
      Stop(core, "stack overflow: sp " + Hex(sp) + " is below the stack's end " + Hex(core.stackLimit));
      return;
    }
  }
  ++core.instructions;
  core.soc.Clock().AdvanceNs(kNsPerInstruction);
}

bool InGuard(const Core& core, uint64_t address) {
  return core.stackGuard != 0 && address >= core.stackGuard && address < core.stackLimit;
}

bool InvalidAccess(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
  Core& core = *static_cast<Core*>(user);
  const bool fetch = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT;
  const bool write = type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT;
  const std::string access = std::string(fetch ? "instruction fetch" : write ? "write" : "read") + " of " +
                             std::to_string(size) + " bytes at " + Hex(address);
  if (core.fault.empty())
    core.fault = InGuard(core, address) ? "stack overflow: " + access + ", below the stack's end " +
                                              Hex(core.stackLimit)
                                        : access + ": nothing there";
  return false;  // the access does not happen; the run ends here
}

// An instruction the SA-1110 does not have (an ARMv4 core without Thumb:
// no bx, blx or clz) is undefined there.
bool UndefinedInstruction(uc_engine* uc, void* user) {
  Core& core = *static_cast<Core*>(user);
  uint32_t pc = 0, word = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  if (core.fault.empty()) {
    core.fault = uc_mem_read(uc, pc, &word, sizeof word) == UC_ERR_OK
                     ? "undefined instruction " + Hex(word) + ": the SA-1110 has no such instruction"
                     : std::string("undefined instruction");
  }
  return false;
}

// Any processor exception (undefined instruction, software interrupt,
// abort): the takeover code installs no vectors, so it is a fault.
void Exception(uc_engine* uc, uint32_t number, void* user) {
  Core& core = *static_cast<Core*>(user);
  constexpr uint32_t kUndefined = 1;  // the emulator's number for an undefined instruction
  if (number == kUndefined) {
    UndefinedInstruction(uc, user);
    uc_emu_stop(uc);
    return;
  }
  Stop(core, "processor exception " + std::to_string(number) + " (the takeover code has no vectors)");
}

// Adds every hook the run relies on; empty, or why one could not be added.
std::string AddHooks(Core& core) {
  struct Wanted {
    int type;
    void* callback;
    const char* what;
  };
  const Wanted wanted[] = {
      {UC_HOOK_CODE, reinterpret_cast<void*>(BeforeInstruction), "the instruction count"},
      {UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(InvalidAccess), "the access check"},
      {UC_HOOK_INSN_INVALID, reinterpret_cast<void*>(UndefinedInstruction), "the undefined-instruction check"},
      {UC_HOOK_INTR, reinterpret_cast<void*>(Exception), "the exception check"},
  };
  for (const Wanted& w : wanted) {
    uc_hook hook;
    // begin 1 > end 0: the hook covers every address.
    if (uc_err error = uc_hook_add(core.uc, &hook, w.type, w.callback, &core, 1, 0); error != UC_ERR_OK)
      return std::string("cannot add ") + w.what + " to the ARM emulator: " + uc_strerror(error);
  }
  return {};
}

bool Overlaps(uint64_t a, uint64_t aBytes, uint64_t b, uint64_t bBytes) {
  return a < b + bBytes && b < a + aBytes;
}

// The board's device windows as the core maps them: the flash window as
// large as the chips behind it (never beyond the board's window), each
// register block its page. The board's windows do not overlap
// (BoardProblem), so neither do these, once pages shared by two blocks are
// mapped once.
std::vector<std::pair<uint32_t, uint32_t>> DevicePages(const Soc& soc) {
  const Board& b = soc.BoardTable();
  const uint64_t flashBytes = std::min<uint64_t>(PageUp(soc.Flash().SizeBytes()), b.flashWindowBytes);
  std::vector<std::pair<uint32_t, uint32_t>> pages = {{b.flashWindow, static_cast<uint32_t>(flashBytes)}};
  for (const DeviceWindowRange& w : DeviceWindows(b)) {
    if (w.base == b.flashWindow) continue;
    const uint32_t page = static_cast<uint32_t>(PageDown(w.base));
    bool known = false;
    for (const auto& [base, bytes] : pages) known = known || Overlaps(page, kPageBytes, base, bytes);
    if (!known) pages.push_back({page, static_cast<uint32_t>(kPageBytes)});
  }
  return pages;
}

// The guard below the stack: whole pages inside the image, left without
// access once the image is loaded.
std::string GuardStack(Core& core) {
  if (core.stackLimit == 0) return {};
  if (core.stackGuard == 0) return "the image names a stack but no guard below it (__stack_guard)";
  if (core.stackGuard % kPageBytes != 0 || core.stackLimit % kPageBytes != 0)
    return "the image's stack guard " + Hex(core.stackGuard) + ".." + Hex(core.stackLimit) + " is not whole pages";
  if (uc_mem_protect(core.uc, core.stackGuard, core.stackLimit - core.stackGuard, UC_PROT_NONE) != UC_ERR_OK)
    return "cannot guard the image's stack at " + Hex(core.stackGuard);
  return {};
}

std::string MapMemory(Core& core, const ElfImage& image, std::vector<std::unique_ptr<DeviceWindow>>& windows) {
  if (std::string problem = BoardProblem(core.soc.BoardTable(), core.soc.Flash().SizeBytes()); !problem.empty())
    return problem;
  std::vector<std::pair<uint64_t, uint64_t>> taken;
  for (const Soc::RamView& ram : core.soc.RamRegions()) {
    if (uc_mem_map_ptr(core.uc, ram.base, ram.bytes, UC_PROT_ALL, ram.data) != UC_ERR_OK)
      return "cannot map the RAM at " + Hex(ram.base);
    taken.push_back({ram.base, ram.bytes});
  }
  for (const auto& [base, bytes] : DevicePages(core.soc)) {
    for (const auto& [used, size] : taken)
      if (Overlaps(base, bytes, used, size))
        return "the device window at " + Hex(base) + " overlaps the handheld's memory at " + Hex(used);
    windows.push_back(std::make_unique<DeviceWindow>(DeviceWindow{&core, base}));
    if (uc_mmio_map(core.uc, base, bytes, DeviceRead, windows.back().get(), DeviceWrite,
                    windows.back().get()) != UC_ERR_OK)
      return "cannot map the device window at " + Hex(base);
    taken.push_back({base, bytes});
  }
  for (const ElfSegment& segment : image.segments) {
    const uint64_t start = PageDown(segment.address);
    const uint64_t bytes = PageUp(uint64_t{segment.address} + segment.memoryBytes) - start;
    for (const auto& [base, size] : taken)
      if (Overlaps(start, bytes, base, size))
        return "the image's segment at " + Hex(segment.address) + " overlaps the handheld's memory at " + Hex(base);
    if (uc_mem_map(core.uc, start, bytes, UC_PROT_ALL) != UC_ERR_OK ||
        uc_mem_write(core.uc, segment.address, segment.bytes.data(), segment.bytes.size()) != UC_ERR_OK)
      return "cannot load the image's segment at " + Hex(segment.address);
    taken.push_back({start, bytes});
  }
  return GuardStack(core);
}

}  // namespace

ArmRun RunArmImage(Soc& soc, const ElfImage& image, const ArmStart& start) {
  ArmRun run;
  Core core{soc, nullptr, 0, 0, 0, 0, 0, false, false, false, {}};
  core.limit = start.instructionLimit;
  core.stackLimit = image.stackLimit;
  core.stackTop = image.stackTop;
  core.stackGuard = image.stackGuard;
  if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &core.uc) != UC_ERR_OK) {
    run.error = "cannot start the ARM emulator";
    return run;
  }
  std::unique_ptr<uc_engine, decltype(&uc_close)> closer(core.uc, uc_close);
  if (uc_ctl_set_cpu_model(core.uc, UC_CPU_ARM_SA1110) != UC_ERR_OK) {
    run.error = "the ARM emulator has no SA-1110";
    return run;
  }
  std::vector<std::unique_ptr<DeviceWindow>> windows;
  if (std::string error = MapMemory(core, image, windows); !error.empty()) {
    run.error = error;
    return run;
  }
  // Without its hooks the run would have no limit, no stack guard and no count.
  if (std::string error = AddHooks(core); !error.empty()) {
    run.error = error;
    return run;
  }

  // The reset ends the run instead of unwinding through the emulator.
  soc.SetResetHook([&core](Soc&) {
    core.reset = true;
    uc_emu_stop(core.uc);
  });
  uc_reg_write(core.uc, UC_ARM_REG_R0, &start.r0);
  uc_reg_write(core.uc, UC_ARM_REG_R1, &start.r1);
  const uc_err result = uc_emu_start(core.uc, image.entry, 0, 0, 0);
  soc.SetResetHook(nullptr);

  uint32_t pc = 0;
  uc_reg_read(core.uc, UC_ARM_REG_PC, &pc);
  run.pc = pc;
  run.instructions = core.instructions;
  if (core.reset) {
    run.end = ArmEnd::Reset;
  } else if (core.limitHit) {
    run.end = ArmEnd::Limit;
    run.error = "no reset after " + std::to_string(core.instructions) + " ARM instructions (pc " + Hex(pc) + ")";
  } else {
    run.end = ArmEnd::Fault;
    run.error = !core.fault.empty() ? core.fault
                : result != UC_ERR_OK ? std::string(uc_strerror(result))
                                      : std::string("the ARM code stopped without a reset");
    run.error += " (pc " + Hex(pc) + ")";
  }
  return run;
}

}  // namespace soc
