#include "talvo/circuit/semiring.hpp"

#include <cmath>
#include <string>

#include "circuit/loop_steps.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {
namespace {

Value copy(std::span<const double> in) {
  return Value(in);
}

}  // namespace

namespace detail {

void throw_operand_length(std::size_t operand, std::size_t accumulator) {
  throw Panic("Cannot combine an operand of " + std::to_string(operand) +
              " entries with a product of " + std::to_string(accumulator) + " entries");
}

void throw_product_length(std::size_t product, std::size_t sum) {
  throw Panic("Cannot add a product of " + std::to_string(product) + " entries to a sum of " +
              std::to_string(sum) + " entries");
}

Value LogEncoding::encode_leaf_vec(std::span<const double> in, std::uint64_t) {
  return Value::map(in, [](double x) { return std::log(x); });
}

Value LogEncoding::prepare_leaf_input(Value v, std::size_t) {
  return v;
}
Value LogEncoding::zero(std::size_t n) {
  return Value(n, kMinusInfinity);
}
Value LogEncoding::one(std::size_t n) {
  return Value(n, 0.0);
}

Value LogEncoding::decode_vec(std::span<const double> in) {
  return Value::map(in, [](double y) { return std::exp(y); });
}

// ln(1 - e^(ln x)): one minus the probability a leaf holding x decodes to, as a logarithm.
Value LogEncoding::complement(std::span<const double> in) {
  return Value::map(in, [](double x) { return std::log(1.0 - std::exp(std::log(x))); });
}

}  // namespace detail

Value detail::PlainMaxSum::prepare_leaf_input(Value v, std::size_t) {
  return v;
}
Value detail::PlainMaxSum::zero(std::size_t n) {
  return Value(n, 0.0);
}
Value detail::PlainMaxSum::one(std::size_t n) {
  return Value(n, 1.0);
}
Value detail::PlainMaxSum::decode_vec(std::span<const double> in) {
  return copy(in);
}

Value Fuzzy::encode_leaf_vec(std::span<const double> in, std::uint64_t) {
  return copy(in);
}

Value Fuzzy::complement(std::span<const double> in) {
  return Value::map(in, [](double x) { return 1.0 - x; });
}

Value Boolean::encode_leaf_vec(std::span<const double> in, std::uint64_t) {
  return Value::map(in, [](double x) { return x > 0.0 ? 1.0 : 0.0; });
}

Value Boolean::complement(std::span<const double> in) {
  // The truth of 1 - x, as a complement leaf fed 1 - x holds it: a probability strictly between
  // 0 and 1 leaves both truth values possible.
  return Value::map(in, [](double x) { return 1.0 - x > 0.0 ? 1.0 : 0.0; });
}

namespace {

[[noreturn]] void throw_empty_gradient_input() {
  throw Panic("A ProbGradient value needs at least one entry");
}

}  // namespace

Value ProbGradient::encode_leaf_vec(std::span<const double> in, std::uint64_t index) {
  if (in.empty()) throw_empty_gradient_input();
  Value encoded(in.size(), 0.0);
  std::span<double> e = encoded.mutable_span();
  e[0] = in[0];
  if (index < in.size() - 1) e[index + 1] = 1.0;
  return encoded;
}

Value ProbGradient::prepare_leaf_input(Value v, std::size_t value_size) {
  if (v.empty()) throw_empty_gradient_input();
  if (v.size() >= value_size) return v;
  Value padded(value_size, 0.0);
  padded.mutable_span()[0] = v[0];
  return padded;
}

Value ProbGradient::zero(std::size_t n) {
  return Value(n, 0.0);
}

Value ProbGradient::one(std::size_t n) {
  Value v(n, 0.0);
  if (n > 0) v.mutable_span()[0] = 1.0;
  return v;
}

Value ProbGradient::decode_vec(std::span<const double> in) {
  return copy(in);
}

Value ProbGradient::complement(std::span<const double> in) {
  return Value::map(in, [](double x) { return 1.0 - x; });
}

// The steps the node evaluation inlines, for programs that call them from outside the library.
void LogProb::add(const SumState& state, std::span<const double> product) {
  detail::LogSum::add(state, product);
}
void LogProb::merge(const SumState& state, const SumState& later) {
  detail::LogSum::merge(state, later);
}
void LogProb::finish_sum(const SumState& state) {
  detail::LogSum::finish_sum(state);
}

}  // namespace talvo
