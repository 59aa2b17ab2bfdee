#pragma once
// The log-sum-exp of `LogProb`: the steps of a semiring's sum that need <cmath>. They are inline
// for the circuit's evaluation, their caller, and kept out of the public header.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

#include "talvo/circuit/semiring.hpp"

namespace talvo {

inline void LogProb::add(const SumState& state, std::span<const double> product) {
  const std::size_t n = state.maximum.size();
  if (product.size() != n) detail::throw_product_length(product.size(), n);
  double* m = state.maximum.data();
  double* s = state.scaled.data();
  double* d = state.dropped_nan.data();
  const double* p = product.data();
  for (std::size_t i = 0; i < n; ++i) {
    const double previous = m[i];
    const double top = detail::max_ignoring_nan(previous, p[i]);
    m[i] = top;
    // While M is -inf, S is still 0.0 and needs no scaling, and a NaN product is dropped.
    if (previous != detail::kMinusInfinity) {
      s[i] *= std::exp(previous - top);
    } else if (p[i] != p[i]) {
      d[i] = 1.0;
    }
    if (top != detail::kMinusInfinity) s[i] += std::exp(p[i] - top);
  }
}

inline void LogProb::merge(const SumState& state, const SumState& later) {
  const std::size_t n = state.maximum.size();
  if (later.maximum.size() != n) detail::throw_product_length(later.maximum.size(), n);
  double* m = state.maximum.data();
  double* s = state.scaled.data();
  double* d = state.dropped_nan.data();
  const double* lm = later.maximum.data();
  const double* ls = later.scaled.data();
  const double* ld = later.dropped_nan.data();
  for (std::size_t i = 0; i < n; ++i) {
    if (m[i] == detail::kMinusInfinity) {
      m[i] = lm[i];
      s[i] = ls[i];
      if (ld[i] != 0.0) d[i] = 1.0;
    } else if (ld[i] != 0.0) {
      s[i] = std::numeric_limits<double>::quiet_NaN();
    } else if (lm[i] != detail::kMinusInfinity) {
      const double top = std::max(m[i], lm[i]);
      s[i] = s[i] * std::exp(m[i] - top) + ls[i] * std::exp(lm[i] - top);
      m[i] = top;
    }
  }
}

inline void LogProb::finish_sum(const SumState& state) {
  double* m = state.maximum.data();
  const double* s = state.scaled.data();
  const std::size_t n = state.maximum.size();
  for (std::size_t i = 0; i < n; ++i) m[i] += std::log(s[i]);
}

}  // namespace talvo
