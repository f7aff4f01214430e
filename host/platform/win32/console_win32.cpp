// Console seam on Win32: a console control handler takes Ctrl-C and
// Ctrl-Break (SetConsoleCtrlHandler, present since Windows 2000); standard
// error is a console when GetConsoleMode succeeds on its handle.
#include "platform/console.h"

#include <windows.h>

namespace platform {
namespace {

volatile LONG interrupted = 0;

BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing: the default
  InterlockedExchange(&interrupted, 1);
  return TRUE;
}

}  // namespace

void CatchInterrupt() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool Interrupted() { return InterlockedCompareExchange(&interrupted, 0, 0) != 0; }

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace platform
