#pragma once
// Reader threads: the only way values from a channel reach the circuit. Each reader owns the
// receiving end of one value channel and a reference to the shared circuit; for every message it
// locks the circuit once and hands the value, with the message's timestamp, to `leaf::update`.
// A reader ends when its channel disconnects; its threads are detached, never joined.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <latch>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/mutex.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

/// A running reader thread. Releasing the last handle detaches the thread; it keeps running until
/// its channel disconnects.
class ReaderThread {
 public:
  ReaderThread(std::thread thread, std::shared_ptr<std::latch> done)
      : thread_(std::move(thread)), done_(std::move(done)) {}
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;
  ~ReaderThread() {
    if (thread_.joinable()) thread_.detach();
  }

  /// Whether the thread has ended and released its receiver and its circuit reference.
  bool finished() const noexcept { return done_->try_wait(); }
  /// Waits until the thread has ended; it is not joined.
  void wait_finished() const noexcept { done_->wait(); }

 private:
  std::thread thread_;
  std::shared_ptr<std::latch> done_;
};

/// What the manager keeps of a reader: the channel it was started for and its thread.
struct IpcReader {
  std::string channel;
  std::shared_ptr<ReaderThread> handle;

  /// A single reader: every message goes to `leaf`, or one minus it when `invert` is set.
  template <Semiring S>
  static IpcReader start(std::string channel, ValueReceiver receiver, SharedCircuit<S> circuit,
                         std::uint32_t leaf, bool invert);

  /// A dual reader: every message goes to `leaf`, and one minus it to `dual_leaf`.
  template <Semiring S>
  static IpcReader start_dual(std::string channel, ValueReceiver receiver, SharedCircuit<S> circuit,
                              std::uint32_t leaf, std::uint32_t dual_leaf);
};

/// A categorical reader: a message holds the categories one after another, `value_size` slots
/// each; category j goes to `leaves[j]`.
struct IpcCategoricalReader {
  template <Semiring S>
  static IpcReader start(std::string channel, ValueReceiver receiver,
                         std::vector<std::uint32_t> leaves, SharedCircuit<S> circuit,
                         std::size_t value_size);
};

namespace detail {

/// Starts a thread that hands every message of `receiver` to `handle` until the channel
/// disconnects or `handle` throws; nothing escapes the thread. A thread that cannot be started
/// aborts with "failed to spawn thread".
IpcReader start_reader_thread(std::string channel, ValueReceiver receiver,
                              std::move_only_function<void(ValueMessage)> handle);

/// A new vector with 1.0 - v[i] in every slot.
Value one_minus(std::span<const double> v);

// What the readers do with one message. Each locks the circuit once; a message that
// `leaf::update` refuses is dropped without changing anything. A poisoned circuit throws `Panic`,
// which ends the reader.
namespace reader {

template <Semiring S>
void handle_single(PoisonMutex<ReactiveCircuit<S>>& circuit, std::uint32_t leaf, bool invert,
                   ValueMessage message) {
  // The arithmetic is done before locking, so the lock covers only the update.
  Value value = invert ? one_minus(message.value) : std::move(message.value);
  auto locked = circuit.lock();
  (void)leaf::update(*locked, leaf, std::move(value), message.timestamp);
}

template <Semiring S>
void handle_dual(PoisonMutex<ReactiveCircuit<S>>& circuit, std::uint32_t leaf,
                 std::uint32_t dual_leaf, ValueMessage message) {
  Value complement = one_minus(message.value);
  auto locked = circuit.lock();
  (void)leaf::update_pair(*locked, leaf, std::move(message.value), dual_leaf, std::move(complement),
                          message.timestamp);
}

template <Semiring S>
void handle_categorical(PoisonMutex<ReactiveCircuit<S>>& circuit,
                        std::span<const std::uint32_t> leaves, std::size_t value_size,
                        ValueMessage message) {
  // Categories whose whole stretch is missing are skipped; slots beyond the last are ignored.
  const std::span<const double> flat = message.value.span();
  std::vector<std::pair<std::uint32_t, Value>> stretches;
  stretches.reserve(leaves.size());
  for (std::size_t j = 0; j < leaves.size() && (j + 1) * value_size <= flat.size(); ++j)
    stretches.emplace_back(leaves[j], Value(flat.subspan(j * value_size, value_size)));
  auto locked = circuit.lock();
  // Every category changes or none does.
  for (const auto& [index, value] : stretches)
    if (index >= locked->leafs().size()) return;
  for (auto& [index, value] : stretches)
    (void)leaf::update(*locked, index, std::move(value), message.timestamp);
}

}  // namespace reader

}  // namespace detail

template <Semiring S>
IpcReader IpcReader::start(std::string channel, ValueReceiver receiver, SharedCircuit<S> circuit,
                           std::uint32_t leaf, bool invert) {
  return detail::start_reader_thread(
      std::move(channel), std::move(receiver),
      [circuit = std::move(circuit), leaf, invert](ValueMessage message) {
        detail::reader::handle_single(*circuit, leaf, invert, std::move(message));
      });
}

template <Semiring S>
IpcReader IpcReader::start_dual(std::string channel, ValueReceiver receiver,
                                SharedCircuit<S> circuit, std::uint32_t leaf,
                                std::uint32_t dual_leaf) {
  return detail::start_reader_thread(
      std::move(channel), std::move(receiver),
      [circuit = std::move(circuit), leaf, dual_leaf](ValueMessage message) {
        detail::reader::handle_dual(*circuit, leaf, dual_leaf, std::move(message));
      });
}

template <Semiring S>
IpcReader IpcCategoricalReader::start(std::string channel, ValueReceiver receiver,
                                      std::vector<std::uint32_t> leaves, SharedCircuit<S> circuit,
                                      std::size_t value_size) {
  return detail::start_reader_thread(
      std::move(channel), std::move(receiver),
      [leaves = std::move(leaves), circuit = std::move(circuit), value_size](ValueMessage message) {
        detail::reader::handle_categorical(*circuit, std::span<const std::uint32_t>(leaves),
                                           value_size, std::move(message));
      });
}

#define TALVO_READER_EXTERN(S)                                                                     \
  extern template void detail::reader::handle_single<S>(PoisonMutex<ReactiveCircuit<S>>&,          \
                                                        std::uint32_t, bool, ValueMessage);        \
  extern template void detail::reader::handle_dual<S>(PoisonMutex<ReactiveCircuit<S>>&,            \
                                                      std::uint32_t, std::uint32_t, ValueMessage); \
  extern template void detail::reader::handle_categorical<S>(PoisonMutex<ReactiveCircuit<S>>&,     \
                                                             std::span<const std::uint32_t>,       \
                                                             std::size_t, ValueMessage);           \
  extern template IpcReader IpcReader::start<S>(std::string, ValueReceiver, SharedCircuit<S>,      \
                                                std::uint32_t, bool);                              \
  extern template IpcReader IpcReader::start_dual<S>(std::string, ValueReceiver, SharedCircuit<S>, \
                                                     std::uint32_t, std::uint32_t);                \
  extern template IpcReader IpcCategoricalReader::start<S>(                                        \
      std::string, ValueReceiver, std::vector<std::uint32_t>, SharedCircuit<S>, std::size_t);
TALVO_FOR_EACH_SEMIRING(TALVO_READER_EXTERN)
#undef TALVO_READER_EXTERN

}  // namespace talvo
