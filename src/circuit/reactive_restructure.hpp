#pragma once
// Moving a leaf between the levels of a reactive circuit, and adaptation, which moves every leaf
// by how often it changes. Dropping pushes a leaf into the children of the nodes that use it;
// lifting pulls it out of those nodes into their parents. Both keep every node's value: the
// product distributes over the sum. Nothing is evaluated here: the touched nodes are marked and
// the next update recomputes them.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "talvo/circuit/reactive.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/panic.hpp"
#include "tracking/clustering.hpp"

namespace talvo {

namespace detail {

/// How many minterms of `circuit` hold each of its columns.
inline std::vector<std::size_t> readers_per_column(const AlgebraicCircuit& circuit) {
  std::vector<std::size_t> readers(circuit.columns.size(), 0);
  for (const Minterm& minterm : circuit.minterms) {
    for (const std::size_t column : minterm) ++readers[column];
  }
  return readers;
}

/// The edge of the first memory column of `minterm` whose child that minterm alone reads: the
/// child has no other parent and no other minterm of `node` holds the column (`readers`, per
/// column). Multiplying a leaf into such a child changes nothing but that minterm; a shared child
/// (a closed cause read by many products, or a part that lifting gave several readers) would
/// carry the leaf into them all.
inline std::optional<EdgeIndex> own_child(const StableGraph<AlgebraicCircuit, Value>& structure,
                                          NodeIndex node, const Minterm& minterm,
                                          const std::vector<std::size_t>& readers) {
  const AlgebraicCircuit& circuit = structure.node(node);
  for (const std::size_t column : minterm) {
    const Column& entry = circuit.columns.at(column);
    if (entry.kind == ColumnKind::Memory && readers[column] == 1 &&
        structure.incoming(structure.target(entry.id)).size() == 1) {
      return entry.id;
    }
  }
  return std::nullopt;
}

/// Adds a part of `node`'s circuit, without `leaf`, as a new node reading `node`'s children.
inline NodeIndex add_part_as_node(StableGraph<AlgebraicCircuit, Value>& structure,
                                  AlgebraicCircuit part, std::uint32_t leaf, NodeIndex node) {
  if (const auto found = part.leaf_columns.find(leaf); found != part.leaf_columns.end()) {
    part.remove_col(found->second);
  }
  const std::vector<std::pair<std::uint32_t, std::size_t>> memories(part.memory_columns.begin(),
                                                                    part.memory_columns.end());
  const NodeIndex added = structure.add_node(std::move(part));
  for (const auto& [edge, column] : memories) {
    // The part reads the same children as the node it was taken from; the new edge shares the
    // memory until either edge is written.
    if (!structure.contains_edge(edge) || structure.source(edge) != node) {
      throw Panic("memory edge " + std::to_string(edge) + " of node " + std::to_string(node) +
                  " is missing");
    }
    const EdgeIndex copy =
        structure.add_edge(added, structure.target(edge), Value(structure.edge(edge)));
    structure.node(added).remap_memory(column, edge, copy);
  }
  return added;
}

}  // namespace detail

template <Semiring S>
void ReactiveCircuit<S>::connect_minterms(NodeIndex from, NodeIndex to,
                                          const std::vector<std::size_t>& minterms) {
  connect(from, to, minterms.front());
  const EdgeIndex edge = structure_.outgoing(from).back();
  AlgebraicCircuit& circuit = structure_.node(from);
  const std::size_t column = circuit.memory_columns.at(edge);
  for (std::size_t i = 1; i < minterms.size(); ++i) circuit.insert_col(minterms[i], column);
}

template <Semiring S>
void ReactiveCircuit<S>::lift_into_parent(NodeIndex parent, NodeIndex node, std::uint32_t leaf,
                                          std::size_t alone, std::optional<NodeIndex> with_leaf,
                                          std::optional<NodeIndex> without_leaf) {
  const auto outgoing = structure_.outgoing(parent);
  const auto edge =
      std::ranges::find_if(outgoing, [&](EdgeIndex e) { return structure_.target(e) == node; });
  if (edge == outgoing.end()) {
    throw Panic("node " + std::to_string(parent) + " has no edge to its child " +
                std::to_string(node));
  }
  const EdgeIndex removed = *edge;

  AlgebraicCircuit& circuit = structure_.node(parent);
  const auto found = circuit.memory_columns.find(removed);
  if (found == circuit.memory_columns.end()) {
    throw Panic("node " + std::to_string(parent) + " has no memory column for edge " +
                std::to_string(removed));
  }
  // Every minterm that reads the node is rewritten, so none loses the node's factor.
  const std::vector<std::size_t> readers = circuit.minterms_containing_col(found->second);
  if (readers.empty()) {
    throw Panic("no minterm of node " + std::to_string(parent) + " reads edge " +
                std::to_string(removed));
  }
  circuit.remove_col_inner(found->second);
  structure_.remove_edge(removed);

  // Each reading minterm base·N becomes alone·(base·ℓ) + base·ℓ·W + base·W′.
  std::vector<Minterm> bases;
  for (const std::size_t m : readers) bases.push_back(circuit.minterms[m]);
  const std::size_t leaf_column = circuit.ensure_leaf(leaf);
  std::vector<std::size_t> reading_with_leaf;
  for (Minterm& base : bases) {
    base.push_back(leaf_column);
    for (std::size_t copy = 0; copy < alone; ++copy) circuit.push_minterm(base);
    if (with_leaf) reading_with_leaf.push_back(circuit.push_minterm(base));
  }

  if (with_leaf) {
    connect_minterms(parent, *with_leaf, reading_with_leaf);
    invalidated_.insert(*with_leaf);
  }
  if (without_leaf) {
    connect_minterms(parent, *without_leaf, readers);
    invalidated_.insert(*without_leaf);
  } else {
    AlgebraicCircuit& rewritten = structure_.node(parent);
    for (auto m = readers.rbegin(); m != readers.rend(); ++m) {
      rewritten.minterms.erase(rewritten.minterms.begin() + static_cast<std::ptrdiff_t>(*m));
    }
  }
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::drop_leaf(std::uint32_t leaf) {
  if (leaf >= leafs_.size()) return detail::leaf_index_refused(leaf, leafs_.size());
  forget_layering();

  // The dependents are copied first: nodes made below are not visited.
  const std::set<NodeIndex> visit = leafs_[leaf].dependents;
  for (const NodeIndex node : visit) {
    if (!structure_.contains_node(node)) {
      throw Panic("dependent node " + std::to_string(node) + " is not in the graph");
    }
    const auto found = structure_.node(node).leaf_columns.find(leaf);
    if (found == structure_.node(node).leaf_columns.end()) continue;
    const std::size_t column = found->second;

    // Counted once: the children made below are read by one minterm each and change no count.
    const std::vector<std::size_t> readers = detail::readers_per_column(structure_.node(node));
    for (const std::size_t minterm : structure_.node(node).minterms_containing_col(column)) {
      const AlgebraicCircuit& circuit = structure_.node(node);
      if (const auto edge =
              detail::own_child(structure_, node, circuit.minterms[minterm], readers)) {
        // The child the minterm alone reads takes the leaf into every one of its products.
        AlgebraicCircuit& child = structure_.node(structure_.target(*edge));
        const std::size_t leaf_column = child.ensure_leaf(leaf);
        for (std::size_t m = 0; m < child.minterms.size(); ++m) child.insert_col(m, leaf_column);
      } else {
        // A minterm without a child of its own gets a new child holding just the leaf.
        AlgebraicCircuit only_leaf(value_size_);
        only_leaf.add_sum_product({{leaf}});
        const NodeIndex child = structure_.add_node(std::move(only_leaf));
        connect(node, child, minterm);
      }
    }
    structure_.node(node).remove_col(column);
    for (const EdgeIndex edge : structure_.outgoing(node)) {
      invalidated_.insert(structure_.target(edge));
    }
  }
  update_dependencies();
  return {};
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::lift_leaf(std::uint32_t leaf) {
  if (leaf >= leafs_.size()) return detail::leaf_index_refused(leaf, leafs_.size());
  forget_layering();

  const std::set<NodeIndex> visit = leafs_[leaf].dependents;
  for (const NodeIndex node : visit) {
    if (!structure_.contains_node(node)) {
      throw Panic("dependent node " + std::to_string(node) + " is not in the graph");
    }
    if (!structure_.node(node).leaf_columns.contains(leaf)) continue;

    auto [in_scope, rest] = structure_.node(node).split(leaf);
    // Checked before this node is touched: a leaf column that no minterm uses cannot be lifted.
    if (!in_scope) throw Panic("in_scope must exist");

    std::vector<NodeIndex> parents;
    for (const EdgeIndex edge : structure_.incoming(node))
      parents.push_back(structure_.source(edge));
    std::vector<std::string> tokens;
    for (const auto& [token, target] : targets_) {
      if (target == node) tokens.push_back(token);
    }
    if (parents.empty() || !tokens.empty()) {
      // A root, or a target, first gets a parent that passes its value on and takes over its
      // target tokens, so that no token is left naming the node that goes.
      const NodeIndex parent = structure_.add_node(AlgebraicCircuit(value_size_));
      structure_.node(parent).push_minterm({});
      connect(parent, node, 0);
      invalidated_.insert(parent);
      for (const std::string& token : tokens) targets_[token] = parent;
      parents.push_back(parent);
    }

    std::optional<NodeIndex> without_leaf;
    if (rest) without_leaf = detail::add_part_as_node(structure_, std::move(*rest), leaf, node);

    const Minterm leaf_alone{in_scope->leaf_columns.at(leaf)};
    const auto alone = static_cast<std::size_t>(std::ranges::count(in_scope->minterms, leaf_alone));

    std::optional<NodeIndex> with_leaf =
        detail::add_part_as_node(structure_, std::move(*in_scope), leaf, node);
    if (structure_.node(*with_leaf).minterms.empty()) {
      structure_.remove_node(*with_leaf);
      with_leaf.reset();
    }

    for (const NodeIndex parent : parents) {
      lift_into_parent(parent, node, leaf, alone, with_leaf, without_leaf);
    }
    structure_.remove_node(node);
  }
  update_dependencies();
  return {};
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::adapt(double bin_size, std::size_t number_bins) {
  // Bins are widths of change frequency: one that is not a positive number bins nothing apart.
  if (!(bin_size > 0.0) || !std::isfinite(bin_size)) {
    return fail("bin_size must be a finite number of changes per second above 0, got " +
                std::to_string(bin_size));
  }
  // Refused before anything changes: a failed allocation under the lock would poison the circuit.
  if (!detail::allocatable_doubles(number_bins)) {
    return fail("number_bins " + std::to_string(number_bins) +
                " is too large: its bin boundaries cannot be allocated");
  }
  std::vector<double> boundaries;
  boundaries.reserve(number_bins);
  for (std::size_t k = 1; k <= number_bins; ++k) {
    boundaries.push_back(static_cast<double>(k) * bin_size);
  }

  // A leaf whose frequency finds no bin keeps its stored entry, so that every entry stays with
  // its own leaf.
  std::vector<std::size_t> next(leafs_.size(), 0);
  std::vector<double> binned_values;
  std::vector<std::size_t> binned_leaves;
  for (std::size_t i = 0; i < leafs_.size(); ++i) {
    const double frequency = leafs_[i].frequency;
    if (detail::clustering::binning({&frequency, 1}, boundaries).empty()) {
      if (i < partition_.size()) next[i] = partition_[i];
    } else {
      binned_values.push_back(frequency);
      binned_leaves.push_back(i);
    }
  }
  if (!binned_values.empty()) {
    const std::vector<std::size_t> numbers =
        detail::clustering::partitioning(binned_values, boundaries);
    for (std::size_t j = 0; j < binned_leaves.size(); ++j) next[binned_leaves[j]] = numbers.at(j);
  }

  std::string line = "[";
  for (std::size_t i = 0; i < next.size(); ++i) {
    if (i > 0) line += ", ";
    line += std::to_string(next[i]);
  }
  line += "]\n";
  std::cout << line << std::flush;

  // Every index here is a leaf of the circuit, so a refused move is a broken invariant.
  const auto apply = [this](Result<void> (ReactiveCircuit::*step)(std::uint32_t),
                            std::size_t leaf) {
    if (auto moved = (this->*step)(static_cast<std::uint32_t>(leaf)); !moved) {
      throw Panic(moved.error().message());
    }
  };
  // A rise of a leaf's number drops it further, a fall lifts it back, so every leaf stays as
  // many levels below its starting place as its number says. A leaf added since the last
  // adaptation (every leaf, at the first) stands where it was added, at level 0.
  for (std::size_t i = 0; i < next.size(); ++i) {
    const std::size_t stored = i < partition_.size() ? partition_[i] : 0;
    for (std::size_t t = stored; t < next[i]; ++t) apply(&ReactiveCircuit::drop_leaf, i);
    for (std::size_t t = next[i]; t < stored; ++t) apply(&ReactiveCircuit::lift_leaf, i);
  }
  partition_ = std::move(next);
  return {};
}

}  // namespace talvo
