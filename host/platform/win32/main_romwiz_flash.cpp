// Entry of romwiz-flash.exe: the command-line flasher as a Windows console
// program, for the same Windows versions as romwiz.exe.
#include <cstdio>

#include "flasher/flasher.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  platform::CatchInterrupt();
  return flasher::RunCommandLine(argc, argv, stdout, stderr);
}
