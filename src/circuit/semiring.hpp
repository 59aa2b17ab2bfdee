#pragma once
// What a semiring supplies, and the five semirings. A semiring is a type without data; every
// operation is static. The whole circuit is generic over it, so nothing inside the circuit asks
// which semiring it runs in.
//
// The hot operations (`fill_one`, `mul`, `add`) are inline plain loops over contiguous doubles so
// that they vectorise where the circuit is instantiated; the rest lives in semiring.cpp.

#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/value.hpp"

namespace talvo {

template <class S>
concept Semiring = std::movable<typename S::SumState> &&
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
  /// The sum over minterms: start, fold one product in, finish into the node's result. The state
  /// holds the storage that becomes the result, so finishing copies nothing.
  { S::start_sum(n) } -> std::same_as<typename S::SumState>;
  S::add(state, in);
  { S::finish_sum(std::move(state)) } -> std::same_as<Value>;
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
inline constexpr auto max_ignoring_nan = [](double a, double b) {
  return (b > a || a != a) ? b : a;
};
inline constexpr auto min_ignoring_nan = [](double a, double b) {
  return (b < a || a != a) ? b : a;
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

/// A vector that a sum folds into in place and that then becomes the node's result as it is.
/// Move-only: its storage is never shared while the sum runs.
class SumVector {
 public:
  SumVector(std::size_t n, double fill) : value_(n, fill), entries_(value_.mutable_span()) {}
  SumVector(SumVector&&) noexcept = default;
  SumVector& operator=(SumVector&&) noexcept = default;

  double* data() const noexcept { return entries_.data(); }
  std::size_t size() const noexcept { return entries_.size(); }

  /// sum[i] := op(sum[i], product[i]) over a product of the same length.
  template <class Op>
  void fold(std::span<const double> product, Op op) {
    const std::size_t n = size();
    if (product.size() != n) throw_product_length(product.size(), n);
    double* s = data();
    const double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) s[i] = op(s[i], p[i]);
  }

  Value release() && noexcept { return std::move(value_); }

 private:
  Value value_;
  std::span<double> entries_;  // value_'s own storage
};

inline void fill(std::span<double> acc, double x) {
  double* a = acc.data();
  const std::size_t n = acc.size();
  for (std::size_t i = 0; i < n; ++i) a[i] = x;
}

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

  /// Per slot: the running maximum M of the products so far (it becomes the result) and the sum S
  /// of their exponentials scaled by e^-M.
  struct SumState {
    detail::SumVector maximum;
    std::vector<double> scaled;
  };

  static SumState start_sum(std::size_t n) {
    return {detail::SumVector(n, detail::kMinusInfinity), std::vector<double>(n, 0.0)};
  }

  /// While M is still -inf nothing is exponentiated: a NaN product then is dropped, while one
  /// after a finite product (or any +inf product) makes the slot NaN.
  static void add(SumState& state, std::span<const double> product) {
    const std::size_t n = state.maximum.size();
    if (product.size() != n) detail::throw_product_length(product.size(), n);
    double* m = state.maximum.data();
    double* s = state.scaled.data();
    const double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) {
      const double previous = m[i];
      const double top = detail::max_ignoring_nan(previous, p[i]);
      const double factor = previous == detail::kMinusInfinity ? 0.0 : std::exp(previous - top);
      m[i] = top;
      s[i] *= factor;
      if (top != detail::kMinusInfinity) s[i] += std::exp(p[i] - top);
    }
  }

  /// M + ln S per slot, written over M: a slot without a finite product stays -inf.
  static Value finish_sum(SumState state) {
    double* m = state.maximum.data();
    const double* s = state.scaled.data();
    const std::size_t n = state.maximum.size();
    for (std::size_t i = 0; i < n; ++i) m[i] += std::log(s[i]);
    return std::move(state.maximum).release();
  }
};

/// Probabilities as natural logarithms; the best minterm instead of the sum over minterms.
struct MaxProduct : detail::LogEncoding {
  static constexpr std::string_view name = "MaxProduct";

  using SumState = detail::SumVector;

  static SumState start_sum(std::size_t n) { return {n, detail::kMinusInfinity}; }
  static void add(SumState& state, std::span<const double> product) {
    state.fold(product, detail::max_ignoring_nan);
  }
  static Value finish_sum(SumState state) { return std::move(state).release(); }
};

namespace detail {

/// What `Fuzzy` and `Boolean` share: values stored in plain form (degrees, truth values), zero 0.0
/// and one 1.0, the best minterm as the sum, and decoding as a copy.
struct PlainMaxSum : OneOrEverySlot {
  using SumState = SumVector;

  static Value prepare_leaf_input(Value v, std::size_t value_size);
  static Value zero(std::size_t n);
  static Value one(std::size_t n);
  static void fill_one(std::span<double> acc) { fill(acc, 1.0); }
  static SumState start_sum(std::size_t n) { return {n, 0.0}; }
  static void add(SumState& state, std::span<const double> product) {
    state.fold(product, max_ignoring_nan);
  }
  static Value finish_sum(SumState state) { return std::move(state).release(); }
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
struct ProbGradient {
  static constexpr std::string_view name = "ProbGradient";

  using SumState = detail::SumVector;

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
  static SumState start_sum(std::size_t n) { return {n, 0.0}; }
  static void add(SumState& state, std::span<const double> product) {
    state.fold(product, [](double a, double b) { return a + b; });
  }
  static Value finish_sum(SumState state) { return std::move(state).release(); }
  static Value decode_vec(std::span<const double> in);
  /// 1 - v in every slot; no gradient seed.
  static Value complement(std::span<const double> in);
};

}  // namespace talvo

/// Expands `X(S)` for each of the five semirings. Every explicit instantiation (and its `extern`
/// declaration) goes through this one list.
#define TALVO_FOR_EACH_SEMIRING(X) X(LogProb) X(MaxProduct) X(Fuzzy) X(Boolean) X(ProbGradient)
