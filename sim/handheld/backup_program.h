// The handheld's "backup.exe": once started it dumps the flash, from address
// 0, into "\Temp\image.nb", one 262144-byte chunk per file. It writes a chunk
// only after the previous file is gone (the PC has fetched and deleted it),
// and it runs until the end of the flash or until the handheld resets (or
// leaves Windows CE); deleting "\Temp\backup.exe" does not end it.
//
// Each chunk is written in a few pieces a short time apart, each piece
// opened, appended and closed, so that the PC may find a file that is still
// growing; a piece waits while the PC holds the file open.
//
// Faults (state.txt): backup_stall_after_chunks N writes N chunks, then no
// more; backup_short_chunk N leaves chunk N (1 = the first) kBackupShortBytes
// short; backup_slow_chunk N with backup_slow_ms M holds chunk N back M real
// milliseconds before writing it.
//
// The program starts only from a whole copy of its file (ProgramFileText).
#pragma once
#include <cstdint>
#include <string>

#include "programs.h"

namespace handheld {

constexpr std::uint32_t kBackupChunkBytes = 262144;
constexpr std::uint32_t kBackupShortBytes = 1000;
constexpr const char16_t* kBackupProgramPath = u"\\Temp\\backup.exe";
constexpr const char16_t* kBackupChunkPath = u"\\Temp\\image.nb";

// The program handler (the caller holds the handheld's lock).
std::uint32_t StartBackupProgram(const ProgramStart& start);

// Chunks written whole or in part since the process started, and chunks the
// PC deleted before they were whole: a sound PC never does (tests).
std::uint32_t BackupChunksStarted();
std::uint32_t BackupChunksCutShort();

}  // namespace handheld
