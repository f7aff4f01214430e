// Unsigned division for the bare image. The SA-1110 has no divide
// instruction, and the compiler's own helpers (libgcc) come built for ARMv4T
// with Thumb interworking, which the SA-1110 lacks; so the image carries its
// own, in plain ARMv4 code.
#include <stdint.h>

namespace {

constexpr int kWordBits = 32;

struct Division {
  uint32_t quotient;
  uint32_t remainder;
};

// Restoring division, one quotient bit per step. A zero divisor gives a zero
// quotient (the ABI leaves the result to the platform; nothing here divides
// by zero).
Division Divide(uint32_t numerator, uint32_t divisor) {
  if (divisor == 0) return {0, numerator};
  uint32_t quotient = 0;
  uint64_t remainder = 0;  // wider, so that the shift never loses a bit
  for (int bit = kWordBits - 1; bit >= 0; --bit) {
    remainder = (remainder << 1) | ((numerator >> bit) & 1u);
    if (remainder >= divisor) {
      remainder -= divisor;
      quotient |= 1u << bit;
    }
  }
  return {quotient, static_cast<uint32_t>(remainder)};
}

}  // namespace

extern "C" {

uint32_t __aeabi_uidiv(uint32_t numerator, uint32_t divisor) { return Divide(numerator, divisor).quotient; }

// The quotient in r0 and the remainder in r1: a 64-bit result comes back in
// r0 (low word) and r1 (high word).
uint64_t __aeabi_uidivmod(uint32_t numerator, uint32_t divisor) {
  const Division d = Divide(numerator, divisor);
  return (static_cast<uint64_t>(d.remainder) << kWordBits) | d.quotient;
}

}  // extern "C"
