#include "talvo/channels/timed_writer.hpp"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <ratio>
#include <utility>

#include "channels/spawn_thread.hpp"
#include "talvo/channels/ipc_channel.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {
namespace {

constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;

/// The nanoseconds in `fraction` (0 < fraction < 1), rounded to the nearest, ties to even. Done
/// on the exact binary value: fraction = mantissa * 2^-shift.
std::uint32_t round_nanoseconds(double fraction) {
  int exponent = 0;
  const double normalised = std::frexp(fraction, &exponent);  // in [0.5, 1)
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(normalised, 53));
  const int shift = 53 - exponent;  // at least 53, since fraction < 1
  if (shift >= 128) return 0;       // far below half a nanosecond
  // The exact product needs more than 64 bits; g++ and clang both have this type.
  __extension__ using u128 = unsigned __int128;
  const u128 scaled = static_cast<u128>(mantissa) * kNanosPerSecond;
  u128 whole = scaled >> shift;
  const u128 rest = scaled - (whole << shift);
  const u128 half = static_cast<u128>(1) << (shift - 1);
  if (rest > half || (rest == half && (whole & 1) != 0)) ++whole;
  return static_cast<std::uint32_t>(whole);
}

/// Now plus `period` on the monotonic clock, or nothing when that cannot be represented.
std::optional<std::chrono::steady_clock::time_point> deadline_after(Period period) {
  using Clock = std::chrono::steady_clock;
  static_assert(std::is_same_v<Clock::period, std::nano>);
  constexpr auto limit = std::numeric_limits<Clock::rep>::max();
  const Clock::time_point now = Clock::now();
  if (period.seconds > static_cast<std::uint64_t>(limit / kNanosPerSecond)) return std::nullopt;
  const auto whole = static_cast<Clock::rep>(period.seconds) * kNanosPerSecond;
  // The nanoseconds alone may carry the last whole second past the limit.
  if (static_cast<Clock::rep>(period.nanoseconds) > limit - whole) return std::nullopt;
  const auto total = whole + static_cast<Clock::rep>(period.nanoseconds);
  if (now.time_since_epoch().count() > limit - total) return std::nullopt;
  return now + Clock::duration(total);
}

/// The thread of a timed writer. Everything it owns is released when it returns.
void send_periodically(ValueSender sender, StopReceiver stop, Period period,
                       SharedVector shared_value) {
  for (;;) {
    Value value = shared_value.get();
    const std::optional<double> now = unix_timestamp();
    if (!now) throw Panic("Acquiring timestamp failed!");
    (void)sender.send(ValueMessage{std::move(value), *now});
    const auto deadline = deadline_after(period);
    if (!deadline) {
      (void)stop.recv();
      return;
    }
    const auto received = stop.recv_until(*deadline);
    if (received || received.error() == RecvTimeoutError::Disconnected) return;
  }
}

}  // namespace

Result<Period> period_of(double frequency) {
  const double seconds = 1.0 / frequency;
  if (seconds < 0.0 || (seconds == 0.0 && std::signbit(seconds)))
    return fail("cannot convert float seconds to Duration: value is negative");
  if (!(seconds < 18446744073709551616.0))  // 2^64; also NaN and infinity
    return fail("cannot convert float seconds to Duration: value is either too big or NaN");
  const double whole = std::floor(seconds);
  const double fraction = seconds - whole;  // exact
  Period period{static_cast<std::uint64_t>(whole), 0};
  if (fraction > 0.0) period.nanoseconds = round_nanoseconds(fraction);
  if (period.nanoseconds == kNanosPerSecond) {
    ++period.seconds;
    period.nanoseconds = 0;
  }
  return period;
}

struct SharedVector::State {
  State(Value initial, ValueCheck judge) : value(std::move(initial)), check(std::move(judge)) {}

  PoisonMutex<Value> value;
  const ValueCheck check;
};

SharedVector::SharedVector(Value initial, ValueCheck check)
    : state_(std::make_shared<State>(std::move(initial), std::move(check))) {}

Result<void> SharedVector::set(Value value) const {
  if (state_->check) {
    Result<Value> taken = state_->check(std::move(value));
    if (!taken) return std::unexpected(taken.error());
    value = std::move(*taken);
  }
  {
    auto held = state_->value.lock();
    std::swap(*held, value);
  }
  // The old vector is released here, outside the lock.
  return {};
}

Value SharedVector::get() const {
  return *state_->value.lock();
}

Result<void> SharedVector::check() const {
  if (!state_->check) return {};
  auto held = state_->value.lock();
  Result<Value> taken = state_->check(*held);
  if (!taken) return std::unexpected(taken.error());
  *held = std::move(*taken);
  return {};
}

TimedIpcWriter::TimedIpcWriter(ValueSender sender, SharedVector shared_value, double frequency)
    : sender_(std::move(sender)), shared_value_(std::move(shared_value)), frequency_(frequency) {}

TimedIpcWriter::TimedIpcWriter(TimedIpcWriter&& other) noexcept
    : sender_(std::move(other.sender_)),
      stop_(std::exchange(other.stop_, std::nullopt)),
      shared_value_(std::move(other.shared_value_)),
      frequency_(other.frequency_),
      handle_(std::exchange(other.handle_, std::nullopt)) {}

TimedIpcWriter& TimedIpcWriter::operator=(TimedIpcWriter&& other) noexcept {
  if (this != &other) {
    (void)stop();
    sender_ = std::move(other.sender_);
    stop_ = std::exchange(other.stop_, std::nullopt);
    shared_value_ = std::move(other.shared_value_);
    frequency_ = other.frequency_;
    handle_ = std::exchange(other.handle_, std::nullopt);
  }
  return *this;
}

TimedIpcWriter::~TimedIpcWriter() {
  (void)stop();
}

Result<void> TimedIpcWriter::start() {
  if (stop_) return {};
  const Result<Period> period = period_of(frequency_);
  if (!period) return std::unexpected(period.error());
  if (Result<void> checked = shared_value_.check(); !checked) return checked;
  auto [stop_sender, stop_receiver] = channel<StopMessage>();
  std::packaged_task<void()> task([sender = sender_, stop = std::move(stop_receiver),
                                   period = *period, shared_value = shared_value_]() mutable {
    send_periodically(std::move(sender), std::move(stop), period, std::move(shared_value));
  });
  std::future<void> outcome = task.get_future();
  std::thread thread = detail::spawn_thread(std::move(task));
  stop_.emplace(std::move(stop_sender));
  handle_.emplace(Thread{std::move(thread), std::move(outcome)});
  return {};
}

Result<void> TimedIpcWriter::stop() {
  if (stop_) {
    // Fails only when the thread has ended already; dropping the sender disconnects it anyway.
    (void)stop_->send(StopMessage{});
    stop_.reset();
  }
  if (!handle_) return {};
  Thread running = std::move(*handle_);
  handle_.reset();
  running.thread.join();
  try {
    running.outcome.get();
  } catch (...) {
    return fail("Could not join with writer thread!");
  }
  return {};
}

}  // namespace talvo
