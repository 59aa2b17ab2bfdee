#pragma once
// What a semiring supplies, and the five semirings. A semiring is a type without data; every
// operation is static. The whole circuit is generic over it, so nothing inside the circuit asks
// which semiring it runs in.
//
// The hot operations (`fill_one`, `mul`, `add`) are inline plain loops over contiguous doubles so
// that they vectorise where the circuit is instantiated; the rest lives in semiring.cpp. The
// log-sum-exp of `LogProb` needs <cmath>: the library defines it for callers, and the circuit's
// evaluation inlines a copy of its own.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

#include "talvo/core/value.hpp"

namespace talvo {

template <class S>
concept Semiring = std::copyable<typename S::SumState> &&
    requires(std::span<const double> in, std::span<double> acc, Value v, std::size_t n,
             std::uint64_t index, typename S::SumState& state) {
  /// The semiring's name as users spell it ("LogProb", ...).
  { S::name } -> std::convertible_to<std::string_view>;
  /// Stores a leaf's incoming probability vector; `index` is the leaf's index (ProbGradient puts
  /// its gradient seed at slot index + 1, the others ignore it). Same length as `in`.
  { S::encode_leaf_vec(in, index) } -> std::same_as<Value>;
  /// What a leaf update does to its input before encoding (ProbGradient pads a short input to
  /// `value_size`; the others return it unchanged). Only called when `accepts_leaf` holds.
  { S::prepare_leaf_input(std::move(v), n) } -> std::same_as<Value>;
  /// Whether a leaf may hold a value encoded from an input of this length in a circuit of this
  /// `value_size` (so that the next evaluation can take it).
  { S::accepts_leaf(n, n) } -> std::same_as<bool>;
  /// Whether the product can take an operand of this length (second argument: `value_size`).
  { S::accepts_operand(n, n) } -> std::same_as<bool>;
  { S::zero(n) } -> std::same_as<Value>;
  { S::one(n) } -> std::same_as<Value>;
  /// Refills an accumulator with one.
  S::fill_one(acc);
  /// acc := acc (x) operand, in place; an operand of a length `accepts_operand` refuses throws
  /// `Panic`. The operand never shares the accumulator's storage.
  S::mul(acc, in);
  /// The sum over minterms works on storage its caller owns and keeps: `start_sum(result,
  /// scratch)` takes the n entries that become the node's value and `sum_scratch` * n more; `add`
  /// folds one product in; `merge` folds in the state of the minterms that follow this state's
  /// (summing a node in pieces); `finish_sum` leaves the value in `result`.
  { S::sum_scratch } -> std::convertible_to<std::size_t>;
  { S::start_sum(acc, acc) } -> std::same_as<typename S::SumState>;
  S::add(std::as_const(state), in);
  S::merge(std::as_const(state), std::as_const(state));
  S::finish_sum(std::as_const(state));
  /// A stored vector in plain form (probabilities, degrees, truth values, dual vectors).
  { S::decode_vec(in) } -> std::same_as<Value>;
  /// The stored complement of an un-encoded probability vector (the value of a complement leaf).
  { S::complement(in) } -> std::same_as<Value>;
};

namespace detail {

inline constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

/// The product met an operand it cannot combine with its accumulator.
[[noreturn]] void throw_operand_length(std::size_t operand, std::size_t accumulator);

/// The sum met a product whose length differs from its own.
[[noreturn]] void throw_product_length(std::size_t product, std::size_t sum);

/// Maximum and minimum in which a NaN operand gives way to the other one (NaN only if both are).
/// A comparison and a NaN test, each selecting without a short circuit, so that they compile to
/// max, min and select instructions: a branch on the data would be mispredicted at every other
/// column of a product.
inline constexpr auto max_ignoring_nan = [](double a, double b) {
  const double larger = b > a ? b : a;
  return a != a ? b : larger;
};
inline constexpr auto min_ignoring_nan = [](double a, double b) {
  const double smaller = b < a ? b : a;
  return a != a ? b : smaller;
};

/// acc[i] := op(acc[i], in[i]); an operand of one entry is applied to every slot, because
/// one-entry values (comparison leaves, boolean writers) reach circuits of every width.
template <class Op>
inline void combine_or_broadcast(std::span<double> acc, std::span<const double> in, Op op) {
  const std::size_t n = acc.size();
  double* a = acc.data();
  const double* b = in.data();
  if (in.size() == n) {
    for (std::size_t i = 0; i < n; ++i) a[i] = op(a[i], b[i]);
  } else if (in.size() == 1) {
    const double x = b[0];
    for (std::size_t i = 0; i < n; ++i) a[i] = op(a[i], x);
  } else {
    throw_operand_length(in.size(), n);
  }
}

inline bool exact_or_single(std::size_t len, std::size_t value_size) {
  return len == value_size || len == 1;
}

/// A sum held in the caller's storage as one entry per slot.
struct SumSlots {
  std::span<double> entries;

  /// sum[i] := op(sum[i], product[i]) over a product of the same length.
  template <class Op>
  void fold(std::span<const double> product, Op op) const {
    const std::size_t n = entries.size();
    if (product.size() != n) throw_product_length(product.size(), n);
    double* s = entries.data();
    const double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) s[i] = op(s[i], p[i]);
  }
};

inline void fill(std::span<double> acc, double x) {
  double* a = acc.data();
  const std::size_t n = acc.size();
  for (std::size_t i = 0; i < n; ++i) a[i] = x;
}

/// The sum of every semiring but `LogProb`: one entry per slot, started at `zero` and combined
/// with each product by `Op`. Pieces of a sum merge by the same `Op`: for a maximum that ignores
/// NaN this gives exactly the sum taken in one piece, for an addition the same up to rounding.
template <class Op, double zero>
struct FoldedSum {
  using SumState = SumSlots;
  static constexpr std::size_t sum_scratch = 0;

  static SumState start_sum(std::span<double> result, std::span<double> /*scratch*/) {
    fill(result, zero);
    return {result};
  }
  static void add(const SumState& state, std::span<const double> product) {
    state.fold(product, Op{});
  }
  static void merge(const SumState& state, const SumState& later) {
    state.fold(later.entries, Op{});
  }
  static void finish_sum(const SumState& /*state*/) {}
};

using MaxIgnoringNan = decltype(max_ignoring_nan);
inline constexpr auto plus = [](double a, double b) { return a + b; };
using Plus = decltype(plus);

/// The length rule of every semiring but `ProbGradient`: a vector of `value_size` entries, or of
/// one entry that applies to every slot.
struct OneOrEverySlot {
  static bool accepts_leaf(std::size_t len, std::size_t value_size) {
    return exact_or_single(len, value_size);
  }
  static bool accepts_operand(std::size_t len, std::size_t value_size) {
    return exact_or_single(len, value_size);
  }
};

/// What `LogProb` and `MaxProduct` share: probabilities stored as natural logarithms, the product
/// of probabilities as a sum of logarithms.
struct LogEncoding : OneOrEverySlot {
  static Value encode_leaf_vec(std::span<const double> in, std::uint64_t index);
  static Value prepare_leaf_input(Value v, std::size_t value_size);
  static Value zero(std::size_t n);
  static Value one(std::size_t n);
  static void fill_one(std::span<double> acc) { fill(acc, 0.0); }
  static void mul(std::span<double> acc, std::span<const double> in) {
    combine_or_broadcast(acc, in, [](double a, double b) { return a + b; });
  }
  static Value decode_vec(std::span<const double> in);
  static Value complement(std::span<const double> in);
};

}  // namespace detail

/// Probabilities as natural logarithms; the sum over minterms is a log-sum-exp (the default).
struct LogProb : detail::LogEncoding {
  static constexpr std::string_view name = "LogProb";

  /// Per slot: the running maximum M of the products so far (it becomes the result), the sum S
  /// of their exponentials scaled by e^-M, and whether a NaN product was dropped while M was still
  /// -inf (1.0, else 0.0), which decides what that NaN does when an earlier piece is merged in
  /// front of this one.
  struct SumState {
    std::span<double> maximum;
    std::span<double> scaled;
    std::span<double> dropped_nan;
  };
  static constexpr std::size_t sum_scratch = 2;

  static SumState start_sum(std::span<double> result, std::span<double> scratch) {
    const std::size_t n = result.size();
    detail::fill(result, detail::kMinusInfinity);
    detail::fill(scratch.first(2 * n), 0.0);
    return {result, scratch.first(n), scratch.subspan(n, n)};
  }

  // The three steps below need <cmath>; they are defined in the library, so that programs
  // including this header do without it. The circuit's evaluation inlines the same steps.

  /// While M is still -inf nothing is exponentiated: a NaN product then is dropped, while one
  /// after a finite product (or any +inf product) makes the slot NaN.
  static void add(const SumState& state, std::span<const double> product);

  /// Folds in the state of the minterms that follow, as if their products had been added one by
  /// one: a state without a finite product takes the later one over as it is, a NaN the later
  /// piece dropped counts once this one has a finite product, and two finite maxima rescale to
  /// the larger (the only step that rounds differently from adding one by one).
  static void merge(const SumState& state, const SumState& later);

  /// M + ln S per slot, written over M: a slot without a finite product stays -inf.
  static void finish_sum(const SumState& state);
};

/// Probabilities as natural logarithms; the best minterm instead of the sum over minterms.
struct MaxProduct : detail::LogEncoding,
                    detail::FoldedSum<detail::MaxIgnoringNan, detail::kMinusInfinity> {
  static constexpr std::string_view name = "MaxProduct";
};

namespace detail {

/// What `Fuzzy` and `Boolean` share: values stored in plain form (degrees, truth values), zero 0.0
/// and one 1.0, the best minterm as the sum, and decoding as a copy.
struct PlainMaxSum : OneOrEverySlot, FoldedSum<MaxIgnoringNan, 0.0> {
  static Value prepare_leaf_input(Value v, std::size_t value_size);
  static Value zero(std::size_t n);
  static Value one(std::size_t n);
  static void fill_one(std::span<double> acc) { fill(acc, 1.0); }
  static Value decode_vec(std::span<const double> in);
};

}  // namespace detail

/// Degrees stored unchanged: min within a minterm, max over minterms. Results lie in [0, 1]
/// because products start at 1 and sums at 0; inputs are not clamped.
struct Fuzzy : detail::PlainMaxSum {
  static constexpr std::string_view name = "Fuzzy";

  static Value encode_leaf_vec(std::span<const double> in, std::uint64_t index);
  static void mul(std::span<double> acc, std::span<const double> in) {
    detail::combine_or_broadcast(acc, in, detail::min_ignoring_nan);
  }
  static Value complement(std::span<const double> in);
};

/// Truth values 0.0 and 1.0: product within a minterm, max over minterms.
struct Boolean : detail::PlainMaxSum {
  static constexpr std::string_view name = "Boolean";

  /// 1.0 for every positive entry; 0.0 for zero, negative entries and NaN.
  static Value encode_leaf_vec(std::span<const double> in, std::uint64_t index);
  static void mul(std::span<double> acc, std::span<const double> in) {
    detail::combine_or_broadcast(acc, in, [](double a, double b) { return a * b; });
  }
  static Value complement(std::span<const double> in);
};

/// A probability with its derivative with respect to every leaf: entry 0 is the probability,
/// entry j + 1 the derivative by the leaf of index j. Products follow the product rule, sums add.
struct ProbGradient : detail::FoldedSum<detail::Plus, 0.0> {
  static constexpr std::string_view name = "ProbGradient";

  /// [in[0], 0, ..., 0] with the seed 1.0 at slot index + 1 when that slot exists; the length is
  /// the input's. An empty input throws `Panic`.
  static Value encode_leaf_vec(std::span<const double> in, std::uint64_t index);
  /// An input shorter than `value_size` becomes in[0] followed by zeros; a longer one stays.
  static Value prepare_leaf_input(Value v, std::size_t value_size);
  static bool accepts_leaf(std::size_t len, std::size_t /*value_size*/) { return len >= 1; }
  /// Entries beyond `value_size` are not read.
  static bool accepts_operand(std::size_t len, std::size_t value_size) { return len >= value_size; }
  static Value zero(std::size_t n);
  static Value one(std::size_t n);
  static void fill_one(std::span<double> acc) {
    detail::fill(acc, 0.0);
    if (!acc.empty()) acc[0] = 1.0;
  }
  static void mul(std::span<double> acc, std::span<const double> in) {
    const std::size_t n = acc.size();
    if (in.size() < n) detail::throw_operand_length(in.size(), n);
    if (n == 0) return;
    double* a = acc.data();
    const double* b = in.data();
    const double a0 = a[0];
    const double b0 = b[0];
    for (std::size_t i = 1; i < n; ++i) a[i] = a0 * b[i] + b0 * a[i];
    a[0] = a0 * b0;
  }
  static Value decode_vec(std::span<const double> in);
  /// 1 - v in every slot; no gradient seed.
  static Value complement(std::span<const double> in);
};

}  // namespace talvo

/// Expands `X(S)` for each of the five semirings. Every explicit instantiation (and its `extern`
/// declaration) goes through this one list.
#define TALVO_FOR_EACH_SEMIRING(X) X(LogProb) X(MaxProduct) X(Fuzzy) X(Boolean) X(ProbGradient)
