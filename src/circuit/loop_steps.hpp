#pragma once
// The steps that the node evaluation's loop calls where a semiring's own would cost it speed.
// `LogProb`'s sum, inline: the loop calls it once per minterm, where a call would cost more than
// the step itself with one slot and would keep the product out of a register; the library's
// `LogProb::add`, `merge` and `finish_sum` are these same steps for programs that include the
// public header, which does without <cmath>. `Fuzzy`'s product, without the test for a NaN
// accumulator that the loop never holds.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

#include "talvo/circuit/semiring.hpp"

namespace talvo::detail {

struct LogSum {
  using SumState = LogProb::SumState;

  static void add(const SumState& state, std::span<const double> product) {
    const std::size_t n = state.maximum.size();
    if (product.size() != n) throw_product_length(product.size(), n);
    double* m = state.maximum.data();
    double* s = state.scaled.data();
    double* d = state.dropped_nan.data();
    const double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) {
      const double previous = m[i];
      const double top = max_ignoring_nan(previous, p[i]);
      m[i] = top;
      // While M is -inf, S is still 0.0 and needs no scaling, and a NaN product is dropped.
      if (previous != kMinusInfinity) {
        s[i] *= std::exp(previous - top);
      } else if (p[i] != p[i]) {
        d[i] = 1.0;
      }
      if (top != kMinusInfinity) s[i] += std::exp(p[i] - top);
    }
  }

  static void merge(const SumState& state, const SumState& later) {
    const std::size_t n = state.maximum.size();
    if (later.maximum.size() != n) throw_product_length(later.maximum.size(), n);
    double* m = state.maximum.data();
    double* s = state.scaled.data();
    double* d = state.dropped_nan.data();
    const double* lm = later.maximum.data();
    const double* ls = later.scaled.data();
    const double* ld = later.dropped_nan.data();
    for (std::size_t i = 0; i < n; ++i) {
      if (m[i] == kMinusInfinity) {
        m[i] = lm[i];
        s[i] = ls[i];
        if (ld[i] != 0.0) d[i] = 1.0;
      } else if (ld[i] != 0.0) {
        s[i] = std::numeric_limits<double>::quiet_NaN();
      } else if (lm[i] != kMinusInfinity) {
        const double top = std::max(m[i], lm[i]);
        s[i] = s[i] * std::exp(m[i] - top) + ls[i] * std::exp(lm[i] - top);
        m[i] = top;
      }
    }
  }

  static void finish_sum(const SumState& state) {
    double* m = state.maximum.data();
    const double* s = state.scaled.data();
    const std::size_t n = state.maximum.size();
    for (std::size_t i = 0; i < n; ++i) m[i] += std::log(s[i]);
  }
};

/// `Fuzzy::mul` for a product that is never NaN, as the loop's products are: each starts at one,
/// and a NaN column leaves it as it was. Without the semiring's test of the accumulator, the
/// minimum is one instruction on the chain of a minterm's columns.
struct FuzzyProduct {
  static void mul(std::span<double> acc, std::span<const double> in) {
    combine_or_broadcast(acc, in, [](double a, double b) { return b < a ? b : a; });
  }
};

/// Whose steps the node evaluation calls: `sum` for `add`, `merge` and `finish_sum`, `product`
/// for `mul`; the semiring's own unless a step above stands in for it.
template <class S>
struct LoopSteps {
  using sum = S;
  using product = S;
};
template <>
struct LoopSteps<LogProb> {
  using sum = LogSum;
  using product = LogProb;
};
template <>
struct LoopSteps<Fuzzy> {
  using sum = Fuzzy;
  using product = FuzzyProduct;
};
template <class S>
using SumSteps = typename LoopSteps<S>::sum;
template <class S>
using ProductSteps = typename LoopSteps<S>::product;

}  // namespace talvo::detail
