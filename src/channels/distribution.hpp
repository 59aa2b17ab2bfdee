#pragma once
// Value distributions of a density source: one distribution per batch slot, turned for one
// threshold into the probability per slot that the slot's variable is at most (or above) it.

#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/error.hpp"
#include "core/value.hpp"

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

  /// Parameter values are taken as they are: lists of different lengths, zero or negative
  /// deviations and reversed bounds give what the formulas give.
  VectorDistribution(Variant variant) : variant_(std::move(variant)) {}

  /// Reads a distribution from its name ("normal", "lognormal", "exponential" or "uniform", ASCII
  /// capitals allowed) and its parameter lists in order; lists beyond the variant's are ignored.
  /// An unknown name or too few lists is an error.
  static Result<VectorDistribution> from_parameters(
      std::string_view name, const std::vector<std::vector<double>>& parameters);

  /// Per slot, the probability that the slot's variable is at most `x`. A two-list variant has as
  /// many slots as its shorter list; a threshold that is not a number gives not-a-number slots.
  Value cdf(double x) const;

  /// Per slot of `cdf(x)`, 1.0 minus it: the probability that the variable is above `x`.
  Value survival(double x) const;

  const Variant& variant() const noexcept { return variant_; }

 private:
  Variant variant_;
};

}  // namespace talvo
