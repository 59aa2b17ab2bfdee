#pragma once
// The sending end of an in-process channel and the messages channels carry. A send never blocks;
// it fails, handing the message back, once the receiver is gone. The queue the ends share is
// defined inside the library, where the ends are instantiated for value and stop messages.

#include <expected>
#include <memory>
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

namespace detail {

template <class T>
struct ChannelState;

}  // namespace detail

template <class T>
class Receiver;

/// The sending end of a channel. Copies are further senders of the same channel; the channel
/// disconnects when the last one is destroyed. One sender is used by one thread at a time.
template <class T>
class Sender {
 public:
  Sender(const Sender& other);
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
  ~Sender();

  /// Appends the message; never waits. When the receiver is gone the message comes back.
  std::expected<void, SendError<T>> send(T message) const;

  /// Ends the channel for every sender at once: later sends fail, and the receiver reports
  /// disconnection once it has taken what was sent before.
  void close() const noexcept;

  /// What can close the channel later without being one of its senders: it keeps the channel
  /// neither connected nor alive (once its senders and receiver are gone its state is destroyed,
  /// though the block that held it stays allocated while a closer remains).
  class Closer {
   public:
    /// As `Sender::close`, where the channel still exists.
    void close() const noexcept;

   private:
    friend class Sender;
    explicit Closer(std::weak_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    std::weak_ptr<detail::ChannelState<T>> state_;
  };
  Closer closer() const { return Closer(state_); }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> channel();

  explicit Sender(std::shared_ptr<detail::ChannelState<T>> state);

  void swap(Sender& other) noexcept { state_.swap(other.state_); }

  void attach();
  void detach() noexcept;
  static void close_channel(detail::ChannelState<T>& state) noexcept;

  std::shared_ptr<detail::ChannelState<T>> state_;
};

using ValueSender = Sender<ValueMessage>;
using StopSender = Sender<StopMessage>;

}  // namespace talvo
