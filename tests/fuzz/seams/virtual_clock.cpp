// The clock and thread seam for the link fuzz target: wizard time is a
// counter that only sleeps move on, so the link's waits (20 s before the
// port opens, 1 s after a message, 200 ms for a second byte) pass at once
// and one input runs in about a millisecond. Every sleep moves the one
// shared counter, so time runs faster the more threads sleep; the protocol
// only needs the order of events, not their pace. A join waits for the
// thread however long it takes: a reader that does not stop shows up as a
// hang of the input.
#include <atomic>
#include <system_error>
#include <thread>

#include "platform/clock.h"

namespace platform {
namespace {
std::atomic<std::uint64_t> now{0};
// Each sleep counts this many times its length, so that a 1 ms poll loop
// reaches a 2 s time-out in 200 rounds. The link's waits are 100 ms and
// longer, their polls 1 to 10 ms, so every wait still spans several polls.
constexpr std::uint64_t kSpeed = 10;
}  // namespace

void SleepMs(std::uint32_t ms) {
  now += ms * kSpeed;
  std::this_thread::yield();
}
std::uint64_t NowMs() { return now; }
void SetTimeScale(std::uint32_t) {}
std::uint32_t TimeScale() { return 1; }
std::uint32_t ScaledMs(std::uint32_t ms) { return ms; }

struct Thread {
  std::thread thread;
};

Thread* StartThread(ThreadFunction function, void* argument) {
  auto* handle = new Thread;
  try {
    handle->thread = std::thread(function, argument);
  } catch (const std::system_error&) {
    delete handle;
    return nullptr;
  }
  return handle;
}

bool JoinThread(Thread* thread, std::uint32_t) {
  if (thread != nullptr && thread->thread.joinable()) thread->thread.join();
  return true;
}

void ReleaseThread(Thread* thread) {
  if (thread == nullptr) return;
  if (thread->thread.joinable()) thread->thread.join();  // no thread outlives its handle here
  delete thread;
}

}  // namespace platform
