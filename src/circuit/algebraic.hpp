#pragma once
// The content of one node of the reactive circuit: a sum of products over numbered columns. A
// column is a leaf of the reactive circuit or a memory (the value of a child node, carried on an
// edge from this node to the child).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/value.hpp"

namespace talvo {

enum class ColumnKind : std::uint32_t { Leaf = 0, Memory = 1 };

struct Column {
  ColumnKind kind;
  std::uint32_t id;  // a leaf index for Leaf, an edge index for Memory
  friend bool operator==(const Column&, const Column&) = default;
};

using Minterm = std::vector<std::size_t>;  // ascending column indices, no duplicates

class AlgebraicCircuit {
 public:
  std::vector<Minterm> minterms;
  std::vector<Column> columns;
  std::unordered_map<std::uint32_t, std::size_t> leaf_columns;
  std::unordered_map<std::uint32_t, std::size_t> memory_columns;
  std::size_t value_size = 1;

  AlgebraicCircuit() = default;
  explicit AlgebraicCircuit(std::size_t value_size) : value_size(value_size) {}

  std::size_t ensure_leaf(std::uint32_t leaf);
  std::size_t create_memory(std::uint32_t edge);
  std::size_t push_minterm(Minterm minterm);
  void add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product);
  std::vector<std::size_t> minterms_containing_col(std::size_t column) const;
  void insert_col(std::size_t minterm, std::size_t column);
  void remove_col_inner(std::size_t column);
  void remove_col(std::size_t column);
  void remap_memory(std::size_t column, std::uint32_t old_edge, std::uint32_t new_edge);
  std::optional<AlgebraicCircuit> sub_circuit(const std::vector<const Minterm*>& selected) const;
  std::pair<std::optional<AlgebraicCircuit>, std::optional<AlgebraicCircuit>> split(
      std::uint32_t leaf) const;
  std::string to_dot_text() const;

  /// The node's value in semiring S. `resolve(column)` gives the current vector of a column (a
  /// leaf's value or an edge's memory) as a read-only view; it is called once per column.
  template <class S, class Resolve>
  Value evaluate(Resolve&& resolve) const;
};

}  // namespace talvo
