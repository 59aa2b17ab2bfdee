#include "talvo/channels/distribution.hpp"

#include <charconv>
#include <cmath>
#include <initializer_list>
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

/// Entry `i` of a parameter list, or its one entry, which holds for every slot.
double at(const Value& list, std::size_t i) {
  return list.size() == 1 ? list[0] : list[i];
}

// Walks two parameter lists slot by slot.
template <class Slot>
Value per_slot(std::size_t n, const Value& first, const Value& second, Slot&& slot) {
  return Value::build(n, [&](std::span<double> out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = slot(at(first, i), at(second, i));
  });
}

std::string ascii_lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

Value cdf_of(const VectorDistribution::Normal& d, std::size_t n, double x) {
  return per_slot(n, d.means, d.stds, [x](double mean, double std) {
    return normal_probability((x - mean) / (std * kSqrt2));
  });
}

Value cdf_of(const VectorDistribution::LogNormal& d, std::size_t n, double x) {
  if (x <= 0.0) return Value(n, 0.0);
  const double l = std::log(x);
  return per_slot(n, d.log_means, d.log_stds, [l](double log_mean, double log_std) {
    return normal_probability((l - log_mean) / (log_std * kSqrt2));
  });
}

Value cdf_of(const VectorDistribution::Exponential& d, std::size_t n, double x) {
  if (x <= 0.0) return Value(n, 0.0);
  return Value::build(n, [&](std::span<double> out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = 1.0 - std::exp(x * -at(d.rates, i));
  });
}

Value cdf_of(const VectorDistribution::Uniform& d, std::size_t n, double x) {
  return per_slot(n, d.lows, d.highs, [x](double low, double high) {
    if (x <= low) return 0.0;
    if (x >= high) return 1.0;
    return (x - low) / (high - low);
  });
}

std::string number(double x) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, x).ptr);
}

/// A parameter list, the name refusals give it and what each of its entries must be.
struct List {
  const char* name;
  const Value& entries;
  bool (*valid)(double);
  const char* rule;
};

bool finite(double x) {
  return std::isfinite(x);
}
bool positive_finite(double x) {
  return std::isfinite(x) && x > 0.0;
}

/// The number of slots the lists give, the longest one's length, after refusing the first list
/// that defines nothing: an empty one, one whose length is neither that nor 1 (a single entry holds
/// for every slot), or one with an entry that is not `valid`.
Result<std::size_t> check_lists(std::string_view variant, std::initializer_list<List> lists) {
  const std::string where = std::string(variant) + ": ";
  const List* longest = lists.begin();
  for (const List& list : lists) {
    if (list.entries.empty()) return fail(where + list.name + " is empty");
    if (list.entries.size() > longest->entries.size()) longest = &list;
  }
  const std::size_t slots = longest->entries.size();
  for (const List& list : lists) {
    const std::size_t size = list.entries.size();
    if (size != 1 && size != slots) {
      return fail(where + list.name + " has " + std::to_string(size) + " entries but " +
                  longest->name + " has " + std::to_string(slots) +
                  "; a list holds one entry per slot, or one entry for every slot");
    }
    for (std::size_t i = 0; i < size; ++i) {
      if (list.valid(list.entries[i])) continue;
      return fail(where + list.name + "[" + std::to_string(i) + "] is " + number(list.entries[i]) +
                  "; " + list.rule);
    }
  }
  return slots;
}

// The checks of each variant; each returns the number of slots.

Result<std::size_t> check(const VectorDistribution::Normal& d) {
  return check_lists("Normal", {{"means", d.means, finite, "a mean must be finite"},
                                {"stds", d.stds, positive_finite,
                                 "a standard deviation must be positive and finite"}});
}

Result<std::size_t> check(const VectorDistribution::LogNormal& d) {
  return check_lists("LogNormal",
                     {{"log_means", d.log_means, finite, "a mean of the logarithm must be finite"},
                      {"log_stds", d.log_stds, positive_finite,
                       "a standard deviation of the logarithm must be positive and finite"}});
}

Result<std::size_t> check(const VectorDistribution::Exponential& d) {
  return check_lists("Exponential",
                     {{"rates", d.rates, positive_finite, "a rate must be positive and finite"}});
}

Result<std::size_t> check(const VectorDistribution::Uniform& d) {
  Result<std::size_t> slots =
      check_lists("Uniform", {{"lows", d.lows, finite, "a bound must be finite"},
                              {"highs", d.highs, finite, "a bound must be finite"}});
  if (!slots) return slots;
  // Bounds that meet or cross define no density; the survival form would be wrong at the bound.
  for (std::size_t i = 0; i < *slots; ++i) {
    const std::size_t low = d.lows.size() == 1 ? 0 : i;
    const std::size_t high = d.highs.size() == 1 ? 0 : i;
    if (d.lows[low] < d.highs[high]) continue;
    return fail("Uniform: lows[" + std::to_string(low) + "] is " + number(d.lows[low]) +
                " and highs[" + std::to_string(high) + "] is " + number(d.highs[high]) +
                "; a low bound must be below its high bound");
  }
  return slots;
}

}  // namespace

Result<VectorDistribution> VectorDistribution::make(Variant variant) {
  Result<std::size_t> slots = std::visit([](const auto& d) { return check(d); }, variant);
  if (!slots) return std::unexpected(std::move(slots.error()));
  return VectorDistribution(std::move(variant), *slots);
}

Result<VectorDistribution> VectorDistribution::from_parameters(
    std::string_view name, const std::vector<std::vector<double>>& parameters) {
  const std::string kind = ascii_lower(name);
  const auto list = [&](std::size_t i) { return Value(parameters[i]); };
  if (kind == "normal") {
    if (parameters.size() < 2) return fail("Normal requires [[means], [stds]]");
    return make(Normal{list(0), list(1)});
  }
  if (kind == "lognormal") {
    if (parameters.size() < 2) return fail("LogNormal requires [[log_means], [log_stds]]");
    return make(LogNormal{list(0), list(1)});
  }
  if (kind == "exponential") {
    if (parameters.empty()) return fail("Exponential requires [[rates]]");
    return make(Exponential{list(0)});
  }
  if (kind == "uniform") {
    if (parameters.size() < 2) return fail("Uniform requires [[lows], [highs]]");
    return make(Uniform{list(0), list(1)});
  }
  return fail("Unknown distribution '" + std::string(name) +
              "'. Supported: normal, lognormal, exponential, uniform");
}

Value VectorDistribution::cdf(double x) const {
  return std::visit([this, x](const auto& d) { return cdf_of(d, slots_, x); }, variant_);
}

Value VectorDistribution::survival(double x) const {
  Value probabilities = cdf(x);
  for (double& p : probabilities.mutable_span()) p = 1.0 - p;
  return probabilities;
}

}  // namespace talvo
