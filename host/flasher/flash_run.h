// One romwiz-flash run after the image was accepted: the wizard's download
// (the boot loader path or the loader path) on a worker thread, watched from
// the calling thread the way the wizard's progress screen watches it: the
// same timers (20 s for the loader's answer to the wake-up, 30 s for every
// later message) abandon a stalled transfer, and Ctrl-C abandons it the same
// way. Afterwards the link is shut and the transfer log's session ended.
// No resume record is written, marked or deleted.
#pragma once
#include <cstdint>
#include <cstdio>

#include "flasher/command_line.h"
#include "flasher/image_acceptance.h"

namespace flasher {

// Runs the transfer; progress and notes go to `err`, the closing line to
// `out`. Returns the exit code (kExitWritten, kExitFailed, kExitInterrupted).
int RunFlash(const FlashOptions& options, const ImageVerdict& image, std::FILE* out, std::FILE* err);

// The bytes a transfer of a `fileSize`-byte image sends: the payload from
// 0x40000 on (the boot block never goes).
std::uint64_t BytesToWrite(std::uint64_t fileSize);

}  // namespace flasher
