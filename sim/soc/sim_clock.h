// Simulated time of the handheld's processor.
//
// Time is kept in nanoseconds and moves forward only when something makes it:
// every bus access adds a small configurable cost, and tests or the daemon can
// advance it explicitly. Busy waits in agent code therefore end after a few
// thousand simulated accesses instead of real milliseconds.
//
// The OS timer counter OSCR is derived from this time: it counts at
// 3,686,400 Hz from a chosen start value and wraps at 32 bits.
#pragma once
#include <stdint.h>

namespace soc {

// The OS timer's input clock.
inline constexpr uint64_t kOsTimerHz = 3686400;
inline constexpr uint64_t kNsPerSecond = 1000000000;
// Cost of one bus access when nothing else is configured: about one slow
// static-memory cycle of the processor.
inline constexpr uint64_t kDefaultAccessNs = 100;

class SimClock {
 public:
  uint64_t NowNs() const { return now_ns_; }
  void AdvanceNs(uint64_t ns) { now_ns_ += ns; }
  // Called once per bus access.
  void Tick() { now_ns_ += access_ns_; }

  uint64_t AccessNs() const { return access_ns_; }
  void SetAccessNs(uint64_t ns) { access_ns_ = ns; }

  // OSCR at the current time.
  uint32_t Oscr() const;
  // Makes OSCR read `value` now (a write to OSCR, or a test starting the
  // counter just below its wrap).
  void SetOscr(uint32_t value);
  // Timer ticks elapsed since time 0 (not wrapped).
  uint64_t TicksSinceStart() const;

 private:
  uint64_t now_ns_ = 0;
  uint64_t access_ns_ = kDefaultAccessNs;
  uint32_t oscr_base_ = 0;  // OSCR value at time 0
};

}  // namespace soc
