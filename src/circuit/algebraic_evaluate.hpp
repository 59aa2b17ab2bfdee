#pragma once
// Evaluation of one algebraic circuit: the hot loop of every update.

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "circuit/loop_steps.hpp"
#include "talvo/circuit/algebraic.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

namespace detail {

// Kept out of line so that building the message costs the hot loop nothing.
[[noreturn]] void throw_column_out_of_range(std::size_t column, std::size_t count);

/// Folds each minterm's product into `sum`, in order; `product` is the accumulator, refilled with
/// one for every minterm.
template <Semiring S, std::size_t Extent>
void add_minterms(std::span<const Minterm> minterms,
                  std::span<const std::span<const double>> operands,
                  std::span<double, Extent> product, const typename S::SumState& sum) {
  for (const Minterm& minterm : minterms) {
    S::fill_one(product);
    for (const std::size_t c : minterm) {
      if (c >= operands.size()) throw_column_out_of_range(c, operands.size());
      // The product refuses (throws Panic for) an operand length it cannot take.
      ProductSteps<S>::mul(product, operands[c]);
    }
    SumSteps<S>::add(sum, product);
  }
}

/// `add_minterms`; with one slot the product is a single entry that stays in a register across a
/// minterm's columns instead of going through memory for each of them.
template <Semiring S>
void sum_minterms(std::span<const Minterm> minterms,
                  std::span<const std::span<const double>> operands, std::span<double> product,
                  const typename S::SumState& sum) {
  if (product.size() == 1) {
    double entry;
    add_minterms<S>(minterms, operands, std::span<double, 1>(&entry, 1), sum);
  } else {
    add_minterms<S>(minterms, operands, product, sum);
  }
}

/// The node's value in semiring S: the sum over minterms of the product over each minterm's
/// columns. `resolve(column)` gives the current vector of a column (a leaf's value or an edge's
/// memory) as a read-only view; it is called once per column, in column order, and not at all
/// when there are no minterms. A minterm column outside the columns, or an operand the product
/// cannot take, aborts. The value goes into `result` (`value_size` entries); the work is done in
/// `buffers`.
template <Semiring S, class Resolve>
void evaluate_into(const AlgebraicCircuit& circuit, Resolve&& resolve, std::span<double> result,
                   EvaluationBuffers<S>& buffers) {
  const std::vector<Minterm>& minterms = circuit.minterms;
  using Resolved = std::invoke_result_t<Resolve&, const Column&>;
  static_assert(
      !std::is_same_v<std::remove_cvref_t<Resolved>, Value> || std::is_lvalue_reference_v<Resolved>,
      "resolve must give a view of a vector that outlives the evaluation, not a copy");
  const std::size_t n = result.size();
  // Per piece of the sum: its product accumulator, its sum's scratch and, for every piece but the
  // first (which sums straight into `result`), the entries that piece sums into; then a cache
  // line left free, so that workers summing neighbouring pieces never write to one line.
  constexpr std::size_t kLine = 64 / sizeof(double);
  const std::size_t block = ((2 + S::sum_scratch) * n + kLine - 1) / kLine * kLine + kLine;
  const auto product_of = [&](std::size_t piece) {
    return std::span<double>(buffers.entries).subspan(piece * block, n);
  };
  const auto scratch_of = [&](std::size_t piece) {
    return std::span<double>(buffers.entries).subspan(piece * block + 2 * n, S::sum_scratch * n);
  };
  if (minterms.empty()) {
    buffers.entries.resize(block);
    SumSteps<S>::finish_sum(S::start_sum(result, scratch_of(0)));
    return;
  }

  // Every column is resolved once, whether or not a minterm uses it; the views share the
  // vectors' storage.
  std::vector<std::span<const double>>& operands = buffers.operands;
  operands.clear();
  for (const Column& column : circuit.columns) {
    operands.push_back(std::span<const double>(resolve(column)));
  }

  const std::size_t count = (minterms.size() + kMintermsPerPiece - 1) / kMintermsPerPiece;
  buffers.entries.resize(count * block);
  if (count == 1) {
    const auto sum = S::start_sum(result, scratch_of(0));
    detail::sum_minterms<S>(minterms, operands, product_of(0), sum);
    SumSteps<S>::finish_sum(sum);
    return;
  }

  auto& pieces = buffers.pieces;
  pieces.resize(count);
  const std::span<const Minterm> all(minterms);
  const auto sum_piece = [&](std::size_t piece) {
    const std::size_t first = piece * kMintermsPerPiece;
    double* const into = piece == 0 ? result.data() : product_of(piece).data() + n;
    pieces[piece] = S::start_sum(std::span<double>(into, n), scratch_of(piece));
    detail::sum_minterms<S>(all.subspan(first, std::min(kMintermsPerPiece, all.size() - first)),
                            operands, product_of(piece), pieces[piece]);
  };
  // Isolated, so that a worker waiting here never takes up another node's evaluation, which would
  // use the same per-worker buffers.
  tbb::this_task_arena::isolate([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 1),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                        for (std::size_t p = range.begin(); p != range.end(); ++p) sum_piece(p);
                      });
  });
  for (std::size_t p = 1; p < count; ++p) SumSteps<S>::merge(pieces[0], pieces[p]);
  SumSteps<S>::finish_sum(pieces[0]);
}

/// `evaluate_into` a new vector of the circuit's `value_size` entries.
template <Semiring S, class Resolve>
Value evaluate(const AlgebraicCircuit& circuit, Resolve&& resolve) {
  if (circuit.minterms.empty()) return S::zero(circuit.value_size);
  EvaluationBuffers<S> buffers;
  std::span<double> entries;
  Value result = Value::build(circuit.value_size, [&](std::span<double> out) { entries = out; });
  evaluate_into<S>(circuit, std::forward<Resolve>(resolve), entries, buffers);
  return result;
}

}  // namespace detail

}  // namespace talvo
