#pragma once
// The incremental update: marked nodes are recomputed layer by layer from the nodes without
// children upward, the nodes of one layer in parallel, and each result is written into the
// memories its parents read.

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "circuit/algebraic_evaluate.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

/// What updates reuse from one call to the next (the circuit's mutex serialises them), so that an
/// update allocates nothing for itself once the buffers have grown.
template <Semiring S>
struct ReactiveCircuit<S>::UpdateBuffers {
  /// The running update's copy of `invalidated`; empty between updates, its buckets kept.
  std::unordered_set<NodeIndex> to_update;
  /// Entries of `to_update` released after an update, for `mark` to fill again.
  std::vector<std::unordered_set<NodeIndex>::node_type> spare_marks;
  std::vector<std::vector<NodeIndex>> marked;  // the marked nodes, by layer
  std::vector<Job> jobs;
  std::vector<Recomputed> recomputed;
  std::vector<double> results;           // the recomputed nodes' values, one after another
  std::vector<std::uint32_t> result_of;  // by node: its index in `recomputed`, if it is there
  EvaluationBuffers<S> caller;           // for a node evaluated on the updating thread
  /// One per slot of the worker pool's arena, by the slot index of the worker that uses it. Plain
  /// storage rather than thread-specific storage, so that its lifetime is that of the circuit.
  std::vector<EvaluationBuffers<S>> workers;
};

template <Semiring S>
void ReactiveCircuit<S>::mark(const std::set<NodeIndex>& nodes) {
  auto& spare = buffers_->spare_marks;
  for (const NodeIndex node : nodes) {
    if (spare.empty()) {
      invalidated_.insert(node);
      continue;
    }
    spare.back().value() = node;
    auto placed = invalidated_.insert(std::move(spare.back()));
    spare.pop_back();
    if (!placed.inserted) spare.push_back(std::move(placed.node));
  }
}

namespace detail {

// Kept out of line so that building a message costs the evaluation loop nothing.
[[noreturn]] void throw_missing_node(NodeIndex node);
[[noreturn]] void throw_leaf_out_of_range(NodeIndex node, std::uint32_t leaf, std::size_t count);
[[noreturn]] void throw_dangling_memory(NodeIndex node, EdgeIndex edge);
[[noreturn]] void throw_memory_length(NodeIndex node, std::size_t result, std::size_t memory);

inline constexpr std::uint32_t kNoLayer = std::numeric_limits<std::uint32_t>::max();

}  // namespace detail

template <Semiring S>
void ReactiveCircuit<S>::collect_jobs(std::span<const NodeIndex> layer,
                                      const std::unordered_set<NodeIndex>& to_update,
                                      std::vector<Job>& jobs) const {
  jobs.clear();
  for (const NodeIndex node : layer) {
    if (!to_update.contains(node)) continue;
    const AlgebraicCircuit* circuit = structure_.find_node(node);
    if (circuit == nullptr) detail::throw_missing_node(node);
    jobs.push_back(Job{node, circuit, {}});
  }
}

template <Semiring S>
void ReactiveCircuit<S>::evaluate_jobs(std::span<const Job> jobs, EvaluationBuffers<S>& own) const {
  // Workers only read the circuit, and each writes only its jobs' results.
  const auto evaluate = [this](const Job& job, EvaluationBuffers<S>& buffers) {
    const NodeIndex node = job.node;
    detail::evaluate_into<S>(
        *job.circuit,
        [&](const Column& column) {
          if (column.kind == ColumnKind::Leaf) {
            if (column.id >= leafs_.size()) {
              detail::throw_leaf_out_of_range(node, column.id, leafs_.size());
            }
            return leafs_[column.id].value.span();
          }
          const Value* memory = structure_.find_edge(column.id);
          if (memory == nullptr || structure_.source(column.id) != node) {
            detail::throw_dangling_memory(node, column.id);
          }
          return memory->span();
        },
        job.result, buffers);
  };
  if (jobs.size() == 1) {
    evaluate(jobs[0], own);
    return;
  }
  std::vector<EvaluationBuffers<S>>& workers = buffers_->workers;
  const auto slots = static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
  if (workers.size() < slots) workers.resize(slots);
  // Isolated: the caller holds the circuit's lock, perhaps from inside a parallel loop of its
  // own, and while it waits here it must take up none of that loop's work, which would wait for
  // the same lock.
  tbb::this_task_arena::isolate([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, jobs.size()),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                        const auto slot =
                            static_cast<std::size_t>(tbb::this_task_arena::current_thread_index());
                        EvaluationBuffers<S>& buffers = workers[slot];
                        for (std::size_t i = range.begin(); i != range.end(); ++i) {
                          evaluate(jobs[i], buffers);
                        }
                      });
  });
}

template <Semiring S>
std::vector<std::pair<NodeIndex, Value>> ReactiveCircuit<S>::evaluate_layer(
    std::span<const NodeIndex> layer, const std::unordered_set<NodeIndex>& to_update) const {
  std::vector<std::pair<NodeIndex, Value>> results;
  if (to_update.empty() || layer.empty()) return results;
  std::vector<Job> jobs;
  collect_jobs(layer, to_update, jobs);
  results.reserve(jobs.size());
  for (Job& job : jobs) {
    results.emplace_back(job.node, Value::build(job.circuit->value_size,
                                                [&](std::span<double> out) { job.result = out; }));
  }
  evaluate_jobs(jobs, buffers_->caller);
  return results;
}

template <Semiring S>
void ReactiveCircuit<S>::release_marks() {
  std::unordered_set<NodeIndex>& to_update = buffers_->to_update;
  while (!to_update.empty()) buffers_->spare_marks.push_back(to_update.extract(to_update.begin()));
}

template <Semiring S>
UpdateResult ReactiveCircuit<S>::update() {
  UpdateResult reported;
  UpdateBuffers& reuse = *buffers_;
  // Left over only by an update that failed half-way.
  release_marks();
  std::unordered_set<NodeIndex>& to_update = reuse.to_update;
  to_update.swap(invalidated_);

  if (!layering_) {
    compute_layers();
  } else if (layering_->places.size() != structure_.node_bound()) {
    index_layers();
  }
  const std::vector<std::vector<NodeIndex>>& all_layers = layering_->layers;
  const std::vector<Place>& places = layering_->places;

  // Only marked nodes are visited: they are grouped by layer, and a marked index that names no
  // node of the graph lies in no layer and is dropped.
  std::vector<std::vector<NodeIndex>>& marked = reuse.marked;
  marked.resize(all_layers.size());
  for (std::vector<NodeIndex>& nodes : marked) nodes.clear();
  for (const NodeIndex node : to_update) {
    if (node < places.size() && places[node].layer != detail::kNoLayer) {
      marked[places[node].layer].push_back(node);
    }
  }

  // Every recomputed node's value stays in `results` until the targets have been reported.
  std::vector<Recomputed>& recomputed = reuse.recomputed;
  std::vector<double>& results = reuse.results;
  recomputed.clear();
  results.clear();
  for (std::size_t depth = 0; depth < all_layers.size(); ++depth) {
    std::vector<NodeIndex>& nodes = marked[depth];
    if (nodes.empty()) continue;
    std::span<const NodeIndex> listed = all_layers[depth];
    // A sparsely marked layer is handed over as just its marked nodes, in layer order; a densely
    // marked one as a whole.
    if (nodes.size() * 4 < listed.size()) {
      std::sort(nodes.begin(), nodes.end(), [&places](NodeIndex a, NodeIndex b) {
        return places[a].position < places[b].position;
      });
      listed = nodes;
    }
    collect_jobs(listed, to_update, reuse.jobs);
    const std::size_t first = recomputed.size();
    for (const Job& job : reuse.jobs) {
      recomputed.push_back(Recomputed{job.node, results.size(), job.circuit->value_size});
      results.resize(results.size() + job.circuit->value_size);
    }
    for (std::size_t i = 0; i < reuse.jobs.size(); ++i) {
      const Recomputed& place = recomputed[first + i];
      reuse.jobs[i].result = std::span<double>(results).subspan(place.offset, place.size);
    }
    evaluate_jobs(reuse.jobs, reuse.caller);
    for (std::size_t i = first; i < recomputed.size(); ++i) {
      write_memories(recomputed[i].node, reuse.jobs[i - first].result);
    }
  }

  if (!recomputed.empty() && !targets_.empty()) {
    // An entry counts only when it points back at its node, so entries of earlier updates need
    // no clearing.
    std::vector<std::uint32_t>& result_of = reuse.result_of;
    if (result_of.size() < structure_.node_bound()) {
      result_of.resize(structure_.node_bound(), std::numeric_limits<std::uint32_t>::max());
    }
    for (std::size_t i = 0; i < recomputed.size(); ++i) {
      result_of[recomputed[i].node] = static_cast<std::uint32_t>(i);
    }
    for (const auto& [token, node] : targets_) {
      if (node >= result_of.size() || result_of[node] >= recomputed.size()) continue;
      const Recomputed& place = recomputed[result_of[node]];
      if (place.node != node) continue;
      reported.emplace(
          token, S::decode_vec(std::span<const double>(results).subspan(place.offset, place.size)));
    }
  }
  release_marks();
  return reported;
}

template <Semiring S>
void ReactiveCircuit<S>::compute_layers() {
  const auto order = structure_.toposort();
  if (!order) throw Panic("ReactiveCircuit should be a DAG");

  std::vector<std::uint32_t> depth(std::max<std::size_t>(structure_.node_bound(), 1), 0);
  std::uint32_t deepest = 0;
  for (auto it = order->rbegin(); it != order->rend(); ++it) {
    std::uint32_t d = 0;
    for (const EdgeIndex edge : structure_.outgoing(*it)) {
      d = std::max(d, depth[structure_.target(edge)] + 1);
    }
    depth[*it] = d;
    deepest = std::max(deepest, d);
  }

  std::vector<std::vector<NodeIndex>> computed(deepest + 1);
  for (const NodeIndex node : structure_.node_indices()) computed[depth[node]].push_back(node);
  layering_ = Layering{std::move(computed), {}};
  index_layers();
}

template <Semiring S>
void ReactiveCircuit<S>::index_layers() {
  std::vector<Place>& places = layering_->places;
  places.assign(structure_.node_bound(), Place{detail::kNoLayer, 0});
  const auto& all_layers = layering_->layers;
  for (std::size_t d = 0; d < all_layers.size(); ++d) {
    for (std::size_t p = 0; p < all_layers[d].size(); ++p) {
      const NodeIndex node = all_layers[d][p];
      if (node < places.size()) {
        places[node] = Place{static_cast<std::uint32_t>(d), static_cast<std::uint32_t>(p)};
      }
    }
  }
}

template <Semiring S>
void ReactiveCircuit<S>::write_memories(NodeIndex node, std::span<const double> result) {
  for (const EdgeIndex edge : structure_.incoming(node)) {
    Value* memory = structure_.find_edge(edge);
    if (memory == nullptr) throw Panic("ReactiveCircuit edge was missing!");
    if (memory->size() != result.size() && result.size() != 1) {
      detail::throw_memory_length(node, result.size(), memory->size());
    }
    // Private storage first: whoever still holds the old vector never sees it change.
    const std::span<double> entries = memory->mutable_span();
    if (result.size() == entries.size()) {
      std::copy(result.begin(), result.end(), entries.begin());
    } else {
      std::fill(entries.begin(), entries.end(), result[0]);
    }
  }
}

template <Semiring S>
UpdateResult ReactiveCircuit<S>::full_update() {
  invalidate();
  return update();
}

template <Semiring S>
GradientResult ReactiveCircuit<S>::unpack_gradients(const UpdateResult& results) const {
  GradientResult unpacked;
  for (const auto& [token, vector] : results) {
    if (vector.size() != leafs_.size() + 1) continue;
    Gradients entry{vector[0], {}};
    entry.gradients.reserve(leafs_.size());
    // A later leaf of the same name replaces an earlier one.
    for (std::size_t i = 0; i < leafs_.size(); ++i) {
      entry.gradients.insert_or_assign(leafs_[i].name, vector[i + 1]);
    }
    unpacked.emplace(token, std::move(entry));
  }
  return unpacked;
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::check_gradient_layout() const {
  const std::size_t entries = leafs_.size() + 1;
  for (const auto& [token, node] : targets_) {
    const AlgebraicCircuit* circuit = structure_.find_node(node);
    if (circuit == nullptr || circuit->value_size == entries) continue;
    return fail("target '" + token + "' has results of " + std::to_string(circuit->value_size) +
                " entries, but gradients by " + std::to_string(leafs_.size()) + " leaves need " +
                std::to_string(entries));
  }
  return {};
}

template <Semiring S>
Result<GradientResult> ReactiveCircuit<S>::gradient_update() requires
    std::same_as<S, ProbGradient> {
  if (Result<void> layout = check_gradient_layout(); !layout)
    return std::unexpected(layout.error());
  return unpack_gradients(update());
}

template <Semiring S>
Result<GradientResult> ReactiveCircuit<S>::full_gradient_update() requires
    std::same_as<S, ProbGradient> {
  if (Result<void> layout = check_gradient_layout(); !layout)
    return std::unexpected(layout.error());
  invalidate();
  return unpack_gradients(update());
}

}  // namespace talvo
