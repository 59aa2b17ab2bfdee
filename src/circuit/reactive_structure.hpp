#pragma once
// Building and marking the reactive circuit: leaves, sums of products under target tokens, edges
// with their memories, and the leaves' dependents.

#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "talvo/circuit/reactive.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

template <Semiring S>
ReactiveCircuit<S>::ReactiveCircuit(std::size_t value_size, double update_threshold)
    : update_threshold(update_threshold), value_size_(value_size) {
  if (value_size == 0) throw Panic("value_size needs to be positive integer greater than 0!");
  if (Result<void> allocatable = detail::allocatable_value_size(value_size); !allocatable) {
    throw Panic(allocatable.error().message());
  }
}

template <Semiring S>
Result<std::uint32_t> ReactiveCircuit<S>::add_leaf(Value value, std::string name,
                                                   double initial_timestamp) {
  if (!S::accepts_leaf(value.size(), value_size_)) {
    return detail::leaf_length_refused(value.size(), value_size_);
  }
  // Leaf indices are u32, and one more than the leaf count must still be one.
  if (leafs_.size() + 1 >= std::numeric_limits<std::uint32_t>::max()) {
    return fail("the circuit holds as many leaves as leaf indices allow");
  }
  const auto index = static_cast<std::uint32_t>(leafs_.size());
  leafs_.emplace_back(S::prepare_leaf_input(std::move(value), value_size_), std::move(name), index,
                      initial_timestamp);
  return index;
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::add_sum_product(
    const std::vector<std::vector<std::uint32_t>>& sum_product, const std::string& target_token) {
  for (const auto& product : sum_product) {
    for (const std::uint32_t leaf : product) {
      if (leaf >= leafs_.size()) return detail::leaf_index_refused(leaf, leafs_.size());
    }
  }

  forget_layering();
  auto known = targets_.find(target_token);
  if (known == targets_.end()) {
    const NodeIndex made = structure_.add_node(AlgebraicCircuit(value_size_));
    known = targets_.emplace(target_token, made).first;
  }
  const NodeIndex node = known->second;
  structure_.node(node).add_sum_product(sum_product);
  for (const auto& product : sum_product) {
    for (const std::uint32_t leaf : product) leafs_[leaf].dependents.insert(node);
  }
  invalidated_.insert(node);
  return {};
}

template <Semiring S>
void ReactiveCircuit<S>::connect(NodeIndex from, NodeIndex to, std::size_t minterm) {
  const AlgebraicCircuit* parent = structure_.find_node(from);
  if (parent == nullptr || !structure_.contains_node(to)) {
    throw Panic("cannot connect node " + std::to_string(from) + " to node " + std::to_string(to) +
                ": both must be nodes of the circuit");
  }
  if (minterm >= parent->minterms.size()) {
    throw Panic("cannot connect node " + std::to_string(from) + " through minterm " +
                std::to_string(minterm) + ": it has " + std::to_string(parent->minterms.size()) +
                " minterms");
  }

  forget_layering();
  const EdgeIndex edge = structure_.add_edge(from, to, S::zero(value_size_));
  AlgebraicCircuit& circuit = structure_.node(from);
  circuit.insert_col(minterm, circuit.create_memory(edge));
}

template <Semiring S>
void ReactiveCircuit<S>::invalidate() {
  const auto order = structure_.toposort();
  if (!order) throw Panic("ReactiveCircuit should be a DAG");
  invalidated_.insert(order->begin(), order->end());
}

template <Semiring S>
void ReactiveCircuit<S>::update_dependencies() {
  // Each node's ancestors are walked once and credited to every leaf it has a column for; this
  // gives every leaf the union of the upward walks from the nodes that use it.
  std::vector<std::set<NodeIndex>> dependents(leafs_.size());
  std::vector<char> visited(structure_.node_bound(), 0);
  std::vector<NodeIndex> reached;
  for (const NodeIndex node : structure_.node_indices()) {
    const AlgebraicCircuit& circuit = structure_.node(node);
    bool uses_a_leaf = false;
    for (const auto& [leaf, column] : circuit.leaf_columns) uses_a_leaf |= leaf < leafs_.size();
    if (!uses_a_leaf) continue;

    reached.assign(1, node);
    visited[node] = 1;
    for (std::size_t next = 0; next < reached.size(); ++next) {
      for (const EdgeIndex edge : structure_.incoming(reached[next])) {
        const NodeIndex parent = structure_.source(edge);
        if (!visited[parent]) {
          visited[parent] = 1;
          reached.push_back(parent);
        }
      }
    }
    for (const auto& [leaf, column] : circuit.leaf_columns) {
      if (leaf < leafs_.size()) dependents[leaf].insert(reached.begin(), reached.end());
    }
    for (const NodeIndex seen : reached) visited[seen] = 0;
  }
  for (std::size_t leaf = 0; leaf < leafs_.size(); ++leaf) {
    leafs_[leaf].dependents = std::move(dependents[leaf]);
  }
}

}  // namespace talvo
