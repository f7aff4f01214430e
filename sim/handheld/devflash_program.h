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
// The agent's own state is process-wide, so runs are one at a time.
#pragma once
#include <cstdint>
#include <string>

#include "programs.h"

namespace handheld {

class Handheld;

enum class AgentEnd { NotStarted, GaveUp, Reset, Hung };

struct DevflashRun {
  AgentEnd end = AgentEnd::NotStarted;
  std::string error;        // why it did not start (NotStarted, Hung)
  std::string debugPort;    // what the agent sent to the debug port
  std::string systemDebug;  // the agent's system debug lines
};

// Registers StartDevflash as the program "Devflash.exe".
void RegisterDevflashProgram();

// The program handler: takes the snapshot (the caller holds the handheld's
// lock, as for every handler) and starts the agent in its own thread.
// 0, or ERROR_BAD_EXE_FORMAT when the handheld's flash cannot be simulated.
std::uint32_t StartDevflash(const ProgramStart& start);

// Runs the agent to its end on this thread (tests). Takes the handheld's
// lock for the snapshot; the caller must not hold it.
DevflashRun RunDevflash(Handheld& handheld, const std::u16string& commandLine);

// Blocks until every agent StartDevflash started has ended.
void WaitForDevflash();

}  // namespace handheld
