/* Minimal reproducer of two faults of Wine's serial driver on a
 * pseudo-terminal, independent of romwiz. It opens COM1, starts one
 * overlapped WaitCommEvent for EV_RXCHAR (or, with "read", one overlapped
 * ReadFile) and reports how it ended:
 *   - with no byte on the line, Wine 8.0 ends the wait within milliseconds as
 *     ERROR_OPERATION_ABORTED (995), which no real COM port does;
 *   - if the pseudo-terminal hangs up while the operation is pending, Wine's
 *     server crashes (the client then prints "wineserver crashed").
 * Used by run-wine-serial-repro. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  int readMode = argc > 1 && strcmp(argv[1], "read") == 0;
  HANDLE h = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    printf("open failed: %lu\n", GetLastError());
    return 2;
  }
  COMMTIMEOUTS returnAtOnce = {MAXDWORD, 0, 0, 0, 0};
  SetCommTimeouts(h, &returnAtOnce);
  SetCommMask(h, EV_RXCHAR);
  OVERLAPPED io;
  memset(&io, 0, sizeof io);
  io.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
  DWORD mask = 0, got = 0;
  char byte;
  BOOL done = readMode ? ReadFile(h, &byte, 1, &got, &io) : WaitCommEvent(h, &mask, &io);
  DWORD started = GetTickCount();
  if (!done && GetLastError() != ERROR_IO_PENDING) {
    printf("start failed: %lu\n", GetLastError());
    return 2;
  }
  DWORD waited = WaitForSingleObject(io.hEvent, 15000);
  BOOL ok = GetOverlappedResult(h, &io, &got, FALSE);
  DWORD error = ok ? 0 : GetLastError();
  printf("%s %s after %lu ms: %s %lu\n", readMode ? "read" : "wait",
         waited == WAIT_OBJECT_0 ? "ended" : "still pending", GetTickCount() - started,
         ok ? "success, mask" : "error", ok ? mask : error);
  fflush(stdout);
  CancelIo(h);
  CloseHandle(h);
  return 0;
}
