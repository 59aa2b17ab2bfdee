#pragma once
// The reactive circuit: a DAG whose nodes are sums of products over leaves and over the latest
// results of child nodes. An edge runs parent -> child and stores the child's latest result as the
// parent reads it (its memory). Only marked nodes are recomputed by an update.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "talvo/circuit/algebraic.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/scratch.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/graph.hpp"
#include "talvo/core/mutex.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

/// Target token -> decoded result of its node.
using UpdateResult = std::unordered_map<std::string, Value>;

/// A probability with its derivative per leaf name.
struct Gradients {
  double probability = 0.0;
  std::unordered_map<std::string, double> gradients;
};
using GradientResult = std::unordered_map<std::string, Gradients>;

namespace detail {

/// Whether one block of `count` doubles can be allocated: its size in bytes is representable and
/// within the machine's memory and swap together.
bool allocatable_doubles(std::size_t count);

/// Refuses, naming it, a `value_size` whose value vectors cannot be allocated.
[[nodiscard]] Result<void> allocatable_value_size(std::size_t value_size);

}  // namespace detail

namespace detail {
/// What building a model changes in its circuit beside the circuit's own operations; defined in
/// the library, for the compiler and the manager.
struct CircuitAccess;
}  // namespace detail

template <Semiring S>
class ReactiveCircuit {
 public:
  double update_threshold = 0.001;

  /// An empty circuit; a `value_size` of 0 or one `allocatable_value_size` refuses aborts.
  explicit ReactiveCircuit(std::size_t value_size, double update_threshold = 0.001);

  // The state below changes only through the operations, which keep it consistent: the graph
  // acyclic, every memory column on an edge of its node, the leaves' dependents and the layering
  // in step with the graph.

  /// The graph of node circuits; an edge runs parent -> child and carries the child's latest
  /// result as the parent reads it (its memory).
  const StableGraph<AlgebraicCircuit, Value>& structure() const noexcept { return structure_; }
  /// The inputs; a leaf's position is its index.
  const std::vector<Leaf<S>>& leafs() const noexcept { return leafs_; }
  /// The nodes the next update recomputes.
  const std::unordered_set<NodeIndex>& invalidated() const noexcept { return invalidated_; }
  /// Target token -> the node whose result is reported under it.
  const std::unordered_map<std::string, NodeIndex>& targets() const noexcept { return targets_; }
  /// Each leaf's level as of the last adaptation; empty before the first.
  const std::vector<std::size_t>& partition() const noexcept { return partition_; }
  /// The number of entries of every node result and edge memory.
  std::size_t value_size() const noexcept { return value_size_; }

  // Structure, targets and dependencies.

  /// Adds a leaf by hand; its index is the current leaf count. Refuses a value the circuit could
  /// not evaluate; a short ProbGradient input is padded as a leaf update pads it.
  [[nodiscard]] Result<std::uint32_t> add_leaf(Value value, std::string name,
                                               double initial_timestamp);
  /// Adds the sum of products to the node of `target_token` (made when the token is new) and
  /// marks it. Refuses leaf indices outside the leaves before anything changes.
  [[nodiscard]] Result<void> add_sum_product(
      const std::vector<std::vector<std::uint32_t>>& sum_product, const std::string& target_token);
  /// Adds the edge `from` -> `to` with a memory of zero and puts its memory column into minterm
  /// `minterm` of `from`. Endpoints outside the graph or a minterm outside `from`'s abort before
  /// anything changes.
  void connect(NodeIndex from, NodeIndex to, std::size_t minterm);
  /// Marks every node; a cycle aborts.
  void invalidate();
  /// Marks the nodes (adds them to `invalidated`), reusing the entries that earlier updates
  /// released, so that marking allocates nothing in the steady state.
  void mark(const std::set<NodeIndex>& nodes);
  /// Rebuilds every leaf's `dependents`: the nodes that have a column for it and all their
  /// ancestors.
  void update_dependencies();

  // Incremental update and gradients.

  /// Evaluates the listed nodes that are in `to_update`, in parallel; the pairs come back in the
  /// order of `layer`. A broken invariant of the structure throws `Panic`.
  std::vector<std::pair<NodeIndex, Value>> evaluate_layer(
      std::span<const NodeIndex> layer, const std::unordered_set<NodeIndex>& to_update) const;
  /// Recomputes the marked nodes, children first, and reports the decoded results of the targets
  /// whose nodes were recomputed.
  UpdateResult update();
  /// Marks every node, then updates: every target is reported.
  UpdateResult full_update();
  /// Probability and gradient per leaf name of each result that has one entry per leaf plus one;
  /// results of another length are left out.
  GradientResult unpack_gradients(const UpdateResult& results) const;
  /// `update` (or `full_update`), unpacked. A target whose results do not hold one entry per leaf
  /// plus one (a leaf was added after the layout was made) is refused before anything changes.
  [[nodiscard]] Result<GradientResult> gradient_update() requires std::same_as<S, ProbGradient>;
  [[nodiscard]] Result<GradientResult> full_gradient_update() requires
      std::same_as<S, ProbGradient>;
  /// Nodes by depth (0: no children), each layer in ascending node order, as the last update laid
  /// them out; none before the first update and after any operation that changes the graph's
  /// shape, until the next update lays them out again.
  const std::vector<std::vector<NodeIndex>>* layers() const noexcept {
    return layering_ ? &layering_->layers : nullptr;
  }

  // Restructuring and adaptation.

  [[nodiscard]] Result<void> drop_leaf(std::uint32_t leaf);
  [[nodiscard]] Result<void> lift_leaf(std::uint32_t leaf);
  /// Moves every leaf to the level its change frequency gives it, binned in steps of `bin_size`
  /// changes per second. A `bin_size` that is not a finite number above 0, or a `number_bins`
  /// whose boundaries cannot be allocated, is refused before anything changes.
  [[nodiscard]] Result<void> adapt(double bin_size, std::size_t number_bins);

  // DOT text.

  std::string to_dot_text() const;
  [[nodiscard]] Result<void> to_dot(const std::string& path) const;

 private:
  friend struct detail::CircuitAccess;

  StableGraph<AlgebraicCircuit, Value> structure_;
  std::vector<Leaf<S>> leafs_;
  std::unordered_set<NodeIndex> invalidated_;
  std::unordered_map<std::string, NodeIndex> targets_;
  std::vector<std::size_t> partition_;
  std::size_t value_size_;

  /// Where a node stands among the layers.
  struct Place {
    std::uint32_t layer;
    std::uint32_t position;
  };
  /// What the update derives from the graph's shape: the nodes by depth and, indexed by node,
  /// where each of them stands, so that an update visits only marked nodes.
  struct Layering {
    std::vector<std::vector<NodeIndex>> layers;
    std::vector<Place> places;
  };
  /// None until an update lays the nodes out, and again after `forget_layering`.
  std::optional<Layering> layering_;
  /// Every operation that changes the graph's shape calls this; the next update lays the nodes
  /// out again.
  void forget_layering() noexcept { layering_.reset(); }

  /// One new edge `from` -> `to` whose memory column stands in each of the given minterms.
  void connect_minterms(NodeIndex from, NodeIndex to, const std::vector<std::size_t>& minterms);
  /// Rewrites every minterm of `parent` that reads `node`, as base·node, into
  /// alone·(base·leaf) + base·leaf·with_leaf + base·without_leaf, and drops the edge to `node`.
  void lift_into_parent(NodeIndex parent, NodeIndex node, std::uint32_t leaf, std::size_t alone,
                        std::optional<NodeIndex> with_leaf, std::optional<NodeIndex> without_leaf);

  /// Refuses a target whose results have no gradient layout.
  [[nodiscard]] Result<void> check_gradient_layout() const;

  /// One node to evaluate and where its value goes.
  struct Job {
    NodeIndex node;
    const AlgebraicCircuit* circuit;
    std::span<double> result;
  };
  /// A node the running update recomputed, with its value's place in `UpdateBuffers::results`.
  struct Recomputed {
    NodeIndex node;
    std::size_t offset;
    std::size_t size;
  };
  /// What updates reuse from one call to the next; defined with the update.
  struct UpdateBuffers;
  mutable detail::Scratch<UpdateBuffers> buffers_;

  /// Lays the nodes out by depth; a cycle aborts.
  void compute_layers();
  /// Derives every node's place from the layers.
  void index_layers();
  /// The listed nodes that are in `to_update`, in list order, as jobs without a result yet.
  void collect_jobs(std::span<const NodeIndex> layer,
                    const std::unordered_set<NodeIndex>& to_update, std::vector<Job>& jobs) const;
  /// Evaluates every job into its result: in parallel when there are several, with `own`
  /// otherwise.
  void evaluate_jobs(std::span<const Job> jobs, EvaluationBuffers<S>& own) const;
  /// Moves the entries of the update's `to_update` to the spare marks.
  void release_marks();
  void write_memories(NodeIndex node, std::span<const double> result);
};

/// The handle every holder of a circuit shares; lock it for one whole operation.
template <Semiring S>
using SharedCircuit = std::shared_ptr<PoisonMutex<ReactiveCircuit<S>>>;

template <Semiring S>
SharedCircuit<S> make_shared_circuit(std::size_t value_size, double update_threshold = 0.001) {
  return std::make_shared<PoisonMutex<ReactiveCircuit<S>>>(value_size, update_threshold);
}

}  // namespace talvo
