// Clock and thread seam on Linux. Wizard time runs `TimeScale()` times faster
// than real time so that the simulator and the tests can run the wizard's
// long waits quickly; ROMWIZ_TIME_SCALE sets the divisor at start.
// std::thread is fine here: only the shipped Windows code must avoid it.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {
namespace {

std::uint32_t ScaleFromEnvironment() {
  const char* text = std::getenv("ROMWIZ_TIME_SCALE");
  if (text == nullptr || *text == 0) return 1;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  // A malformed or zero scale runs in real time rather than dividing by zero.
  if (end == text || *end != 0 || value == 0 || value > 1000000) return 1;
  return static_cast<std::uint32_t>(value);
}

std::atomic<std::uint32_t>& Scale() {
  static std::atomic<std::uint32_t> scale{ScaleFromEnvironment()};
  return scale;
}

std::uint64_t RealMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void SetTimeScale(std::uint32_t divisor) { Scale() = divisor == 0 ? 1 : divisor; }
std::uint32_t TimeScale() { return Scale(); }

std::uint32_t ScaledMs(std::uint32_t ms) {
  if (ms == 0) return 0;
  std::uint32_t scaled = ms / TimeScale();
  return scaled == 0 ? 1 : scaled;
}

void SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ScaledMs(ms)));
}

std::uint64_t NowMs() { return RealMs() * TimeScale(); }

// The thread's completion is shared with the handle so that a released handle
// of a thread still running leaves nothing dangling.
struct ThreadDone {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
};

struct Thread {
  std::thread thread;
  std::shared_ptr<ThreadDone> state;
};

Thread* StartThread(ThreadFunction function, void* argument) {
  auto handle = std::make_unique<Thread>();
  handle->state = std::make_shared<ThreadDone>();
  try {
    handle->thread = std::thread([function, argument, state = handle->state] {
      function(argument);
      std::lock_guard<std::mutex> lock(state->mutex);
      state->done = true;
      state->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return handle.release();
}

bool JoinThread(Thread* thread, std::uint32_t ms) {
  if (thread == nullptr) return true;
  {
    std::unique_lock<std::mutex> lock(thread->state->mutex);
    if (!thread->state->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                         [&] { return thread->state->done; })) {
      return false;
    }
  }
  if (thread->thread.joinable()) thread->thread.join();
  return true;
}

void ReleaseThread(Thread* thread) {
  if (thread == nullptr) return;
  if (thread->thread.joinable()) {
    bool done;
    {
      std::lock_guard<std::mutex> lock(thread->state->mutex);
      done = thread->state->done;
    }
    if (done) {
      thread->thread.join();
    } else {
      thread->thread.detach();
    }
  }
  delete thread;
}

}  // namespace platform
