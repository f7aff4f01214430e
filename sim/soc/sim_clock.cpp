#include "sim/soc/sim_clock.h"

namespace soc {

uint64_t SimClock::TicksSinceStart() const {
  // 128-bit product: nanoseconds times 3,686,400 outgrows 64 bits after
  // about 80 minutes of simulated time.
  unsigned __int128 product = static_cast<unsigned __int128>(now_ns_) * kOsTimerHz;
  return static_cast<uint64_t>(product / kNsPerSecond);
}

uint32_t SimClock::Oscr() const {
  return static_cast<uint32_t>(oscr_base_ + TicksSinceStart());
}

void SimClock::SetOscr(uint32_t value) {
  oscr_base_ = static_cast<uint32_t>(value - TicksSinceStart());
}

}  // namespace soc
