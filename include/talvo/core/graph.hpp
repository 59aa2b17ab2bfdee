#pragma once
// A directed graph with stable u32 node and edge indices: removing a node or an edge leaves every
// other index valid; freed indices are given to later nodes or edges. Each node keeps its outgoing
// and incoming edges in the order they were added.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "talvo/core/panic.hpp"

namespace talvo {

using NodeIndex = std::uint32_t;
using EdgeIndex = std::uint32_t;

template <class N, class E>
class StableGraph {
 public:
  std::size_t node_count() const noexcept { return node_count_; }
  std::size_t edge_count() const noexcept { return edge_count_; }
  /// One past the largest index a node has ever had.
  std::size_t node_bound() const noexcept { return nodes_.size(); }

  bool contains_node(NodeIndex n) const noexcept {
    return n < nodes_.size() && nodes_[n].weight.has_value();
  }
  bool contains_edge(EdgeIndex e) const noexcept {
    return e < edges_.size() && edges_[e].weight.has_value();
  }

  NodeIndex add_node(N weight) {
    NodeIndex n;
    if (!free_nodes_.empty()) {
      n = free_nodes_.back();
      free_nodes_.pop_back();
    } else {
      if (nodes_.size() >= UINT32_MAX) throw Panic("node index beyond the range of u32");
      n = static_cast<NodeIndex>(nodes_.size());
      nodes_.emplace_back();
    }
    nodes_[n].weight.emplace(std::move(weight));
    ++node_count_;
    return n;
  }

  /// Removes the node and every edge at it; returns its weight, or nothing when absent.
  std::optional<N> remove_node(NodeIndex n) {
    if (!contains_node(n)) return std::nullopt;
    while (!nodes_[n].out.empty()) remove_edge(nodes_[n].out.back());
    while (!nodes_[n].in.empty()) remove_edge(nodes_[n].in.back());
    std::optional<N> weight = std::move(nodes_[n].weight);
    nodes_[n].weight.reset();
    free_nodes_.push_back(n);
    --node_count_;
    return weight;
  }

  EdgeIndex add_edge(NodeIndex source, NodeIndex target, E weight) {
    if (!contains_node(source) || !contains_node(target))
      throw Panic("edge endpoint is not a node of the graph");
    EdgeIndex e;
    if (!free_edges_.empty()) {
      e = free_edges_.back();
      free_edges_.pop_back();
    } else {
      if (edges_.size() >= UINT32_MAX) throw Panic("edge index beyond the range of u32");
      e = static_cast<EdgeIndex>(edges_.size());
      edges_.emplace_back();
    }
    edges_[e] = EdgeSlot{std::move(weight), source, target};
    nodes_[source].out.push_back(e);
    nodes_[target].in.push_back(e);
    ++edge_count_;
    return e;
  }

  std::optional<E> remove_edge(EdgeIndex e) {
    if (!contains_edge(e)) return std::nullopt;
    auto& slot = edges_[e];
    erase_one(nodes_[slot.source].out, e);
    erase_one(nodes_[slot.target].in, e);
    std::optional<E> weight = std::move(slot.weight);
    slot.weight.reset();
    free_edges_.push_back(e);
    --edge_count_;
    return weight;
  }

  N& node(NodeIndex n) { return nodes_[checked_node(n)].weight.value(); }
  const N& node(NodeIndex n) const { return *nodes_[checked_node(n)].weight; }
  E& edge(EdgeIndex e) { return *edges_[checked_edge(e)].weight; }
  const E& edge(EdgeIndex e) const { return *edges_[checked_edge(e)].weight; }
  N* find_node(NodeIndex n) { return contains_node(n) ? &*nodes_[n].weight : nullptr; }
  const N* find_node(NodeIndex n) const { return contains_node(n) ? &*nodes_[n].weight : nullptr; }
  E* find_edge(EdgeIndex e) { return contains_edge(e) ? &*edges_[e].weight : nullptr; }
  const E* find_edge(EdgeIndex e) const { return contains_edge(e) ? &*edges_[e].weight : nullptr; }

  NodeIndex source(EdgeIndex e) const { return edges_[checked_edge(e)].source; }
  NodeIndex target(EdgeIndex e) const { return edges_[checked_edge(e)].target; }

  /// Edges leaving / entering a node, oldest first.
  std::span<const EdgeIndex> outgoing(NodeIndex n) const { return nodes_[checked_node(n)].out; }
  std::span<const EdgeIndex> incoming(NodeIndex n) const { return nodes_[checked_node(n)].in; }

  /// Live node indices, ascending.
  std::vector<NodeIndex> node_indices() const {
    std::vector<NodeIndex> result;
    result.reserve(node_count_);
    for (NodeIndex n = 0; n < nodes_.size(); ++n)
      if (nodes_[n].weight) result.push_back(n);
    return result;
  }

  /// Live edge indices, ascending.
  std::vector<EdgeIndex> edge_indices() const {
    std::vector<EdgeIndex> result;
    result.reserve(edge_count_);
    for (EdgeIndex e = 0; e < edges_.size(); ++e)
      if (edges_[e].weight) result.push_back(e);
    return result;
  }

  /// Nodes with every edge's source before its target, or nothing when the graph has a cycle.
  std::optional<std::vector<NodeIndex>> toposort() const {
    std::vector<std::uint32_t> pending(nodes_.size(), 0);
    std::vector<NodeIndex> order;
    order.reserve(node_count_);
    for (NodeIndex n = 0; n < nodes_.size(); ++n) {
      if (!nodes_[n].weight) continue;
      pending[n] = static_cast<std::uint32_t>(nodes_[n].in.size());
      if (pending[n] == 0) order.push_back(n);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
      for (EdgeIndex e : nodes_[order[i]].out) {
        NodeIndex t = edges_[e].target;
        if (--pending[t] == 0) order.push_back(t);
      }
    }
    if (order.size() != node_count_) return std::nullopt;
    return order;
  }

 private:
  struct NodeSlot {
    std::optional<N> weight;
    std::vector<EdgeIndex> out, in;
  };
  struct EdgeSlot {
    std::optional<E> weight;
    NodeIndex source = 0, target = 0;
  };

  static void erase_one(std::vector<EdgeIndex>& list, EdgeIndex e) {
    for (auto it = list.begin(); it != list.end(); ++it) {
      if (*it == e) {
        list.erase(it);
        return;
      }
    }
  }
  std::size_t checked_node(NodeIndex n) const {
    if (!contains_node(n)) throw Panic("node index " + std::to_string(n) + " is not in the graph");
    return n;
  }
  std::size_t checked_edge(EdgeIndex e) const {
    if (!contains_edge(e)) throw Panic("edge index " + std::to_string(e) + " is not in the graph");
    return e;
  }

  std::vector<NodeSlot> nodes_;
  std::vector<EdgeSlot> edges_;
  std::vector<NodeIndex> free_nodes_, free_edges_;
  std::size_t node_count_ = 0, edge_count_ = 0;
};

}  // namespace talvo
