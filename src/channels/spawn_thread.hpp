#pragma once
// Starting the threads of readers and timed writers.

#include <system_error>
#include <thread>
#include <utility>

#include "talvo/core/panic.hpp"

namespace talvo::detail {

/// Starts a thread running `body`; a thread that cannot be started aborts with
/// "failed to spawn thread".
template <class F>
std::thread spawn_thread(F&& body) {
  try {
    return std::thread(std::forward<F>(body));
  } catch (const std::system_error&) {
    throw Panic("failed to spawn thread");
  }
}

}  // namespace talvo::detail
