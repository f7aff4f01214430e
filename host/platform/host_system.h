// Host system seam: ActiveSync's processes, the PC clock, opening the read-me.
// Linux has no ActiveSync: see the posix implementation for its equivalents.
#pragma once
#include <cstdint>

namespace hostsys {

// Terminates the process that owns the top-level window titled `title`
// (case-insensitive), visiting windows below the wizard's main window in Z order.
void TerminateWindowOwner(const char* title);
// Starts `program` with an empty command line in a new console, shown.
// Returns true when the process was created (its handles are closed).
bool StartProgram(const char* program);
// The 172-byte TIME_ZONE_INFORMATION followed by the 16-byte SYSTEMTIME (UTC).
constexpr std::uint32_t kClockBlockSize = 188;
void ReadClockBlock(std::uint8_t block[kClockBlockSize]);
// ShellExecuteExA of "wordpad.exe readme.doc" in `folder`, maximised.
void OpenReadme(const char* folder);

}  // namespace hostsys
