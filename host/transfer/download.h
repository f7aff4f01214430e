// The download of a ROM image into the handheld's flash, on the worker thread
// that the download progress screen (102) starts. Two peers can receive it:
//
// Loader path (the download loader devflash installed):
//   PC "A"  ->  loader 0x05 0x00 (one stray byte ahead is tolerated)
//   PC image length (4 bytes, little-endian)
//   then for every request 0x04 0x00 one 128 KB piece: the payload from
//   0x80000 to its end, and last the loader block (payload 0x40000..0x7FFFF)
//   as two pieces. The boot block (payload 0..0x3FFFF) is never sent.
//
// Boot loader path (after a failure in the critical stretch):
//   PC "l\r"; then, in any order, the erase prompt 0x01 is answered with
//   (address, 0xF40000), the block prompt 0x02 with a 12-byte header
//   (address, 0x40000, 0) and a 256 KB block, and a text holding "download"
//   with "B000FF\n". Blocks run from payload 0x40000 to the payload's end.
//
// A final short piece or block is padded with 0xFF (erased flash) and the
// padded length is announced. A payload shorter than 512 KB (boot block and
// loader block) is refused before anything is sent.
//
// Resources and their one owner: the worker allocates PieceBufferA,
// PieceBufferB and ImageFileHandle and holds them while it runs. The screen
// that ends the transfer (abandon by a timer, the after-transfer screen)
// calls ReleaseTransferBuffers, which sets StopWorkers first and frees them
// only when the worker has let go; otherwise the worker frees them itself on
// its way out. Either way they are freed exactly once and never under the
// worker, and the GUI thread never waits for the worker.
//
// Screens: the worker never shows a screen itself. When the image cannot be
// used it records the error screen and ends the progress screen with 2; the
// progress screen's closing, on the GUI thread, shows it and ends the wizard
// (ShowTransferError).
#pragma once
#include <atomic>
#include <cstdint>

#include "image/image_file.h"
#include "platform/pc_files.h"

namespace wizard {

// Wire sizes and values.
constexpr std::uint32_t kPieceSize = 0x20000;             // loader piece, 128 KB
constexpr std::uint32_t kBlockSize = 0x40000;             // boot loader block, 256 KB
constexpr std::uint32_t kLoaderBlockOffset = 0x40000;     // payload offset of the loader block
constexpr std::uint32_t kLoaderBlockSize = 0x40000;
constexpr std::uint32_t kFirstFilePieceOffset = 0x80000;  // payload sent from the file first
// The image's header and boot block: read, never sent.
constexpr std::uint32_t kHeaderAndBootBlock = 0x40020;
constexpr std::uint32_t kPieceBufferSize = 0x40000;       // PieceBufferA and B, loader path
constexpr std::uint32_t kBootLoaderBufferSize = 0x40020;  // PieceBufferA, boot loader path
constexpr std::uint32_t kEraseLength = 0xF40000;
constexpr std::uint8_t kPadByte = 0xFF;                   // erased flash

// Timers of the progress screen, in wizard milliseconds.
constexpr int kMessageTimer = 1;
constexpr std::uint32_t kMessageTimerMs = 30000;
constexpr int kWakeUpTimer = 2;
constexpr std::uint32_t kWakeUpTimerMs = 20000;
constexpr std::uint32_t kResumeSettleMs = 5000;  // resume worker, before the link starts
constexpr std::uint32_t kTransferPollMs = 1;

// The download progress screen, which runs the transfer, and its results.
constexpr int kDownloadProgressScreen = 102;
constexpr int kTransferred = 1;     // the image went out
constexpr int kNotTransferred = 2;  // it did not (abandoned, refused, failed)

// Screens the transfer asks for ("ERROR 104" is identification's
// kCannotOpenImageScreen).
constexpr int kIncompatibleImageScreen = 123;  // "ERROR 100: INCOMPATIBLE IMAGE"

// The worker's resources (null when not held). Read them only on the worker.
extern std::atomic<std::uint8_t*> PieceBufferA;
extern std::atomic<std::uint8_t*> PieceBufferB;
extern std::atomic<pc::File*> ImageFileHandle;

// The loader path. 1 when the whole image went out and the progress screen
// ended with 1; 0 otherwise (unusable image, abandon, dead link).
int LoaderTransfer();
// The boot loader path: starts the boot loader link itself.
void BootLoaderTransfer();

// Thread functions started by the progress screen (upgrade and resume forms).
unsigned long UpgradeDownloadWorker(void* argument);
unsigned long ResumeDownloadWorker(void* argument);

// Abandon (a progress screen's timer) and screen 167: StopWorkers := 1, then
// the buffers and the file are freed now if the worker has let go of them,
// else by the worker as it leaves. Never blocks. Any thread, any number of times.
void ReleaseTransferBuffers();
// Screen 167: the link shut down (ShutDownLink), then the buffers and file.
void ShutDownTransfer();

// The error screen a worker asked for (0: none); taking it clears it.
int TakeTransferErrorScreen();
// On the GUI thread once the progress screen has closed: shows the error
// screen a worker asked for, if any, and ends the wizard.
void ShowTransferError();

// For tests: how many times a held buffer or file was actually freed since
// the process started (each release frees all three together).
std::uint32_t TransferReleases();

// Percentage of `position` in `total`, in 64 bits; 0 for an empty total and
// at most 99 while the transfer runs (100 is set when it has ended).
unsigned RunningPercent(std::uint64_t position, std::uint64_t total);

}  // namespace wizard
