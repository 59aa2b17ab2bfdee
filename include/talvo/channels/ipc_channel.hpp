#pragma once
// In-process channels: unbounded first-in-first-out queues with any number of senders and exactly
// one receiver. A send never blocks; it fails, handing the message back, once the receiver is
// gone or the channel is closed. The receiver sees disconnection once every sender is gone, or the
// channel is closed, and the queue is drained.

#include <chrono>
#include <expected>
#include <memory>
#include <optional>
#include <utility>

#include "talvo/channels/ipc_sender.hpp"

namespace talvo {

/// Why a receive with a deadline returned without a message.
enum class RecvTimeoutError { Timeout, Disconnected };

/// The receiving end of a channel: exactly one per channel, used by one thread. Destroying it
/// makes every later send fail and releases the messages still queued.
template <class T>
class Receiver {
 public:
  Receiver(Receiver&& other) noexcept = default;
  Receiver& operator=(Receiver&& other) noexcept;
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  ~Receiver();

  /// The next message, waiting for one; nothing once every sender is gone, or the channel is
  /// closed, and the queue is empty.
  std::optional<T> recv();

  /// The next message, waiting at most until `deadline` (steady clock).
  std::expected<T, RecvTimeoutError> recv_until(std::chrono::steady_clock::time_point deadline);

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();

  explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

  T take();
  void close() noexcept;

  std::shared_ptr<detail::ChannelState<T>> state_;
};

/// A new channel: its first sender and its receiver.
template <class T>
std::pair<Sender<T>, Receiver<T>> channel();

using ValueReceiver = Receiver<ValueMessage>;
using StopReceiver = Receiver<StopMessage>;

}  // namespace talvo
