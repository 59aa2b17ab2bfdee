#pragma once
// What compilation does differently per semiring. Most semirings batch any number of slots and
// leave the leaves as they were made; `ProbGradient` keeps one slot for the probability and one per
// leaf for its derivative, so it refuses batching and lays its leaves out as gradient vectors once
// all leaves of a target exist. Semirings that take the larger of two outcomes instead of their
// sum weigh a cause whose choice was closed as the larger of its leaf and its complement.

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>

#include "talvo/circuit/semiring.hpp"

namespace talvo::detail {

template <Semiring S>
struct CompileRules {
  /// Judges the requested `value_size` before anything is created: what it cannot take is
  /// refused with the reason.
  static std::optional<std::string> refuse_value_size(std::size_t /*value_size*/) {
    return std::nullopt;
  }
  /// Whether the leaves become gradient vectors (one seed slot per leaf) before the target's
  /// node is made.
  static constexpr bool lays_out_gradients = false;
  /// Whether a ground cause whose choice was closed in a model (its domain failed, so the model
  /// stands for both of its outcomes) weighs there as the sum of its leaf and its complement.
  /// Where that sum is always one (sums of probabilities, truth) the cause is left out instead.
  static constexpr bool weighs_closed_causes =
      std::same_as<S, MaxProduct> || std::same_as<S, Fuzzy>;
  /// Whether the target's value adds up its stable models, so that each world must have exactly
  /// one. Where it takes the larger of them, or whether there is one, a world with several counts
  /// once and one with none answers that the target does not hold there.
  static constexpr bool adds_up_stable_models = std::same_as<S, LogProb>;
};

template <>
struct CompileRules<ProbGradient> {
  static std::optional<std::string> refuse_value_size(std::size_t value_size) {
    if (value_size == 1) return std::nullopt;
    return "ProbGradient does not support batching (value_size must be 1, got " +
           std::to_string(value_size) + ")";
  }
  static constexpr bool lays_out_gradients = true;
  static constexpr bool weighs_closed_causes = false;
  static constexpr bool adds_up_stable_models = true;
};

}  // namespace talvo::detail
