#include "talvo/circuit/algebraic.hpp"

#include <algorithm>
#include <iterator>
#include <string>

#include "talvo/core/panic.hpp"

namespace talvo {

namespace detail {

void throw_column_out_of_range(std::size_t column, std::size_t count) {
  throw Panic("column index " + std::to_string(column) + " out of range for " +
              std::to_string(count) + " columns");
}

}  // namespace detail

namespace {

using detail::throw_column_out_of_range;

void check_column(std::size_t column, std::size_t count) {
  if (column >= count) throw_column_out_of_range(column, count);
}

void check_minterm(std::size_t minterm, std::size_t count) {
  if (minterm >= count) {
    throw Panic("minterm index " + std::to_string(minterm) + " out of range for " +
                std::to_string(count) + " minterms");
  }
}

}  // namespace

std::string column_name(const Column& column) {
  return (column.kind == ColumnKind::Leaf ? "L" : "M") + std::to_string(column.id);
}

// Out of line: defined in the header, it would make every program that includes the header
// instantiate the constructors and destructors of all the members' containers.
AlgebraicCircuit::AlgebraicCircuit(std::size_t value_size) : value_size(value_size) {}

std::size_t AlgebraicCircuit::ensure_leaf(std::uint32_t leaf) {
  const auto [entry, added] = leaf_columns.try_emplace(leaf, columns.size());
  if (added) columns.push_back({ColumnKind::Leaf, leaf});
  return entry->second;
}

std::size_t AlgebraicCircuit::create_memory(std::uint32_t edge) {
  const auto [entry, added] = memory_columns.try_emplace(edge, columns.size());
  if (added) columns.push_back({ColumnKind::Memory, edge});
  return entry->second;
}

std::size_t AlgebraicCircuit::push_minterm(Minterm minterm) {
  std::ranges::sort(minterm);
  minterm.erase(std::ranges::unique(minterm).begin(), minterm.end());
  if (!minterm.empty()) check_column(minterm.back(), columns.size());
  minterms.push_back(std::move(minterm));
  return minterms.size() - 1;
}

void AlgebraicCircuit::add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product) {
  for (const auto& product : sum_product) {
    Minterm minterm;
    minterm.reserve(product.size());
    for (const std::uint32_t leaf : product) minterm.push_back(ensure_leaf(leaf));
    push_minterm(std::move(minterm));
  }
}

std::vector<std::size_t> AlgebraicCircuit::minterms_containing_col(std::size_t column) const {
  std::vector<std::size_t> found;
  for (std::size_t m = 0; m < minterms.size(); ++m) {
    if (std::ranges::binary_search(minterms[m], column)) found.push_back(m);
  }
  return found;
}

void AlgebraicCircuit::insert_col(std::size_t minterm, std::size_t column) {
  check_minterm(minterm, minterms.size());
  check_column(column, columns.size());
  Minterm& target = minterms[minterm];
  const auto place = std::ranges::lower_bound(target, column);
  if (place == target.end() || *place != column) target.insert(place, column);
}

void AlgebraicCircuit::remove_col_inner(std::size_t column) {
  check_column(column, columns.size());
  const Column removed = columns[column];
  (removed.kind == ColumnKind::Leaf ? leaf_columns : memory_columns).erase(removed.id);
  columns.erase(columns.begin() + static_cast<std::ptrdiff_t>(column));
  for (Minterm& minterm : minterms) {
    // Minterms are ascending, so the column stands at most once, and everything after it moves
    // down one place.
    const auto place = std::ranges::lower_bound(minterm, column);
    auto later = place;
    if (later != minterm.end() && *later == column) later = minterm.erase(later);
    for (; later != minterm.end(); ++later) --*later;
  }
  for (auto* map : {&leaf_columns, &memory_columns}) {
    for (auto& [id, index] : *map) {
      if (index > column) --index;
    }
  }
}

void AlgebraicCircuit::remove_col(std::size_t column) {
  check_column(column, columns.size());
  std::vector<bool> emptied(minterms.size());
  for (std::size_t m = 0; m < minterms.size(); ++m) {
    emptied[m] = minterms[m].size() == 1 && minterms[m].front() == column;
  }
  remove_col_inner(column);
  std::size_t m = 0;
  std::erase_if(minterms, [&](const Minterm&) { return emptied[m++]; });
}

void AlgebraicCircuit::remap_memory(std::size_t column, std::uint32_t old_edge,
                                    std::uint32_t new_edge) {
  check_column(column, columns.size());
  columns[column] = {ColumnKind::Memory, new_edge};
  memory_columns.erase(old_edge);
  memory_columns[new_edge] = column;
}

std::optional<AlgebraicCircuit> AlgebraicCircuit::sub_circuit(
    const std::vector<const Minterm*>& selected) const {
  if (selected.empty()) return std::nullopt;

  constexpr std::size_t unused = static_cast<std::size_t>(-1);
  std::vector<std::size_t> renumbered(columns.size(), unused);
  for (const Minterm* minterm : selected) {
    for (const std::size_t c : *minterm) {
      check_column(c, columns.size());
      renumbered[c] = 0;
    }
  }

  AlgebraicCircuit part(value_size);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (renumbered[c] == unused) continue;
    const Column column = columns[c];
    renumbered[c] = part.columns.size();
    (column.kind == ColumnKind::Leaf ? part.leaf_columns : part.memory_columns)[column.id] =
        part.columns.size();
    part.columns.push_back(column);
  }

  part.minterms.reserve(selected.size());
  for (const Minterm* minterm : selected) {
    Minterm& copy = part.minterms.emplace_back();
    copy.reserve(minterm->size());
    std::ranges::transform(*minterm, std::back_inserter(copy),
                           [&](std::size_t c) { return renumbered[c]; });
  }
  return part;
}

std::pair<std::optional<AlgebraicCircuit>, std::optional<AlgebraicCircuit>> AlgebraicCircuit::split(
    std::uint32_t leaf) const {
  const auto entry = leaf_columns.find(leaf);
  if (entry == leaf_columns.end()) return {std::nullopt, std::nullopt};
  const std::size_t column = entry->second;

  std::vector<const Minterm*> with_leaf;
  std::vector<const Minterm*> without_leaf;
  for (const Minterm& minterm : minterms) {
    (std::ranges::binary_search(minterm, column) ? with_leaf : without_leaf).push_back(&minterm);
  }
  return {sub_circuit(with_leaf), sub_circuit(without_leaf)};
}

std::string AlgebraicCircuit::to_dot_text() const {
  std::string text = "digraph AlgebraicCircuit {\n  node [shape=record];\n  matrix [label=\"{";
  for (std::size_t m = 0; m < minterms.size(); ++m) {
    if (m > 0) text += " | ";
    for (std::size_t i = 0; i < minterms[m].size(); ++i) {
      const std::size_t c = minterms[m][i];
      check_column(c, columns.size());
      if (i > 0) text += "\u00B7";
      text += column_name(columns[c]);
    }
  }
  text += "}\" shape=record];\n}\n";
  return text;
}

}  // namespace talvo
