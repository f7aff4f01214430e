// romwiz-flash's exit codes.
#pragma once

namespace flasher {

constexpr int kExitWritten = 0;      // the whole image went out
constexpr int kExitFailed = 1;       // the port or the transfer failed
constexpr int kExitUsage = 2;        // the command line was wrong
constexpr int kExitRefused = 3;      // the image was refused before anything was sent
constexpr int kExitInterrupted = 130;  // Ctrl-C (128 + SIGINT, as shells report it)

}  // namespace flasher
