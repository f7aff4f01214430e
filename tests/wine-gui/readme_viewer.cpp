// Stands in for WordPad in the click-through suite: registered under
// WordPad's App Paths entry, it writes the folder it was started in and its
// command line to the file named by ROMWIZ_README_LOG, then ends.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  char log[MAX_PATH] = {};
  if (GetEnvironmentVariableA("ROMWIZ_README_LOG", log, sizeof log) == 0) return 1;
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof folder, folder);
  std::FILE* file = std::fopen(log, "w");
  if (file == nullptr) return 1;
  std::fprintf(file, "folder=%s\nparameters=%s\n", folder, commandLine != nullptr ? commandLine : "");
  std::fclose(file);
  return 0;
}
