#include "breach_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace standin {
namespace {

constexpr DWORD kLineCapacity = 400;
constexpr DWORD kPathCapacity = MAX_PATH;

}  // namespace

void RecordBreach(const char* format, ...) {
  char line[kLineCapacity];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(line, sizeof line - 2, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  if (static_cast<DWORD>(length) > sizeof line - 3) length = static_cast<int>(sizeof line - 3);
  line[length++] = '\r';
  line[length++] = '\n';
  line[length] = 0;
  OutputDebugStringA(line);

  char path[kPathCapacity] = {};
  const DWORD n = GetEnvironmentVariableA(kBreachLogVariable, path, sizeof path);
  if (n == 0 || n >= sizeof path) return;
  // Opened for each line and shared, so that the lines of several programs
  // of one run (and of threads of one program) all land whole.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

}  // namespace standin
