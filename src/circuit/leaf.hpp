#pragma once
// A leaf: one named input of the reactive circuit, its value kept in the semiring's encoding, its
// change-frequency estimate and the nodes whose results depend on it.

#include <cstdint>
#include <set>
#include <string>

#include "channels/estimator.hpp"
#include "circuit/semiring.hpp"
#include "core/error.hpp"
#include "core/graph.hpp"
#include "core/value.hpp"

namespace talvo {

template <Semiring S>
class ReactiveCircuit;

template <Semiring S>
struct Leaf {
  FoCEstimator estimator;
  std::string name;
  Value value;  // encoded; replaced as a whole on every accepted change
  double frequency;
  std::uint64_t index;
  std::set<NodeIndex> dependents;

  /// Encodes `value` for the leaf at `index`; `initial` sets `frequency` and the estimator's
  /// first interval estimate.
  Leaf(Value value, std::string name, std::uint64_t index, double initial);

  /// The decoded value.
  Value get_value() const;
};

namespace leaf {

/// Hands a new value to a leaf: a change beyond the circuit's `update_threshold` replaces the
/// stored value, advances the estimator and marks the leaf's dependents. An index outside the
/// leaves or a value the circuit could not evaluate is refused before anything changes.
template <Semiring S>
Result<void> update(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                    double timestamp);

}  // namespace leaf
}  // namespace talvo
