#include "startup/wide_text.h"

uint32_t WideLength(const char16_t* s) {
  uint32_t n = 0;
  while (s != nullptr && s[n] != u'\0') ++n;
  return n;
}

bool WideEqual(const char16_t* a, const char16_t* b) {
  while (*a != u'\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

bool WideContains(const char16_t* haystack, const char16_t* needle) {
  const uint32_t n = WideLength(needle);
  for (const char16_t* p = haystack; *p != u'\0'; ++p) {
    uint32_t i = 0;
    while (i < n && p[i] == needle[i]) ++i;
    if (i == n) return true;
  }
  return n == 0;
}

void WideCopy(char16_t* dest, uint32_t capacity, const char16_t* src) {
  if (capacity == 0) return;
  dest[0] = u'\0';
  WideAppend(dest, capacity, src);
}

void WideAppend(char16_t* dest, uint32_t capacity, const char16_t* src) {
  uint32_t n = WideLength(dest);
  for (; src != nullptr && *src != u'\0' && n + 1 < capacity; ++src) dest[n++] = *src;
  if (n < capacity) dest[n] = u'\0';
}

void WideFromUnsigned(uint32_t value, char16_t* dest, uint32_t capacity) {
  char16_t digits[10];
  uint32_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  uint32_t out = 0;
  while (n > 0 && out + 1 < capacity) dest[out++] = digits[--n];
  if (capacity > 0) dest[out] = u'\0';
}

void ClearBytes(void* dest, uint32_t bytes) {
  uint8_t* p = static_cast<uint8_t*>(dest);
  for (uint32_t i = 0; i < bytes; ++i) p[i] = 0;
}
