#pragma once
// Value distributions of a density source: one distribution per batch slot, turned for one
// threshold into the probability per slot that the slot's variable is at most (or above) it.

#include <cstddef>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "talvo/core/error.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

class VectorDistribution {
 public:
  struct Normal {
    Value means;
    Value stds;  // standard deviations
  };
  struct LogNormal {
    Value log_means;  // mean of the natural logarithm
    Value log_stds;   // standard deviation of the natural logarithm
  };
  struct Exponential {
    Value rates;
  };
  struct Uniform {
    Value lows;
    Value highs;
  };
  using Variant = std::variant<Normal, LogNormal, Exponential, Uniform>;

  /// The distribution the parameter lists define. Every list has one entry per slot, or one entry
  /// that holds for every slot. Parameters that define no distribution are refused, naming the
  /// list and slot: an empty list, lists of different lengths, a value that is not finite, a
  /// deviation or rate that is not positive, a low bound that is not below its high bound.
  [[nodiscard]] static Result<VectorDistribution> make(Variant variant);

  /// Reads a distribution from its name ("normal", "lognormal", "exponential" or "uniform", ASCII
  /// capitals allowed) and its parameter lists in order; lists beyond the variant's are ignored.
  /// An unknown name, too few lists or parameters `make` refuses are an error.
  [[nodiscard]] static Result<VectorDistribution> from_parameters(
      std::string_view name, const std::vector<std::vector<double>>& parameters);

  /// The number of slots: the length of the longest parameter list.
  std::size_t slots() const noexcept { return slots_; }

  /// Per slot, the probability that the slot's variable is at most `x`. A threshold that is not a
  /// number gives not-a-number slots.
  Value cdf(double x) const;

  /// Per slot of `cdf(x)`, 1.0 minus it: the probability that the variable is above `x`.
  Value survival(double x) const;

  const Variant& variant() const noexcept { return variant_; }

 private:
  VectorDistribution(Variant variant, std::size_t slots)
      : variant_(std::move(variant)), slots_(slots) {}

  Variant variant_;
  std::size_t slots_;
};

}  // namespace talvo
