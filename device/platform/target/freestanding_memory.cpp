// The four memory routines a freestanding C++ compiler may call on its own
// (structure copies and clears). The bare image links no C library.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* dest, int value, size_t bytes) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  for (size_t i = 0; i < bytes; ++i) d[i] = static_cast<uint8_t>(value);
  return dest;
}

void* memcpy(void* dest, const void* src, size_t bytes) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  const auto* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < bytes; ++i) d[i] = s[i];
  return dest;
}

void* memmove(void* dest, const void* src, size_t bytes) {
  auto* d = static_cast<volatile uint8_t*>(dest);
  const auto* s = static_cast<const uint8_t*>(src);
  if (d < s) {
    for (size_t i = 0; i < bytes; ++i) d[i] = s[i];
  } else {
    for (size_t i = bytes; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return dest;
}

int memcmp(const void* a, const void* b, size_t bytes) {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  for (size_t i = 0; i < bytes; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"
