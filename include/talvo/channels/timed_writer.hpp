#pragma once
// Timed writers: a thread of their own sends the current contents of a shared vector at once and
// then once per period until the writer is stopped. The caller changes what is sent by replacing
// the shared vector's contents.

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "talvo/channels/ipc_sender.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/mutex.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

/// A duration in whole seconds and nanoseconds (0 to 999999999).
struct Period {
  std::uint64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  friend bool operator==(const Period&, const Period&) = default;
};

/// The period of `frequency` sends per second: 1 / frequency, rounded to the nearest nanosecond
/// (ties to even). Refused when that is negative, not a number, infinite or 2^64 seconds or more.
[[nodiscard]] Result<Period> period_of(double frequency);

/// What the channel of a timed writer takes of a vector: what the writer of the channel's input
/// would send of it (a categorical row scaled to sum to 1), or that writer's refusal.
using ValueCheck = std::function<Result<Value>(Value)>;

/// A value vector behind a mutex, shared by a timed writer's thread and whoever sets what it
/// sends. Copies share the same vector and check.
class SharedVector {
 public:
  /// Holds `initial`, as it is; `check`, where given, judges every vector set later and the held
  /// one when a timed writer starts, and what it takes is what is held.
  explicit SharedVector(Value initial = {}, ValueCheck check = {});

  /// Replaces the held vector as a whole; messages already sent keep the old one. A vector the
  /// check refuses is refused, and the held one stays.
  [[nodiscard]] Result<void> set(Value value) const;
  /// The held vector, shared rather than copied.
  Value get() const;
  /// The check's verdict on the held vector, which is replaced by what the check takes of it.
  [[nodiscard]] Result<void> check() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

/// Sends the shared vector on `sender` at `frequency` sends per second, from a thread of its
/// own. Destroying a running writer stops and joins its thread.
class TimedIpcWriter {
 public:
  TimedIpcWriter(ValueSender sender, SharedVector shared_value, double frequency);
  TimedIpcWriter(TimedIpcWriter&& other) noexcept;
  TimedIpcWriter& operator=(TimedIpcWriter&& other) noexcept;
  TimedIpcWriter(const TimedIpcWriter&) = delete;
  TimedIpcWriter& operator=(const TimedIpcWriter&) = delete;
  ~TimedIpcWriter();

  /// Starts the thread; does nothing when it runs already. A frequency without a representable
  /// period, or a shared vector whose check refuses what it holds, is refused and nothing is
  /// started.
  [[nodiscard]] Result<void> start();

  /// Tells the thread to stop and joins it. Reports "Could not join with writer thread!" when the
  /// thread ended by a failure. A writer that does not run is left as it is.
  [[nodiscard]] Result<void> stop();

  bool running() const noexcept { return handle_.has_value(); }

 private:
  struct Thread {
    std::thread thread;
    std::future<void> outcome;  // holds the failure that ended the thread, if any
  };

  ValueSender sender_;
  std::optional<StopSender> stop_;
  SharedVector shared_value_;
  double frequency_;
  std::optional<Thread> handle_;
};

}  // namespace talvo
