// The handheld's "Devflash.exe": the real agent (device/, devflash_core)
// run against a simulated SA-1110 and flash (sim/soc) built from this
// handheld.
//
// On a start the program takes, under the handheld's lock, what the agent
// will see: the board of the handheld's model (5800: two interleaved chips on
// 32 bits; 5300: one chip on 16 bits) with the flash contents of flash.bin,
// the files of \Temp, the OEM information naming the model, the HAL language
// name of the ROM's language and the board's HAL information record. The
// agent then runs in a thread of its own, as a process start on the handheld
// returns at once.
//
// How the run ends:
//   - the agent gives up before the takeover (returns 0): flash.bin and the
//     mode stay as they were; Windows CE runs on;
//   - the agent resets the handheld (soc::DeviceReset): the flash contents are
//     written back to flash.bin (temporary file + rename) and the handheld
//     restarts: with a loader record at 0x60000 its boot code starts the
//     download loader (mode loader; the link watcher picks the loader peer
//     from the loader block's tag), without one Windows CE comes back;
//   - the agent hangs the bus (soc::BusFault): the flash is kept as the chips
//     hold it and the handheld is off until the user resets it.
//
// The takeover phase (from the stop of interrupt handling to the reset) runs
// by default as StrongARM machine code: the image the `arm` preset builds
// (devflash-takeover.elf) on an emulated SA-1110 core (sim/soc/arm_core.h)
// whose device accesses land on the same simulated SoC. AgentCpu::Host runs
// the x86 build of the same sources instead (unit tests, debugging).
// An image that cannot be loaded makes the start fail.
//
// Each run's end, its ARM instruction count and its bus accesses per device
// are written to agent.txt in the state folder (`handheld-sim status`).
//
// The agent's own state is process-wide, so runs are one at a time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "programs.h"

namespace handheld {

class Handheld;

enum class AgentEnd { NotStarted, GaveUp, Reset, Hung };

enum class AgentCpu { Arm, Host };

struct AgentConfig {
  AgentCpu cpu = AgentCpu::Arm;
  std::string takeoverImage;  // empty: DefaultTakeoverImage()
  std::uint64_t armInstructionLimit = 0;  // 0: the core's own (a hung agent ends there)
};

// Why a handheld of model `modelId` cannot carry `flashBytes` of flash
// (empty when it can): the flash must stay inside its window on the bus,
// clear of the other devices.
std::string FlashBoardProblem(const std::string& modelId, std::uint64_t flashBytes);

// The takeover image used without --takeover: the installed one
// (<prefix>/lib/romwiz/devflash-takeover.elf beside <prefix>/bin/), else the
// one the native build makes beside itself (arm-takeover/device/ in the
// build folder).
std::string DefaultTakeoverImage();
// For every agent started from now on in this process.
void ConfigureAgent(const AgentConfig& config);
AgentConfig CurrentAgentConfig();

// A bus access the takeover made, in order (RAM and timer reads left out).
struct AgentBusEvent {
  bool write;
  std::uint8_t bytes;
  std::uint32_t address;
  std::uint32_t value;
  std::string device;  // "flash", "memory", "uart", ...
};

struct DevflashRun {
  AgentEnd end = AgentEnd::NotStarted;
  std::string error;        // why it did not start (NotStarted, Hung)
  std::string debugPort;    // what the agent sent to the debug port
  std::string systemDebug;  // the agent's system debug lines
  AgentCpu cpu = AgentCpu::Arm;
  std::uint64_t armInstructions = 0;  // ARM instructions of the takeover
  std::vector<std::pair<std::string, std::uint64_t>> busAccesses;  // per device, non-zero only
  std::vector<AgentBusEvent> trace;   // when traced (RunDevflash with trace)
  std::vector<std::string> violations;  // requests the handheld refused, faults the SoC saw
};

// Registers StartDevflash as the program "Devflash.exe".
void RegisterDevflashProgram();

// The program handler: takes the snapshot (the caller holds the handheld's
// lock, as for every handler) and starts the agent in its own thread.
// 0, or ERROR_BAD_EXE_FORMAT when the handheld's flash cannot be simulated.
std::uint32_t StartDevflash(const ProgramStart& start);

// Runs the agent to its end on this thread (tests). Takes the handheld's
// lock for the snapshot; the caller must not hold it.
// With `trace`, the run's device accesses are kept in DevflashRun::trace.
DevflashRun RunDevflash(Handheld& handheld, const std::u16string& commandLine, bool trace = false);

// What the last run wrote to agent.txt, as `key=value` lines ("" if none).
std::string LastAgentRunText(const std::string& folder);

// Blocks until every agent StartDevflash started has ended.
void WaitForDevflash();

}  // namespace handheld
