// The ROM backup, on the worker thread the backup screen (132) starts.
//
// The handheld's "backup.exe", copied from the language folder into \Temp
// and started with an empty command line, dumps the ROM from flash address 0
// into \Temp\image.nb, one 262144-byte chunk per file, each only once the
// previous file is gone. The worker fetches each chunk, appends it to the
// backup file after the 32-byte header space, sums it, and deletes the
// handheld file so that the next one can come. The header is written last;
// then the file is read back through the same handle and must pass the
// wizard's own image check (ImageChecksumHolds, the check an upgrade and a
// restore make) and hold the whole payload. Only a file that passes sets
// BackupDone. A file that does not, and a backup that fails after the file
// was made, keep the data fetched so far but get a header whose checksum
// field reads "void", which every check refuses (the transfer log says so).
//
// The handheld's program is never stopped by the PC: the handshake has no
// such signal. At the end the worker deletes the program's copy and the
// chunk file as the handshake has it (results ignored).
//
// Screens: the worker never shows a screen itself. It records what its
// failure asks for and ends the backup screen with 2 (with 1 on success);
// once the screen has closed and the worker has ended, the GUI thread calls
// FinishBackup, which shows the error screen, closes the remote API
// connection where the failure says so (the worker no longer uses it) and
// ends the wizard where it says so:
//   backup.exe does not start        "ERROR 106", connection closed, wizard ends
//   the backup file cannot be made   "ERROR 104", the wizard goes on
//   a chunk never comes whole        "ERROR 109", wizard ends
//   a write fails, the read-back     "ERROR 109", the wizard goes on
//   check fails, the worker thread
//   cannot be started
#pragma once
#include <cstdint>
#include <string>

namespace wizard {

constexpr std::uint32_t kBackupChunkBytes = 0x40000;   // one \Temp\image.nb
constexpr std::uint32_t kBackupSizeEnglishNew = 0x1000000;  // English 2.0 and later: 64 chunks
constexpr std::uint32_t kBackupSizeSmall = 0xF80000;        // English before 2.0, European: 62 chunks
constexpr std::uint32_t kBackupSizeLarge = 0x1F80000;       // the other languages: 126 chunks
constexpr float kBackupNewEnglishVersion = 2.0f;

constexpr const char* kBackupProgramName = "backup.exe";
constexpr const char* kBackupProgramDevicePath = "\\Temp\\backup.exe";
constexpr const char* kBackupChunkDevicePath = "\\Temp\\image.nb";
constexpr std::uint32_t kBackupProgramStartMs = 5000;  // after the start, before the first look
constexpr std::uint32_t kChunkAttempts = 2001;        // per chunk, sleep first, then look
constexpr std::uint32_t kChunkAttemptMs = 100;

constexpr int kBackupDone = 1;    // backup screen results
constexpr int kBackupFailed = 2;

// Bytes to fetch for the handheld's language folder name and version text.
std::uint32_t BackupSize(const char* language, const char* version);

// The backup screen is opening: no failure recorded yet.
void BackupScreenOpening();
// The backup screen could not start the worker: recorded as a failed backup
// ("ERROR 109", the wizard goes on); the caller ends the screen with 2.
void BackupWorkerDidNotStart();

// Thread function started by the backup screen.
unsigned long BackupWorker(void* argument);

// On the GUI thread once the backup screen has closed. `workerEnded` tells
// whether the worker has ended; one that has not may still use the remote
// API, so the connection is left alone and the wizard ends.
void FinishBackup(bool workerEnded);

}  // namespace wizard
