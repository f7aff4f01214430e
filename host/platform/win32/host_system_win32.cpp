// Host system seam on Windows: ActiveSync's processes, the PC clock and the
// read-me.
#include "platform/host_system.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "platform/win32/win32_app.h"

namespace hostsys {

namespace {

constexpr int kWindowTextCapacity = 100;

// The first top-level window to visit: the one after the main window in Z
// order. Without a main window (test programs) the whole list is visited.
HWND FirstWindowToVisit() {
  if (win32::App.MainWindow != nullptr) return GetWindow(win32::App.MainWindow, GW_HWNDNEXT);
  return GetTopWindow(nullptr);
}

}  // namespace

void TerminateWindowOwner(const char* title) {
  for (HWND window = FirstWindowToVisit(); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
    if (GetParent(window) != nullptr) continue;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
    char text[kWindowTextCapacity + 1] = {};
    GetWindowTextA(window, text, kWindowTextCapacity);
    if (lstrcmpiA(text, title) == 0) {
      if (process != nullptr) {
        TerminateProcess(process, 0);
        CloseHandle(process);
      }
      return;
    }
    if (process != nullptr) CloseHandle(process);
  }
}

bool StartProgram(const char* program) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  char commandLine[1] = {0};  // empty; CreateProcessA may write to it
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &info)) {
    return false;  // no handles to close
  }
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return true;
}

void ReadClockBlock(std::uint8_t block[kClockBlockSize]) {
  static_assert(sizeof(TIME_ZONE_INFORMATION) + sizeof(SYSTEMTIME) == kClockBlockSize,
                "the clock block is TIME_ZONE_INFORMATION followed by SYSTEMTIME");
  TIME_ZONE_INFORMATION zone;
  std::memset(&zone, 0, sizeof zone);
  GetTimeZoneInformation(&zone);
  SYSTEMTIME utc;
  GetSystemTime(&utc);
  std::memcpy(block, &zone, sizeof zone);
  std::memcpy(block + sizeof zone, &utc, sizeof utc);
}

void OpenReadme(const char* folder) {
  SHELLEXECUTEINFOA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = nullptr;  // the default verb
  info.lpFile = "wordpad.exe";
  info.lpParameters = "readme.doc";
  info.lpDirectory = folder;
  info.nShow = SW_SHOWMAXIMIZED;
  // The result is not used; the process handle asked for is closed so that
  // it does not stay open for the rest of the run.
  if (ShellExecuteExA(&info) && info.hProcess != nullptr) CloseHandle(info.hProcess);
}

}  // namespace hostsys
