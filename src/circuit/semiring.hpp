#pragma once
// What a semiring supplies. A semiring is a type without data; every operation is static. The
// whole circuit is generic over it, so nothing inside the circuit asks which semiring it runs in.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/value.hpp"

namespace talvo {

template <class S>
concept Semiring = requires(std::span<const double> in, std::span<double> acc, Value v,
                            std::size_t n, std::uint64_t index, typename S::SumState& state) {
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
  /// acc := acc (x) operand, in place; the operand's length is one `accepts_operand` allows.
  S::mul(acc, in);
  /// The sum over minterms: start, fold one product in, finish into the node's result.
  { S::start_sum(n) } -> std::same_as<typename S::SumState>;
  S::add(state, in);
  { S::finish_sum(std::move(state)) } -> std::same_as<Value>;
  /// A stored vector in plain form (probabilities, degrees, truth values, dual vectors).
  { S::decode_vec(in) } -> std::same_as<Value>;
  /// The stored complement of an un-encoded probability vector (the value of a complement leaf).
  { S::complement(in) } -> std::same_as<Value>;
};

}  // namespace talvo
