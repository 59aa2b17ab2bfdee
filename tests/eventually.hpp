#pragma once
// Waiting for what another thread (a reader, a writer) delivers, without a fixed sleep.

#include <chrono>
#include <thread>

namespace talvo::testing {

/// Polls `condition` until it holds, for at most 30 seconds; returns whether it held. The condition
/// reads shared state only through a lock (the circuit's, or an accessor that takes it).
template <class Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace talvo::testing
