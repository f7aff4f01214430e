// Bounded copies of 8-bit texts into the wizard's fixed-size fields, and the
// one case-insensitive comparison the wizard uses for names, codes and
// registry value names. Every copy leaves a terminator inside the
// destination; a text that does not fit is reported so that callers can skip
// it instead of truncating silently.
#pragma once
#include <cstddef>
#include <cstring>

namespace wizard {

// Length of `text` looking at no more than `limit` bytes (the text need not
// be terminated within them).
inline std::size_t BoundedLength(const char* text, std::size_t limit) {
  const void* end = std::memchr(text, 0, limit);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

// Copies the text held in the first `sourceSize` bytes of `source` (up to its
// first NUL, if any) into `target` of `capacity` bytes. Returns false and
// leaves `target` untouched when the text needs more than capacity - 1 bytes.
inline bool CopyTextIfFits(char* target, std::size_t capacity, const void* source,
                           std::size_t sourceSize) {
  if (capacity == 0) return false;
  std::size_t length = BoundedLength(static_cast<const char*>(source), sourceSize);
  if (length >= capacity) return false;
  std::memcpy(target, source, length);
  target[length] = 0;
  return true;
}

// Copies as much of `source` as fits (capacity - 1 bytes at most) and
// terminates `target`.
inline void CopyTextTruncated(char* target, std::size_t capacity, const char* source) {
  if (capacity == 0) return;
  std::size_t length = BoundedLength(source, capacity - 1);
  std::memcpy(target, source, length);
  target[length] = 0;
}

// True when the two texts are equal, ASCII letters compared without regard to
// case (as Windows compares names and codes); false when either is null.
inline bool EqualNoCase(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (upper(*a) != upper(*b)) return false;
  return *a == *b;
}

}  // namespace wizard
