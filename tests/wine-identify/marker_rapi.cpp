// A planted rapi.dll: when any program loads it, it writes the file named by
// ROMWIZ_MARKER_FILE. Placed beside romwiz.exe, it stands for a library
// dropped into a download folder; the suite checks that the file never
// appears, since romwiz.exe takes the remote API from the system folder only.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("ROMWIZ_MARKER_FILE", path, sizeof path);
  if (n == 0 || n >= sizeof path) return TRUE;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, "loaded\r\n", 8, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
