#pragma once
// What building a model changes in its circuit beside the circuit's own operations: the manager
// appends the leaves it makes, and the compiler sets the batch size and lays out gradients while
// the circuit has no node yet.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "talvo/circuit/algebraic.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/graph.hpp"
#include "talvo/core/panic.hpp"
#include "talvo/core/value.hpp"

namespace talvo::detail {

struct CircuitAccess {
  /// Appends a leaf holding `value`, with the next index and no frequency yet; returns its index.
  /// A leaf that cannot be built leaves the list as it was.
  template <Semiring S>
  static std::uint32_t append_leaf(ReactiveCircuit<S>& circuit, std::string name, Value value) {
    const auto index = static_cast<std::uint32_t>(circuit.leafs_.size());
    circuit.leafs_.emplace_back(std::move(value), std::move(name), index, 0.0);
    return index;
  }

  /// Sets the batch size of a circuit without nodes: no result or memory has a length yet.
  template <Semiring S>
  static void set_value_size(ReactiveCircuit<S>& circuit, std::size_t value_size) {
    require_no_node(circuit);
    circuit.value_size_ = value_size;
  }

  /// Gives every leaf the gradient layout: its probability in slot 0 and its own seed at slot
  /// index + 1 of a vector of one slot per leaf plus one, which becomes the batch size. Returns
  /// it. Estimators, frequencies and dependents stay as they are.
  template <Semiring S>
  static std::size_t lay_out_gradients(ReactiveCircuit<S>& circuit) {
    require_no_node(circuit);
    const std::size_t size = circuit.leafs_.size() + 1;
    circuit.value_size_ = size;
    for (std::size_t index = 0; index < circuit.leafs_.size(); ++index) {
      Leaf<S>& leaf = circuit.leafs_[index];
      Value probability(size, 0.0);
      probability.mutable_span()[0] = leaf.value[0];
      leaf.value = S::encode_leaf_vec(probability.span(), index);
    }
    return size;
  }

  /// The leaf `index`, whose value a leaf update stores (the index checked by the caller).
  template <Semiring S>
  static Leaf<S>& leaf(ReactiveCircuit<S>& circuit, std::uint32_t index) {
    return circuit.leafs_[index];
  }

  /// Adds `child` as a new node with an edge from `parent`, and marks it; returns the memory
  /// column of `parent` that reads it, which no minterm holds yet.
  template <Semiring S>
  static std::size_t add_child(ReactiveCircuit<S>& circuit, NodeIndex parent,
                               AlgebraicCircuit child) {
    const NodeIndex node = circuit.structure_.add_node(std::move(child));
    circuit.forget_layering();
    const EdgeIndex edge = circuit.structure_.add_edge(parent, node, S::zero(circuit.value_size_));
    circuit.invalidated_.insert(node);
    return circuit.structure_.node(parent).create_memory(edge);
  }

  /// Appends to `node` the minterm of the leaves `leaves` and the columns `columns`, and marks
  /// the node. The leaves' dependents are left to `update_dependencies`.
  template <Semiring S>
  static void add_minterm(ReactiveCircuit<S>& circuit, NodeIndex node,
                          const std::vector<std::uint32_t>& leaves,
                          const std::vector<std::size_t>& columns) {
    AlgebraicCircuit& content = circuit.structure_.node(node);
    Minterm minterm;
    minterm.reserve(leaves.size() + columns.size());
    for (const std::uint32_t leaf : leaves) minterm.push_back(content.ensure_leaf(leaf));
    minterm.insert(minterm.end(), columns.begin(), columns.end());
    content.push_minterm(std::move(minterm));
    circuit.invalidated_.insert(node);
  }

  // For tests that break the invariants on purpose, to see that the circuit catches it.
  template <Semiring S>
  static StableGraph<AlgebraicCircuit, Value>& structure(ReactiveCircuit<S>& circuit) {
    return circuit.structure_;
  }
  template <Semiring S>
  static std::vector<Leaf<S>>& leafs(ReactiveCircuit<S>& circuit) {
    return circuit.leafs_;
  }
  template <Semiring S>
  static std::unordered_set<NodeIndex>& invalidated(ReactiveCircuit<S>& circuit) {
    return circuit.invalidated_;
  }
  template <Semiring S>
  static std::unordered_map<std::string, NodeIndex>& targets(ReactiveCircuit<S>& circuit) {
    return circuit.targets_;
  }

 private:
  template <Semiring S>
  static void require_no_node(const ReactiveCircuit<S>& circuit) {
    if (circuit.structure_.node_count() != 0) {
      throw Panic("the batch size of a circuit that has nodes cannot change");
    }
  }
};

}  // namespace talvo::detail
