#pragma once
// How a new value enters the circuit: the threshold rule, the change-frequency estimate and the
// marking of the leaf's dependents.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

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

}  // namespace detail

namespace leaf {

template <Semiring S>
Result<void> update(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                    double timestamp) {
  // Refused before anything changes, so that a bad message never breaks the circuit for others.
  if (leaf >= circuit.leafs_.size()) {
    return detail::leaf_index_refused(leaf, circuit.leafs_.size());
  }
  if (!S::accepts_leaf(value.size(), circuit.value_size_)) {
    return detail::leaf_length_refused(value.size(), circuit.value_size_);
  }

  Leaf<S>& target = circuit.leafs_[leaf];
  const Value input = S::prepare_leaf_input(std::move(value), circuit.value_size_);
  Value encoded = S::encode_leaf_vec(input.span(), target.index);
  if (!detail::is_leaf_change(target.value.span(), encoded.span(), circuit.update_threshold)) {
    return {};
  }

  target.value = std::move(encoded);
  target.frequency = target.estimator.update(timestamp);
  circuit.mark(target.dependents);
  return {};
}

#define TALVO_EXTERN_LEAF_UPDATE(S) \
  extern template Result<void> update<S>(ReactiveCircuit<S>&, std::uint32_t, Value, double);
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_LEAF_UPDATE)
#undef TALVO_EXTERN_LEAF_UPDATE

}  // namespace leaf
}  // namespace talvo
