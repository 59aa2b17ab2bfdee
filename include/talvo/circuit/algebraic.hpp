#pragma once
// The content of one node of the reactive circuit: a sum of products over numbered columns. A
// column is a leaf of the reactive circuit or a memory (the value of a child node, carried on an
// edge from this node to the child).
//
// Invariants kept by every operation: each entry of `leaf_columns` maps leaf i to a column
// (Leaf, i) and each entry of `memory_columns` maps edge e to a column (Memory, e); no leaf and no
// edge has two columns; every column index inside `minterms` is below the number of columns.
// Columns that no minterm uses may exist; nothing removes them on its own. Minterm order matters:
// callers keep minterm indices and pass them back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "talvo/circuit/semiring.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

enum class ColumnKind : std::uint32_t { Leaf = 0, Memory = 1 };

struct Column {
  ColumnKind kind;
  std::uint32_t id;  // a leaf index for Leaf, an edge index for Memory
  friend bool operator==(const Column&, const Column&) = default;
};

/// "L" and the leaf index, or "M" and the edge index, as circuits are drawn.
std::string column_name(const Column& column);

using Minterm = std::vector<std::size_t>;  // ascending column indices, no duplicates

/// A node with more minterms than this is summed in pieces of this many consecutive minterms,
/// on all workers, and the pieces' sums are merged in minterm order. The pieces depend on the
/// node alone, so its value is the same however many workers there are.
inline constexpr std::size_t kMintermsPerPiece = 1024;

/// Working storage of node evaluations in semiring S: kept from one evaluation to the next, so
/// that evaluating allocates nothing once the storage has grown to the largest node.
template <Semiring S>
struct EvaluationBuffers {
  std::vector<std::span<const double>> operands;  // one view per column
  std::vector<double> entries;                    // product accumulators and sum states
  std::vector<typename S::SumState> pieces;       // one sum per piece of a large node
};

class AlgebraicCircuit {
 public:
  std::vector<Minterm> minterms;  // an empty minterm is the empty product (the semiring's one)
  std::vector<Column> columns;    // a column's index is its position here
  std::unordered_map<std::uint32_t, std::size_t> leaf_columns;
  std::unordered_map<std::uint32_t, std::size_t> memory_columns;
  std::size_t value_size = 1;

  AlgebraicCircuit() = default;
  explicit AlgebraicCircuit(std::size_t value_size);

  /// The leaf's column, appended (and mapped) when the circuit has none yet.
  std::size_t ensure_leaf(std::uint32_t leaf);
  /// The edge's memory column, appended (and mapped) when the circuit has none yet.
  std::size_t create_memory(std::uint32_t edge);
  /// Appends the minterm, sorted and without duplicates; returns its index. An equal minterm
  /// already present is not looked for. A column index outside the columns aborts.
  std::size_t push_minterm(Minterm minterm);
  /// One minterm per product, each leaf mapped through `ensure_leaf` in order of appearance.
  void add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product);
  /// The indices, ascending, of the minterms that hold the column.
  std::vector<std::size_t> minterms_containing_col(std::size_t column) const;
  /// Puts the column into the minterm at its sorted place unless it is there already.
  void insert_col(std::size_t minterm, std::size_t column);
  /// Removes the column from `columns`, its map and every minterm, renumbering the later columns.
  /// Minterms that become empty stay, as empty products.
  void remove_col_inner(std::size_t column);
  /// `remove_col_inner`, then drops the minterms that held only this column. A minterm that was
  /// empty before the call is an empty product and stays, so that the circuit's value is kept.
  void remove_col(std::size_t column);
  /// Points a memory column at another edge.
  void remap_memory(std::size_t column, std::uint32_t old_edge, std::uint32_t new_edge);
  /// A new circuit holding the selected minterms (in the given order) over just the columns they
  /// use, renumbered in ascending order; none when nothing is selected.
  std::optional<AlgebraicCircuit> sub_circuit(const std::vector<const Minterm*>& selected) const;
  /// (the minterms that hold the leaf, the others), each as a `sub_circuit`; (none, none) when
  /// the leaf has no column.
  std::pair<std::optional<AlgebraicCircuit>, std::optional<AlgebraicCircuit>> split(
      std::uint32_t leaf) const;
  /// The circuit as a DOT record whose rows are its minterms.
  std::string to_dot_text() const;
};

}  // namespace talvo
