#pragma once
// How a new value enters the circuit: the threshold rule, the change-frequency estimate and the
// marking of the leaf's dependents.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "circuit/circuit_access.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"

namespace talvo {
namespace detail {

/// Whether `encoded` differs from `stored`: another length, or an entry whose difference is not
/// within `threshold` (a difference that is not a number always counts).
inline bool is_leaf_change(std::span<const double> stored, std::span<const double> encoded,
                           double threshold) {
  if (stored.size() != encoded.size()) return true;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (!(std::abs(stored[i] - encoded[i]) <= threshold)) return true;
  }
  return false;
}

/// A value made ready for a leaf: encoded, and whether it differs from the stored value by more
/// than the circuit's threshold.
struct EncodedLeafValue {
  Value encoded;
  bool changes;
};

/// Encodes `value` for the leaf; an index outside the leaves or a value the circuit could not
/// evaluate is refused.
template <Semiring S>
[[nodiscard]] Result<EncodedLeafValue> encode_for_leaf(const ReactiveCircuit<S>& circuit,
                                                       std::uint32_t leaf, Value value) {
  if (leaf >= circuit.leafs().size())
    return detail::leaf_index_refused(leaf, circuit.leafs().size());
  if (!S::accepts_leaf(value.size(), circuit.value_size())) {
    return detail::leaf_length_refused(value.size(), circuit.value_size());
  }
  const Leaf<S>& target = circuit.leafs()[leaf];
  const Value input = S::prepare_leaf_input(std::move(value), circuit.value_size());
  Value encoded = S::encode_leaf_vec(input.span(), target.index);
  const bool changes =
      is_leaf_change(target.value.span(), encoded.span(), circuit.update_threshold);
  return EncodedLeafValue{std::move(encoded), changes};
}

/// Stores an encoded value as an accepted change: the estimator advances and the leaf's
/// dependents are marked.
template <Semiring S>
void store_leaf_value(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value encoded,
                      double timestamp) {
  Leaf<S>& target = CircuitAccess::leaf(circuit, leaf);
  target.value = std::move(encoded);
  target.frequency = target.estimator.update(timestamp);
  circuit.mark(target.dependents);
}

}  // namespace detail

namespace leaf {

template <Semiring S>
Result<void> update(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                    double timestamp) {
  // Refused before anything changes, so that a bad message never breaks the circuit for others.
  auto ready = detail::encode_for_leaf(circuit, leaf, std::move(value));
  if (!ready) return std::unexpected(std::move(ready.error()));
  if (ready->changes) detail::store_leaf_value(circuit, leaf, std::move(ready->encoded), timestamp);
  return {};
}

template <Semiring S>
Result<void> update_pair(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                         std::uint32_t complement_leaf, Value complement, double timestamp) {
  auto first = detail::encode_for_leaf(circuit, leaf, std::move(value));
  if (!first) return std::unexpected(std::move(first.error()));
  auto second = detail::encode_for_leaf(circuit, complement_leaf, std::move(complement));
  if (!second) return std::unexpected(std::move(second.error()));
  // Near 0 or 1 one of the two moves within the threshold while the other does not; taking only
  // that one would leave the pair holding values of different messages.
  if (!first->changes && !second->changes) return {};
  detail::store_leaf_value(circuit, leaf, std::move(first->encoded), timestamp);
  detail::store_leaf_value(circuit, complement_leaf, std::move(second->encoded), timestamp);
  return {};
}

#define TALVO_EXTERN_LEAF_UPDATE(S)                                                          \
  extern template Result<void> update<S>(ReactiveCircuit<S>&, std::uint32_t, Value, double); \
  extern template Result<void> update_pair<S>(ReactiveCircuit<S>&, std::uint32_t, Value,     \
                                              std::uint32_t, Value, double);
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_LEAF_UPDATE)
#undef TALVO_EXTERN_LEAF_UPDATE

}  // namespace leaf
}  // namespace talvo
