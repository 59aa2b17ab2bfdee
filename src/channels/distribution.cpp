#include "channels/distribution.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace talvo {

namespace {

constexpr double kSqrt2 = 1.4142135623730951;

// Cumulative probability of the standard normal at z·√2, through the error function approximation
// of Abramowitz and Stegun (7.1.26); its value at 0 is 0.5000000005, not 0.5. The order of
// operations is part of the result.
double normal_probability(double z) {
  constexpr double p = 0.3275911;
  constexpr double a1 = 0.254829592;
  constexpr double a2 = -0.284496736;
  constexpr double a3 = 1.421413741;
  constexpr double a4 = -1.453152027;
  constexpr double a5 = 1.061405429;

  const double a = std::fabs(z);
  const double e = std::exp(a * -a);
  const double t = 1.0 / (a * p + 1.0);
  const double q = t * ((((t * a5 + a4) * t + a3) * t + a2) * t + a1);
  const double y = 1.0 - q * e;
  const double erf = z >= 0.0 ? y : -y;
  return (erf + 1.0) * 0.5;
}

// Walks two parameter lists pairwise, as far as the shorter one goes.
template <class Slot>
Value pairwise(const Value& first, const Value& second, Slot&& slot) {
  const std::size_t n = std::min(first.size(), second.size());
  return Value::build(n, [&](std::span<double> out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = slot(first[i], second[i]);
  });
}

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

Value cdf_of(const VectorDistribution::Normal& d, double x) {
  return pairwise(d.means, d.stds, [x](double mean, double std) {
    return normal_probability((x - mean) / (std * kSqrt2));
  });
}

Value cdf_of(const VectorDistribution::LogNormal& d, double x) {
  if (x <= 0.0) return Value(d.log_means.size(), 0.0);
  const double l = std::log(x);
  return pairwise(d.log_means, d.log_stds, [l](double log_mean, double log_std) {
    return normal_probability((l - log_mean) / (log_std * kSqrt2));
  });
}

Value cdf_of(const VectorDistribution::Exponential& d, double x) {
  if (x <= 0.0) return Value(d.rates.size(), 0.0);
  return Value::map(d.rates, [x](double rate) { return 1.0 - std::exp(x * -rate); });
}

Value cdf_of(const VectorDistribution::Uniform& d, double x) {
  return pairwise(d.lows, d.highs, [x](double low, double high) {
    if (x <= low) return 0.0;
    if (x >= high) return 1.0;
    return (x - low) / (high - low);
  });
}

}  // namespace

Result<VectorDistribution> VectorDistribution::from_parameters(
    std::string_view name, const std::vector<std::vector<double>>& parameters) {
  const std::string kind = ascii_lower(name);
  const auto list = [&](std::size_t i) { return Value(parameters[i]); };
  if (kind == "normal") {
    if (parameters.size() < 2) return fail("Normal requires [[means], [stds]]");
    return VectorDistribution(Normal{list(0), list(1)});
  }
  if (kind == "lognormal") {
    if (parameters.size() < 2) return fail("LogNormal requires [[log_means], [log_stds]]");
    return VectorDistribution(LogNormal{list(0), list(1)});
  }
  if (kind == "exponential") {
    if (parameters.empty()) return fail("Exponential requires [[rates]]");
    return VectorDistribution(Exponential{list(0)});
  }
  if (kind == "uniform") {
    if (parameters.size() < 2) return fail("Uniform requires [[lows], [highs]]");
    return VectorDistribution(Uniform{list(0), list(1)});
  }
  return fail("Unknown distribution '" + std::string(name) +
              "'. Supported: normal, lognormal, exponential, uniform");
}

Value VectorDistribution::cdf(double x) const {
  return std::visit([x](const auto& d) { return cdf_of(d, x); }, variant_);
}

Value VectorDistribution::survival(double x) const {
  Value probabilities = cdf(x);
  for (double& p : probabilities.mutable_span()) p = 1.0 - p;
  return probabilities;
}

}  // namespace talvo
