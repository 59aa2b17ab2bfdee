#pragma once
// The five semirings for typed tests:
//   TYPED_TEST_SUITE(Suite, AllSemirings, SemiringNames);

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "talvo/circuit/semiring.hpp"
#include "talvo/core/value.hpp"

using AllSemirings = ::testing::Types<talvo::LogProb, talvo::MaxProduct, talvo::Fuzzy,
                                      talvo::Boolean, talvo::ProbGradient>;

/// Names typed test instances after the semiring ("LogProb" instead of "0").
struct SemiringNames {
  template <class S>
  static std::string GetName(int) {
    return std::string(S::name);
  }
};

/// A sum over minterms in storage of its own.
template <talvo::Semiring S>
struct Sum {
  std::vector<double> result;
  std::vector<double> scratch;
  typename S::SumState state;

  explicit Sum(std::size_t n)
      : result(n), scratch(S::sum_scratch * n), state(S::start_sum(result, scratch)) {}
  Sum(const Sum&) = delete;
  Sum& operator=(const Sum&) = delete;

  talvo::Value finish() {
    S::finish_sum(state);
    return talvo::Value(result);
  }
};

/// Whether a sum taken in pieces (`actual`) gives what the sum in one piece gives: bit for bit
/// where the sum is a maximum; where it adds, NaN and infinities in the same slots and the other
/// entries within 1e-12 relative (of the probability, in LogProb).
template <talvo::Semiring S>
::testing::AssertionResult same_as_one_piece(std::span<const double> actual,
                                             std::span<const double> expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << actual.size() << " entries, not " << expected.size();
  }
  constexpr bool rounds =
      std::is_same_v<S, talvo::LogProb> || std::is_same_v<S, talvo::ProbGradient>;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const double a = actual[i];
    const double e = expected[i];
    if (std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(e)) continue;
    if (rounds && std::isnan(a) && std::isnan(e)) continue;
    const double scale = std::is_same_v<S, talvo::LogProb> ? 1.0 : std::abs(e);
    if (rounds && std::isfinite(a) && std::isfinite(e) && std::abs(a - e) <= 1e-12 * scale) {
      continue;
    }
    return ::testing::AssertionFailure() << "slot " << i << ": " << a << " instead of " << e;
  }
  return ::testing::AssertionSuccess();
}
