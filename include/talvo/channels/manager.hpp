#pragma once
// The manager owns everything that connects one compiled model to the outside: the shared
// circuit, the channel senders by name, the handles of all reader threads and the timed writers.
// It has no lock of its own: whoever holds it serialises access; every operation that touches
// the circuit takes the circuit's mutex itself, and never across a thread start or a join.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/channels/ipc_reader.hpp"
#include "talvo/channels/timed_writer.hpp"
#include "talvo/channels/writers.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

template <Semiring S>
class Manager {
 public:
  /// A manager of `reactive_circuit`, without channels, readers or writers.
  explicit Manager(SharedCircuit<S> reactive_circuit = make_shared_circuit<S>(1));
  Manager(Manager&&) noexcept = default;
  Manager& operator=(Manager&&) = delete;
  Manager(const Manager&) = delete;
  Manager& operator=(const Manager&) = delete;
  /// Stops and joins the timed writers, closes its channels, so that their readers end once
  /// they have taken what was sent, then releases the circuit, the readers (detached) and last
  /// the senders.
  ~Manager();

  /// Appends a leaf named `name` holding `value`; returns its index. Aborts when the circuit
  /// holds the most leaves an index can count.
  std::uint32_t create_leaf(std::string name, Value value);

  /// Starts a dual reader on a new channel registered under `channel`: every message goes to
  /// `leaf` and one minus it to `dual_leaf`.
  void read_dual(std::uint32_t leaf, std::uint32_t dual_leaf, const std::string& channel);

  /// Starts a single reader on a new channel registered under `channel`. A leaf index outside
  /// the circuit's leaves is refused; nothing is registered or started then.
  [[nodiscard]] Result<void> read(std::uint32_t leaf, const std::string& channel, bool invert);

  /// Starts a categorical reader on a new channel registered under `channel`: category j of
  /// every message goes to `leaves[j]`.
  void read_categorical(const std::string& channel, std::vector<std::uint32_t> leaves);

  /// A sender of the channel registered under `channel`. A name without one gets a channel that
  /// nobody reads: what is sent on it is lost.
  ValueSender get_or_create_sender(const std::string& channel);

  std::size_t value_size() const;
  /// Per leaf, in index order.
  std::vector<std::string> get_names() const;
  std::vector<Value> get_values() const;
  std::vector<double> get_frequencies() const;
  /// Leaf name -> the lowest index of a leaf with that name.
  std::unordered_map<std::string, std::uint32_t> index_map() const;

  /// Starts a timed writer on the channel registered under `channel` (made when missing) that
  /// sends `frequency` times per second; returns the vector it sends. It starts from the value of
  /// the leaf named like the channel without its leading "/", on the channel of a categorical
  /// reader from the values of its leaves, category by category, else from `value_size` zeros.
  /// The vector refuses, when it is set, what the writer of the channel's input would refuse: on
  /// a categorical reader's channel anything but a distribution over its categories in every
  /// slot, elsewhere anything but probabilities that its leaves can hold. A frequency without a
  /// representable period, or a starting vector refused so, is refused and no writer is kept.
  [[nodiscard]] Result<SharedVector> make_timed_writer(const std::string& channel,
                                                       double frequency);

  /// Stops and joins every timed writer in creation order, then reports a writer whose thread
  /// ended by a failure.
  [[nodiscard]] Result<void> stop_timed_writers();

  // Released in this order when the manager goes.
  SharedCircuit<S> reactive_circuit;
  std::vector<IpcReader> readers;
  std::vector<IpcReader> dual_readers;
  std::vector<IpcReader> categorical_readers;
  std::vector<TimedIpcWriter> timed_writers;

  /// The sender of each channel a reader was started on or a writer asked for, by name.
  const std::unordered_map<std::string, ValueSender>& senders() const noexcept { return senders_; }
  /// How the categorical reader of the channel registered under a name cuts its messages; a name
  /// whose channel no categorical reader serves has no entry.
  const std::unordered_map<std::string, CategoricalLayout>& categorical_layouts() const noexcept {
    return categorical_layouts_;
  }

 private:
  // Changed only together, as channels are registered: a layout and the leaves stay with their
  // reader's sender.
  std::unordered_map<std::string, ValueSender> senders_;
  std::unordered_map<std::string, CategoricalLayout> categorical_layouts_;
  std::unordered_map<std::string, std::vector<std::uint32_t>> categorical_leaves_;
  /// The channels whose sender a new reader's channel replaced under their name: writers made
  /// before feed the old reader until the manager goes and closes these too.
  std::vector<ValueSender::Closer> replaced_channels_;

  /// A new channel whose sender replaces any under `channel` (and the layout of its categorical
  /// reader); returns its receiver.
  ValueReceiver register_channel(const std::string& channel);
  /// `field(leaf)` for every leaf, in index order, read under one lock.
  template <class Field>
  auto each_leaf(Field field) const;
};

#define TALVO_EXTERN_MANAGER(S) extern template class Manager<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_MANAGER)
#undef TALVO_EXTERN_MANAGER

}  // namespace talvo
