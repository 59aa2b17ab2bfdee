#pragma once
// The queue a channel's ends share and the members of `Sender<T>` and `Receiver<T>`, instantiated
// for value and stop messages in ipc_channel.cpp.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "talvo/channels/ipc_channel.hpp"

namespace talvo {
namespace detail {

template <class T>
struct ChannelState {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<T> queue;
  std::size_t senders = 0;
  bool receiver_alive = true;
  bool closed = false;
  bool receiver_waiting = false;
  // Messages move from `queue` to `received` in one swap, so the receiver takes the lock once per
  // batch rather than once per message. Only the receiver touches `received`, without the lock.
  std::deque<T> received;
};

}  // namespace detail

template <class T>
Sender<T>::Sender(const Sender& other) : state_(other.state_) {
  attach();
}

template <class T>
Sender<T>::~Sender() {
  detach();
}

template <class T>
std::expected<void, SendError<T>> Sender<T>::send(T message) const {
  bool wake = false;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->receiver_alive || state_->closed) {
      return std::unexpected(SendError<T>{std::move(message)});
    }
    state_->queue.push_back(std::move(message));
    wake = state_->receiver_waiting;
  }
  if (wake) state_->ready.notify_one();
  return {};
}

template <class T>
void Sender<T>::close() const noexcept {
  if (state_) close_channel(*state_);
}

template <class T>
void Sender<T>::Closer::close() const noexcept {
  if (const auto state = state_.lock()) close_channel(*state);
}

template <class T>
void Sender<T>::close_channel(detail::ChannelState<T>& state) noexcept {
  bool wake = false;
  {
    std::lock_guard lock(state.mutex);
    state.closed = true;
    wake = state.receiver_waiting;
  }
  if (wake) state.ready.notify_one();
}

template <class T>
Sender<T>::Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {
  attach();
}

template <class T>
void Sender<T>::attach() {
  if (!state_) return;
  std::lock_guard lock(state_->mutex);
  ++state_->senders;
}

template <class T>
void Sender<T>::detach() noexcept {
  if (!state_) return;
  bool wake = false;
  {
    std::lock_guard lock(state_->mutex);
    wake = --state_->senders == 0 && state_->receiver_waiting;
  }
  if (wake) state_->ready.notify_one();
  state_.reset();
}

template <class T>
Receiver<T>& Receiver<T>::operator=(Receiver&& other) noexcept {
  if (this != &other) {
    close();
    state_ = std::move(other.state_);
  }
  return *this;
}

template <class T>
Receiver<T>::~Receiver() {
  close();
}

template <class T>
std::optional<T> Receiver<T>::recv() {
  if (state_->received.empty()) {
    std::unique_lock lock(state_->mutex);
    state_->receiver_waiting = true;
    state_->ready.wait(
        lock, [&] { return !state_->queue.empty() || state_->senders == 0 || state_->closed; });
    state_->receiver_waiting = false;
    state_->received.swap(state_->queue);
    if (state_->received.empty()) return std::nullopt;
  }
  return take();
}

template <class T>
std::expected<T, RecvTimeoutError> Receiver<T>::recv_until(
    std::chrono::steady_clock::time_point deadline) {
  if (state_->received.empty()) {
    std::unique_lock lock(state_->mutex);
    state_->receiver_waiting = true;
    const bool arrived = state_->ready.wait_until(lock, deadline, [&] {
      return !state_->queue.empty() || state_->senders == 0 || state_->closed;
    });
    state_->receiver_waiting = false;
    if (!arrived) return std::unexpected(RecvTimeoutError::Timeout);
    state_->received.swap(state_->queue);
    if (state_->received.empty()) return std::unexpected(RecvTimeoutError::Disconnected);
  }
  return take();
}

template <class T>
T Receiver<T>::take() {
  T message = std::move(state_->received.front());
  state_->received.pop_front();
  return message;
}

template <class T>
void Receiver<T>::close() noexcept {
  if (!state_) return;
  std::deque<T> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->receiver_alive = false;
    dropped.swap(state_->queue);
  }
  state_->received.clear();
  state_.reset();
}

template <class T>
std::pair<Sender<T>, Receiver<T>> channel() {
  auto state = std::make_shared<detail::ChannelState<T>>();
  Sender<T> sender(state);
  return {std::move(sender), Receiver<T>(std::move(state))};
}

extern template class Sender<ValueMessage>;
extern template class Sender<StopMessage>;
extern template class Receiver<ValueMessage>;
extern template class Receiver<StopMessage>;
extern template std::pair<ValueSender, ValueReceiver> channel<ValueMessage>();
extern template std::pair<StopSender, StopReceiver> channel<StopMessage>();

}  // namespace talvo
