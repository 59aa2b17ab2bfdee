#pragma once
// What compilation does differently per semiring. Most semirings batch any number of slots and
// leave the leaves as they were made; `ProbGradient` keeps one slot for the probability and one per
// leaf for its derivative, so it refuses batching and lays its leaves out as gradient vectors once
// all leaves of a target exist.

#include <cstddef>
#include <string>

#include "circuit/semiring.hpp"
#include "core/panic.hpp"

namespace talvo {

template <Semiring S>
struct CompileRules {
  /// Judges the requested `value_size` before anything is created; aborts what it cannot take.
  static void check_value_size(std::size_t /*value_size*/) {}
  /// Whether the leaves become gradient vectors (one seed slot per leaf) before the target's
  /// node is made.
  static constexpr bool lays_out_gradients = false;
};

template <>
struct CompileRules<ProbGradient> {
  static void check_value_size(std::size_t value_size) {
    if (value_size != 1) {
      throw Panic("ProbGradient does not support batching (value_size must be 1, got " +
                  std::to_string(value_size) + ")");
    }
  }
  static constexpr bool lays_out_gradients = true;
};

}  // namespace talvo
