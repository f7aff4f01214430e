// Console seam on Linux: SIGINT sets a flag; standard error is a terminal
// when isatty says so.
#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace platform {
namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted.store(true); }

}  // namespace

void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep or poll in progress returns early, and every
  // wait of the program runs in short slices anyway.
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return interrupted.load(); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace platform
