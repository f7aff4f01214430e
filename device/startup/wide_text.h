// Small wide-string and memory helpers of the agent (the handheld's wcs* and
// mem* calls). Wide characters are UTF-16 code units.
#pragma once
#include <stdint.h>

uint32_t WideLength(const char16_t* s);
bool WideEqual(const char16_t* a, const char16_t* b);
bool WideContains(const char16_t* haystack, const char16_t* needle);
// Copies at most capacity - 1 characters and terminates.
void WideCopy(char16_t* dest, uint32_t capacity, const char16_t* src);
// Appends, keeping within capacity and terminated.
void WideAppend(char16_t* dest, uint32_t capacity, const char16_t* src);
// Unsigned decimal, most significant digit first.
void WideFromUnsigned(uint32_t value, char16_t* dest, uint32_t capacity);
void ClearBytes(void* dest, uint32_t bytes);
