// Byte text to the memory-mapped debug port, one byte per millisecond.
// Formats: \n (sent as CR LF), %x, %B, %H, %X (upper-case hex, at least 1, 2,
// 4, 8 digits), %d, %u, %c, %s, %%; "%" with any other character sends one
// space. Values are 32-bit words taken in order; %s takes a byte string.
#pragma once
#include <stdint.h>

struct DebugArg {
  uint32_t value = 0;
  const char* text = nullptr;

  DebugArg() = default;
  DebugArg(const char* s) : text(s) {}
  DebugArg(char* s) : text(s) {}
  template <typename T>
  DebugArg(T v) : value(static_cast<uint32_t>(v)) {}
};

// Values the format names beyond `count` print as 0 (or an empty string).
void DebugPrintArgs(const char* format, const DebugArg* args, uint32_t count);

template <typename... T>
void DebugPrint(const char* format, T... values) {
  const DebugArg args[] = {DebugArg(values)..., DebugArg()};
  DebugPrintArgs(format, args, sizeof...(T));
}
