// Waiting for a condition rather than for a time: the condition is asked again after each
// short interval until it holds or the limit passes.
#pragma once

#include <chrono>
#include <thread>

namespace vela::testing {

using namespace std::chrono_literals;

// True as soon as condition() is; false when it still is not after limit.
template <typename F>
bool wait_until(F&& condition, std::chrono::steady_clock::duration limit = 10s,
                std::chrono::steady_clock::duration interval = 10ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(interval);
  }
  return condition();
}

} // namespace vela::testing
