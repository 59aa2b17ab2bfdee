#pragma once
// Evaluation of one algebraic circuit: the hot loop of every update.

#include <cstddef>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "circuit/algebraic.hpp"
#include "circuit/semiring.hpp"
#include "core/value.hpp"

namespace talvo {

namespace algebraic_detail {

// Kept out of line so that building the message costs the hot loop nothing.
[[noreturn]] void throw_column_out_of_range(std::size_t column, std::size_t count);

}  // namespace algebraic_detail

template <Semiring S, class Resolve>
Value AlgebraicCircuit::evaluate(Resolve&& resolve) const {
  using Resolved = std::invoke_result_t<Resolve&, const Column&>;
  static_assert(!std::is_same_v<std::remove_cvref_t<Resolved>, Value> ||
                    std::is_lvalue_reference_v<Resolved>,
                "resolve must give a view of a vector that outlives the evaluation, not a copy");
  const std::size_t n = value_size;
  if (minterms.empty()) return S::zero(n);

  // Every column is resolved once, whether or not a minterm uses it; the views share the
  // vectors' storage.
  std::vector<std::span<const double>> operands;
  operands.reserve(columns.size());
  for (const Column& column : columns) {
    operands.push_back(std::span<const double>(resolve(column)));
  }

  auto sum = S::start_sum(n);
  const auto product_storage = std::make_unique_for_overwrite<double[]>(n);
  const std::span<double> product(product_storage.get(), n);
  for (const Minterm& minterm : minterms) {
    S::fill_one(product);
    for (const std::size_t c : minterm) {
      if (c >= operands.size()) algebraic_detail::throw_column_out_of_range(c, operands.size());
      // The product refuses (throws Panic for) an operand length it cannot take.
      S::mul(product, operands[c]);
    }
    S::add(sum, std::span<const double>(product));
  }
  return S::finish_sum(std::move(sum));
}

}  // namespace talvo
