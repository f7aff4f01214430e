// Clock and thread seam. Shipped Windows code starts threads with
// CreateThread behind this seam, never std::thread (its runtime imports
// functions Windows XP lacks).
#pragma once
#include <cstdint>

namespace platform {

// Sleeps `ms` milliseconds of wizard time (see SetTimeScale).
void SleepMs(std::uint32_t ms);
// Monotonic milliseconds of wizard time since an arbitrary start.
std::uint64_t NowMs();
// Divides every wizard-time duration (sleeps, timers, waits) by `divisor`;
// tests and the simulator use it to run 20-second waits in a fraction of that.
// Linux reads ROMWIZ_TIME_SCALE at start; 1 means real time.
void SetTimeScale(std::uint32_t divisor);
std::uint32_t TimeScale();
// A wizard-time duration in real milliseconds (at least 1 for non-zero input).
std::uint32_t ScaledMs(std::uint32_t ms);
// A wizard-time wait on something that runs in real time (a connection): scaled
// like any wait, but never shorter than `floorMs` real milliseconds, nor than
// `ms` when that is shorter.
inline std::uint32_t ScaledMsAtLeast(std::uint32_t ms, std::uint32_t floorMs) {
  const std::uint32_t floor = ms < floorMs ? ms : floorMs;
  const std::uint32_t scaled = ScaledMs(ms);
  return scaled > floor ? scaled : floor;
}

struct Thread;  // opaque
using ThreadFunction = unsigned long (*)(void* argument);
// Starts a thread; null when it cannot be started.
Thread* StartThread(ThreadFunction function, void* argument);
// Waits up to `ms` real milliseconds for the thread to end; true when it has.
bool JoinThread(Thread* thread, std::uint32_t ms);
// Releases the handle; the thread itself runs on if it has not ended.
void ReleaseThread(Thread* thread);

}  // namespace platform
