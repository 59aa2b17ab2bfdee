#pragma once
// How a new value enters the circuit: the threshold rule, the change-frequency estimate and the
// marking of the leaf's dependents.

#include <cstdint>
#include <string>
#include <utility>

#include "circuit/leaf.hpp"
#include "circuit/reactive.hpp"

namespace talvo::leaf {

template <Semiring S>
Result<void> update(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                    double timestamp) {
  // Refused before anything changes, so that a bad message never breaks the circuit for others.
  if (leaf >= circuit.leafs.size()) {
    return fail("leaf index " + std::to_string(leaf) + " is outside the circuit's " +
                std::to_string(circuit.leafs.size()) + " leaves");
  }
  if (!S::accepts_leaf(value.size(), circuit.value_size)) {
    return fail("a value of " + std::to_string(value.size()) +
                " entries cannot be held by a leaf of a circuit with value_size " +
                std::to_string(circuit.value_size));
  }

  Leaf<S>& target = circuit.leafs[leaf];
  const Value input = S::prepare_leaf_input(std::move(value), circuit.value_size);
  Value encoded = S::encode_leaf_vec(input.span(), target.index);
  if (!is_change(target.value.span(), encoded.span(), circuit.update_threshold)) return {};

  target.value = std::move(encoded);
  target.frequency = target.estimator.update(timestamp);
  circuit.invalidated.insert(target.dependents.begin(), target.dependents.end());
  return {};
}

}  // namespace talvo::leaf
