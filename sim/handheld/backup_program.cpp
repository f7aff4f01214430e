#include "backup_program.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>
#include <vector>

#include "handheld.h"
#include "wire/rapi_protocol.h"

namespace handheld {
namespace {

// A chunk goes out in this many pieces, this many real milliseconds apart.
constexpr std::uint32_t kPiecesPerChunk = 4;
constexpr auto kPieceGap = std::chrono::milliseconds(2);
// How often the program looks whether the PC has taken the last chunk.
constexpr auto kPollGap = std::chrono::milliseconds(1);

std::atomic<std::uint32_t> chunksStarted{0};
std::atomic<std::uint32_t> chunksCutShort{0};

// How often a held-back chunk looks whether the program is to end.
constexpr auto kHoldGap = std::chrono::milliseconds(10);

enum class Step { Go, Wait, Stop };

// What the program runs in: the Windows CE session it was started in. A
// reset (the boot count moves) or a mode other than Windows CE ends it.
struct Run {
  const std::atomic<bool>& stop;
  std::uint32_t boots;
};

// The program runs on until the stop (the handheld object goes, or a newer
// start replaces it) or a reset; deleting its file does not end it, as on
// a handheld the running program's file is its own.
bool StillRunning(Handheld& handheld, const Run& run) {
  if (run.stop) return false;
  const HandheldState state = handheld.State();
  return state.mode == Mode::WinCE && state.boots == run.boots;
}

Step WaitForEmptySlot(Handheld& handheld, const Run& run) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(handheld.Lock());
      if (!StillRunning(handheld, run)) return Step::Stop;
      if (!handheld.DeviceFileExists(kBackupChunkPath)) return Step::Go;
    }
    std::this_thread::sleep_for(kPollGap);
  }
}

// A slow handheld: the chunk is held back `ms` before it is written; false
// when the program is to end meanwhile.
bool HoldBack(Handheld& handheld, const Run& run, std::uint64_t ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    {
      std::lock_guard<std::mutex> guard(handheld.Lock());
      if (!StillRunning(handheld, run)) return false;
    }
    std::this_thread::sleep_for(kHoldGap);
  }
  return true;
}

// A program that ends inside a chunk takes its unfinished file away: a later
// start waits for an empty slot, so a part left behind would stall it for
// good, or reach the PC as the first chunk of the new dump. Under the
// handheld's lock; the file is ours when it holds just what we wrote.
void RemoveUnfinishedChunk(Handheld& handheld, std::size_t written) {
  std::vector<std::uint8_t> bytes;
  if (written > 0 && handheld.ReadDeviceFile(kBackupChunkPath, bytes) && bytes.size() == written)
    handheld.DeleteFile(kBackupChunkPath);
}

// One piece, after `written` bytes of its chunk: Go when written, Wait while
// the PC holds the file open, Stop when the program is to end; `cut` when the
// file went before it was whole.
Step AppendPiece(Handheld& handheld, const Run& run, const std::vector<std::uint8_t>& piece, std::size_t written,
                 bool& cut) {
  std::lock_guard<std::mutex> guard(handheld.Lock());
  if (!StillRunning(handheld, run)) {
    RemoveUnfinishedChunk(handheld, written);
    return Step::Stop;
  }
  const std::uint32_t error = handheld.AppendDeviceFile(kBackupChunkPath, piece, written == 0);
  if (error == RAPI_ERROR_SHARING_VIOLATION) return Step::Wait;
  if (error != 0) cut = true;
  return Step::Go;
}

bool ReadFlash(const std::string& path, std::uint64_t offset, std::uint32_t length, std::vector<std::uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  out.resize(length);
  in.read(reinterpret_cast<char*>(out.data()), length);
  out.resize(static_cast<std::size_t>(in.gcount()));
  return !out.empty();
}

std::uint64_t FlashSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<std::uint64_t>(in.tellg()) : 0;
}

// Writes one chunk in pieces; false when the program is to end.
bool WriteChunk(Handheld& handheld, const Run& run, const std::vector<std::uint8_t>& chunk, std::uint64_t number) {
  ++chunksStarted;
  const std::size_t pieceBytes = (chunk.size() + kPiecesPerChunk - 1) / kPiecesPerChunk;
  for (std::size_t at = 0; at < chunk.size();) {
    const std::size_t length = std::min(pieceBytes, chunk.size() - at);
    const std::vector<std::uint8_t> piece(chunk.begin() + static_cast<std::ptrdiff_t>(at),
                                          chunk.begin() + static_cast<std::ptrdiff_t>(at + length));
    bool cut = false;
    const Step step = AppendPiece(handheld, run, piece, at, cut);
    if (step == Step::Stop) return false;
    if (cut) {
      ++chunksCutShort;
      std::cerr << "handheld-sim: backup.exe: \\Temp\\image.nb of chunk " << number
                << " went before it was whole\n";
      return true;
    }
    if (step == Step::Go) at += length;
    std::this_thread::sleep_for(kPieceGap);
  }
  return true;
}

void RunBackup(Handheld& handheld, const Run& run, Faults faults) {
  const std::string flash = handheld.FlashPath();
  const std::uint64_t size = FlashSize(flash);
  std::uint64_t number = 1;
  for (std::uint64_t offset = 0; offset < size; offset += kBackupChunkBytes, ++number) {
    if (faults.backupStallAfterChunks != kNoLinkFault && number > faults.backupStallAfterChunks) return;
    if (WaitForEmptySlot(handheld, run) == Step::Stop) return;
    if (number == faults.backupSlowChunk && !HoldBack(handheld, run, faults.backupSlowMs)) return;
    std::vector<std::uint8_t> chunk;
    if (!ReadFlash(flash, offset, kBackupChunkBytes, chunk)) return;
    if (number == faults.backupShortChunk && chunk.size() > kBackupShortBytes)
      chunk.resize(chunk.size() - kBackupShortBytes);
    if (!WriteChunk(handheld, run, chunk, number)) return;
  }
}

bool WholeProgramFile(Handheld& handheld, const std::u16string& path) {
  std::vector<std::uint8_t> bytes;
  const std::string expected = ProgramFileText("backup.exe");
  return handheld.ReadDeviceFile(path, bytes) && std::string(bytes.begin(), bytes.end()) == expected;
}

}  // namespace

std::uint32_t StartBackupProgram(const ProgramStart& start) {
  if (!WholeProgramFile(start.handheld, start.path)) {
    std::cerr << "handheld-sim: backup.exe does not start: its file is not a whole copy\n";
    return RAPI_ERROR_BAD_EXE_FORMAT;
  }
  const HandheldState state = start.handheld.State();
  const Faults faults = state.faults;
  const std::uint32_t boots = state.boots;
  StartProgramWork(start.handheld, "backup.exe", [faults, boots](Handheld& handheld, const std::atomic<bool>& stop) {
    RunBackup(handheld, Run{stop, boots}, faults);
  });
  return 0;
}

std::uint32_t BackupChunksStarted() { return chunksStarted; }
std::uint32_t BackupChunksCutShort() { return chunksCutShort; }

}  // namespace handheld
