// Waiting in a test for a condition that must come true.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace testsupport {

// The bound on a wait for something that must happen. It only ends a test
// whose condition never comes, so it is generous: on a loaded machine (the
// thread sanitizer, a parallel build, ctest -j above the core count) a
// thread was seen starved for several seconds.
constexpr std::uint32_t kConditionBoundMs = 30000;

// Polls `condition` every millisecond for up to `ms` real milliseconds.
inline bool Eventually(const std::function<bool()>& condition, std::uint32_t ms = kConditionBoundMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testsupport
