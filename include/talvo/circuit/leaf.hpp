#pragma once
// A leaf: one named input of the reactive circuit, its value kept in the semiring's encoding, its
// change-frequency estimate and the nodes whose results depend on it.

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/graph.hpp"
#include "talvo/core/value.hpp"
#include "talvo/tracking/estimator.hpp"

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

  /// Encodes `input` for the leaf at `leaf_index`; `initial` sets `frequency` and the estimator's
  /// first interval estimate. An input the semiring cannot encode at all (an empty ProbGradient
  /// vector) throws `Panic`.
  Leaf(Value input, std::string leaf_name, std::uint64_t leaf_index, double initial)
      : Leaf(Encoded{}, S::encode_leaf_vec(input.span(), leaf_index), std::move(leaf_name),
             leaf_index, initial) {}

  /// A leaf holding `encoded` as it is, already in the semiring's encoding (a complement leaf).
  static Leaf from_encoded(Value encoded, std::string leaf_name, std::uint64_t leaf_index,
                           double initial) {
    return Leaf(Encoded{}, std::move(encoded), std::move(leaf_name), leaf_index, initial);
  }

  /// The decoded value.
  Value get_value() const { return S::decode_vec(value.span()); }

 private:
  struct Encoded {};
  Leaf(Encoded, Value encoded, std::string leaf_name, std::uint64_t leaf_index, double initial)
      : estimator(initial),
        name(std::move(leaf_name)),
        value(std::move(encoded)),
        frequency(initial),
        index(leaf_index) {}
};

namespace leaf {

/// Hands a new value to a leaf: a change beyond the circuit's `update_threshold` replaces the
/// stored value, advances the estimator and marks the leaf's dependents. An index outside the
/// leaves or a value the circuit could not evaluate is refused before anything changes.
template <Semiring S>
[[nodiscard]] Result<void> update(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                                  double timestamp);

/// Hands one message to a leaf and its complement: both take their values when either of them
/// changes beyond the threshold, and neither does otherwise, so that the two always hold values
/// of the same message. A refusal of either value changes nothing.
template <Semiring S>
[[nodiscard]] Result<void> update_pair(ReactiveCircuit<S>& circuit, std::uint32_t leaf, Value value,
                                       std::uint32_t complement_leaf, Value complement,
                                       double timestamp);

}  // namespace leaf

namespace detail {

/// The refusal of a leaf index that is not below the circuit's `count` leaves.
std::unexpected<Error> leaf_index_refused(std::uint32_t leaf, std::size_t count);
/// The refusal of a value whose length the circuit's semiring could not evaluate.
std::unexpected<Error> leaf_length_refused(std::size_t length, std::size_t value_size);

}  // namespace detail

}  // namespace talvo
