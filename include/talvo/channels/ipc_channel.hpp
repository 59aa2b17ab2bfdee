#pragma once
// In-process channels: unbounded first-in-first-out queues with any number of senders and exactly
// one receiver. A send never blocks; it fails, handing the message back, once the receiver is
// gone. The receiver sees disconnection once every sender is gone and the queue is drained.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "talvo/core/value.hpp"

namespace talvo {

/// The one message of every value channel: a shared value vector and the time it stands for.
struct ValueMessage {
  Value value;
  double timestamp = 0.0;
};

/// The message of a stop channel: it carries nothing.
struct StopMessage {};

/// A failed send: the receiver is gone. The message is handed back.
template <class T>
struct SendError {
  T message;
};

/// Why a receive with a deadline returned without a message.
enum class RecvTimeoutError { Timeout, Disconnected };

namespace detail {

template <class T>
struct ChannelState {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<T> queue;
  std::size_t senders = 0;
  bool receiver_alive = true;
  bool receiver_waiting = false;
};

}  // namespace detail

template <class T>
class Receiver;

/// The sending end of a channel. Copies are further senders of the same channel; the channel
/// disconnects when the last one is destroyed. One sender is used by one thread at a time.
template <class T>
class Sender {
 public:
  Sender(const Sender& other) : state_(other.state_) { attach(); }
  Sender(Sender&& other) noexcept = default;
  Sender& operator=(const Sender& other) {
    if (this != &other) {
      Sender copy(other);
      swap(copy);
    }
    return *this;
  }
  Sender& operator=(Sender&& other) noexcept {
    if (this != &other) {
      Sender taken(std::move(other));
      swap(taken);
    }
    return *this;
  }
  ~Sender() { detach(); }

  /// Appends the message; never waits. When the receiver is gone the message comes back.
  std::expected<void, SendError<T>> send(T message) const {
    bool wake = false;
    {
      std::lock_guard lock(state_->mutex);
      if (!state_->receiver_alive) return std::unexpected(SendError<T>{std::move(message)});
      state_->queue.push_back(std::move(message));
      wake = state_->receiver_waiting;
    }
    if (wake) state_->ready.notify_one();
    return {};
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();

  explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {
    attach();
  }

  void swap(Sender& other) noexcept { state_.swap(other.state_); }

  void attach() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    ++state_->senders;
  }

  void detach() noexcept {
    if (!state_) return;
    bool wake = false;
    {
      std::lock_guard lock(state_->mutex);
      wake = --state_->senders == 0 && state_->receiver_waiting;
    }
    if (wake) state_->ready.notify_one();
    state_.reset();
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
};

/// The receiving end of a channel: exactly one per channel, used by one thread. Destroying it
/// makes every later send fail and releases the messages still queued.
template <class T>
class Receiver {
 public:
  Receiver(Receiver&& other) noexcept = default;
  Receiver& operator=(Receiver&& other) noexcept {
    if (this != &other) {
      close();
      state_ = std::move(other.state_);
      buffer_ = std::move(other.buffer_);
    }
    return *this;
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver() { close(); }

  /// The next message, waiting for one; nothing once every sender is gone and the queue is empty.
  std::optional<T> recv() {
    if (buffer_.empty()) {
      std::unique_lock lock(state_->mutex);
      state_->receiver_waiting = true;
      state_->ready.wait(lock, [&] { return !state_->queue.empty() || state_->senders == 0; });
      state_->receiver_waiting = false;
      buffer_.swap(state_->queue);
      if (buffer_.empty()) return std::nullopt;
    }
    return take();
  }

  /// The next message, waiting at most until `deadline` (steady clock).
  std::expected<T, RecvTimeoutError> recv_until(std::chrono::steady_clock::time_point deadline) {
    if (buffer_.empty()) {
      std::unique_lock lock(state_->mutex);
      state_->receiver_waiting = true;
      const bool arrived = state_->ready.wait_until(
          lock, deadline, [&] { return !state_->queue.empty() || state_->senders == 0; });
      state_->receiver_waiting = false;
      if (!arrived) return std::unexpected(RecvTimeoutError::Timeout);
      buffer_.swap(state_->queue);
      if (buffer_.empty()) return std::unexpected(RecvTimeoutError::Disconnected);
    }
    return take();
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();

  explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

  // Messages move from the shared queue to `buffer_` in one swap, so the lock is taken once per
  // batch rather than once per message.
  T take() {
    T message = std::move(buffer_.front());
    buffer_.pop_front();
    return message;
  }

  void close() noexcept {
    if (!state_) return;
    std::deque<T> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      dropped.swap(state_->queue);
    }
    buffer_.clear();
    state_.reset();
  }

  std::shared_ptr<detail::ChannelState<T>> state_;
  std::deque<T> buffer_;
};

/// A new channel: its first sender and its receiver.
template <class T>
std::pair<Sender<T>, Receiver<T>> channel() {
  auto state = std::make_shared<detail::ChannelState<T>>();
  Sender<T> sender(state);
  return {std::move(sender), Receiver<T>(std::move(state))};
}

using ValueSender = Sender<ValueMessage>;
using ValueReceiver = Receiver<ValueMessage>;
using StopSender = Sender<StopMessage>;
using StopReceiver = Receiver<StopMessage>;

}  // namespace talvo
