// Entry of romwiz-flash on Linux: the command-line flasher over a serial
// cable. ROMWIZ_TIME_SCALE divides its waits as it does the wizard's (tests).
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "flasher/flasher.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace {

constexpr unsigned long kLargestTimeScale = 1000000;

void ApplyTimeScale() {
  const char* text = std::getenv("ROMWIZ_TIME_SCALE");
  if (text == nullptr || text[0] == 0) return;
  char* end = nullptr;
  unsigned long divisor = std::strtoul(text, &end, 10);
  if (*end == 0 && divisor >= 1 && divisor <= kLargestTimeScale) {
    platform::SetTimeScale(static_cast<std::uint32_t>(divisor));
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A handheld that drops the link must not end the program with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  ApplyTimeScale();
  platform::CatchInterrupt();
  return flasher::RunCommandLine(argc, argv, stdout, stderr);
}
