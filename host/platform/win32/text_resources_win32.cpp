// Text resources seam on Windows: LoadStringA on the program's string tables.
#include "platform/text_resources.h"

#include <windows.h>

namespace platform {

int LoadText(int id, char* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  buffer[0] = 0;  // a missing string leaves the buffer empty
  // The strings live in the module that made the process (romwiz.exe, or a
  // test program that links the same string tables).
  return LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, capacity);
}

}  // namespace platform
