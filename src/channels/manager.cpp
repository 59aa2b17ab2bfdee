// The members of `Manager<S>`, instantiated here for the five semirings.

#include "talvo/channels/manager.hpp"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "circuit/circuit_access.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

template <Semiring S>
Manager<S>::Manager(SharedCircuit<S> reactive_circuit)
    : reactive_circuit(std::move(reactive_circuit)) {}

template <Semiring S>
Manager<S>::~Manager() {
  (void)stop_timed_writers();
  // The readers end even where writers outlive the model, and those writers' sends fail: what
  // they write would reach a circuit nobody reads.
  for (const auto& [name, sender] : senders_) sender.close();
  for (const ValueSender::Closer& replaced : replaced_channels_) replaced.close();
  reactive_circuit.reset();
  readers.clear();
  dual_readers.clear();
  categorical_readers.clear();
  timed_writers.clear();
  senders_.clear();
}

template <Semiring S>
std::uint32_t Manager<S>::create_leaf(std::string name, Value value) {
  std::optional<std::uint32_t> index;
  std::exception_ptr failure;
  {
    auto circuit = reactive_circuit->lock();
    if (circuit->leafs().size() + 1 < std::numeric_limits<std::uint32_t>::max()) {
      // Reading the index and appending under one lock: concurrent calls never share an index.
      // A leaf that cannot be built leaves the list as it was, so the circuit stays usable.
      try {
        index = detail::CircuitAccess::append_leaf(*circuit, std::move(name), std::move(value));
      } catch (...) {
        failure = std::current_exception();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
  if (!index) {
    throw Panic(
        "assertion failed: self.reactive_circuit.lock().unwrap().leafs.len() + 1 < u32::MAX as "
        "usize");
  }
  return *index;
}

template <Semiring S>
ValueReceiver Manager<S>::register_channel(const std::string& channel) {
  auto [sender, receiver] = talvo::channel<ValueMessage>();
  if (const auto old = senders_.find(channel); old != senders_.end()) {
    replaced_channels_.push_back(old->second.closer());
  }
  senders_.insert_or_assign(channel, std::move(sender));
  categorical_layouts_.erase(channel);
  categorical_leaves_.erase(channel);
  return std::move(receiver);
}

template <Semiring S>
void Manager<S>::read_dual(std::uint32_t leaf, std::uint32_t dual_leaf,
                           const std::string& channel) {
  ValueReceiver receiver = register_channel(channel);
  dual_readers.push_back(
      IpcReader::start_dual<S>(channel, std::move(receiver), reactive_circuit, leaf, dual_leaf));
}

template <Semiring S>
Result<void> Manager<S>::read(std::uint32_t leaf, const std::string& channel, bool invert) {
  {
    auto circuit = reactive_circuit->lock();
    if (leaf >= circuit->leafs().size()) {
      return detail::leaf_index_refused(leaf, circuit->leafs().size());
    }
  }
  ValueReceiver receiver = register_channel(channel);
  readers.push_back(
      IpcReader::start<S>(channel, std::move(receiver), reactive_circuit, leaf, invert));
  return {};
}

template <Semiring S>
void Manager<S>::read_categorical(const std::string& channel, std::vector<std::uint32_t> leaves) {
  // Read before anything changes: a caller that holds the circuit's guard is refused here.
  const std::size_t size = value_size();
  ValueReceiver receiver = register_channel(channel);
  categorical_layouts_.insert_or_assign(channel, CategoricalLayout{leaves.size(), size});
  categorical_leaves_.insert_or_assign(channel, leaves);
  categorical_readers.push_back(IpcCategoricalReader::start<S>(
      channel, std::move(receiver), std::move(leaves), reactive_circuit, size));
}

template <Semiring S>
ValueSender Manager<S>::get_or_create_sender(const std::string& channel) {
  if (const auto found = senders_.find(channel); found != senders_.end()) return found->second;
  // The receiver is released at once: values sent on this channel reach nobody.
  return senders_.emplace(channel, talvo::channel<ValueMessage>().first).first->second;
}

template <Semiring S>
std::size_t Manager<S>::value_size() const {
  return reactive_circuit->lock()->value_size();
}

template <Semiring S>
template <class Field>
auto Manager<S>::each_leaf(Field field) const {
  auto circuit = reactive_circuit->lock();
  std::vector<std::decay_t<std::invoke_result_t<Field, const Leaf<S>&>>> fields;
  fields.reserve(circuit->leafs().size());
  for (const Leaf<S>& leaf : circuit->leafs()) fields.push_back(field(leaf));
  return fields;
}

template <Semiring S>
std::vector<std::string> Manager<S>::get_names() const {
  return each_leaf([](const Leaf<S>& leaf) { return leaf.name; });
}

template <Semiring S>
std::vector<Value> Manager<S>::get_values() const {
  return each_leaf([](const Leaf<S>& leaf) { return leaf.get_value(); });
}

template <Semiring S>
std::vector<double> Manager<S>::get_frequencies() const {
  return each_leaf([](const Leaf<S>& leaf) { return leaf.frequency; });
}

template <Semiring S>
std::unordered_map<std::string, std::uint32_t> Manager<S>::index_map() const {
  const std::vector<std::string> names = get_names();
  std::unordered_map<std::string, std::uint32_t> map;
  map.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    map.try_emplace(names[i], static_cast<std::uint32_t>(i));  // the first index wins
  return map;
}

template <Semiring S>
Result<SharedVector> Manager<S>::make_timed_writer(const std::string& channel, double frequency) {
  const auto layout = categorical_layouts_.find(channel);
  const auto categories = categorical_leaves_.find(channel);
  const bool categorical =
      layout != categorical_layouts_.end() && categories != categorical_leaves_.end();
  Value initial;
  std::size_t size = 0;
  {
    // Read before anything changes: a caller that holds the circuit's guard is refused here.
    auto circuit = reactive_circuit->lock();
    const auto& leafs = circuit->leafs();
    size = circuit->value_size();
    if (categorical) {
      // Each category's stretch of slots, as its reader cuts them from a message.
      const std::size_t slots = layout->second.value_size;
      std::vector<double> flat;
      for (const std::uint32_t leaf : categories->second) {
        const Value value = leaf < leafs.size() ? leafs[leaf].get_value() : Value();
        flat.insert(flat.end(), value.begin(), value.begin() + std::min(slots, value.size()));
      }
      initial = Value(flat);
    } else {
      const std::string_view key = channel.starts_with('/') ? std::string_view(channel).substr(1)
                                                            : std::string_view(channel);
      const auto found =
          std::ranges::find_if(leafs, [&](const Leaf<S>& leaf) { return leaf.name == key; });
      initial = found != leafs.end() ? found->get_value() : Value(size, 0.0);
    }
  }
  // What the writer of the channel's input takes, with what its reader feeds.
  ValueCheck check;
  if (categorical) {
    check = [accepted = AcceptedLengths("the channel '" + channel + "'"),
             layout = std::optional<CategoricalLayout>(layout->second)](Value value) {
      return detail::accept_categories(accepted, layout, std::move(value));
    };
  } else {
    check = [accepted =
                 AcceptedLengths::of_channel<S>(size, channel)](Value value) -> Result<Value> {
      if (Result<void> checked = detail::check_probabilities(accepted, value); !checked) {
        return std::unexpected(checked.error());
      }
      return value;
    };
  }
  SharedVector shared(std::move(initial), std::move(check));
  // The vector starts from what the channel's leaves hold, which is no distribution for the
  // categories of a channel that has not been written yet.
  if (Result<void> held = shared.check(); !held) {
    return std::unexpected(
        Error("no timed writer starts on the channel '" + channel +
              "' from what its leaves hold before it is first written: " + held.error().message()));
  }
  TimedIpcWriter writer(get_or_create_sender(channel), shared, frequency);
  if (Result<void> started = writer.start(); !started) return std::unexpected(started.error());
  timed_writers.push_back(std::move(writer));
  return shared;
}

template <Semiring S>
Result<void> Manager<S>::stop_timed_writers() {
  std::vector<TimedIpcWriter> stopping = std::move(timed_writers);
  timed_writers.clear();
  Result<void> outcome;
  for (TimedIpcWriter& writer : stopping) {
    Result<void> stopped = writer.stop();
    if (!stopped && outcome) outcome = std::move(stopped);
  }
  return outcome;
}

#define TALVO_INSTANTIATE_MANAGER(S) template class Manager<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_MANAGER)
#undef TALVO_INSTANTIATE_MANAGER

}  // namespace talvo
