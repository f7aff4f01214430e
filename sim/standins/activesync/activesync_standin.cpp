// Stands in for ActiveSync's window manager in tests: two top-level windows
// titled "DccMan" and "WCES Manager Thunk Window", kept until the process is
// terminated. Optionally writes its process id to the file named by its
// first argument once both windows exist, so that a test knows when to look.
#include <windows.h>

#include <cstdio>

namespace {

constexpr char kClassName[] = "RomwizActiveSyncStandIn";
constexpr const char* kTitles[] = {"DccMan", "WCES Manager Thunk Window"};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void WriteReadyFile(const char* path) {
  std::FILE* file = std::fopen(path, "w");
  if (file == nullptr) return;
  std::fprintf(file, "%lu\n", GetCurrentProcessId());
  std::fclose(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassA(&windowClass)) return 1;
  for (const char* title : kTitles) {
    // Hidden top-level windows without a parent, like ActiveSync's own.
    if (CreateWindowA(kClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr,
                      instance, nullptr) == nullptr) {
      return 1;
    }
  }
  if (commandLine != nullptr && commandLine[0] != 0) WriteReadyFile(commandLine);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
