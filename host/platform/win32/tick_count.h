// Extends the 32-bit millisecond count of GetTickCount (which wraps after
// 49.7 days) to 64 bits without GetTickCount64, absent from Windows XP.
#pragma once
#include <cstdint>

namespace win32 {

// The 64-bit count following `last` when GetTickCount now reads `now`. A
// reading up to half the 32-bit range ahead of `last` moves the count on
// (across a wrap too); an older reading, which a thread that read the clock
// before another one published a later value can bring, leaves it at `last`.
constexpr std::uint64_t ExtendTickCount(std::uint64_t last, std::uint32_t now) {
  std::uint32_t ahead = now - static_cast<std::uint32_t>(last);  // modulo 2^32
  return ahead < 0x80000000u ? last + ahead : last;
}

}  // namespace win32
