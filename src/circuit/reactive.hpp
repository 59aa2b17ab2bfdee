#pragma once
// The reactive circuit: a DAG whose nodes are sums of products over leaves and over the latest
// results of child nodes. An edge runs parent -> child and stores the child's latest result as the
// parent reads it (its memory). Only marked nodes are recomputed by an update.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "circuit/algebraic.hpp"
#include "circuit/leaf.hpp"
#include "circuit/semiring.hpp"
#include "core/error.hpp"
#include "core/graph.hpp"
#include "core/mutex.hpp"
#include "core/value.hpp"

namespace talvo {

struct ProbGradient;

/// Target token -> decoded result of its node.
using UpdateResult = std::unordered_map<std::string, Value>;

/// A probability with its derivative per leaf name.
struct Gradients {
  double probability = 0.0;
  std::unordered_map<std::string, double> gradients;
};
using GradientResult = std::unordered_map<std::string, Gradients>;

template <Semiring S>
class ReactiveCircuit {
 public:
  StableGraph<AlgebraicCircuit, Value> structure;
  std::vector<Leaf<S>> leafs;
  std::unordered_set<NodeIndex> invalidated;
  std::unordered_map<std::string, NodeIndex> targets;
  std::vector<std::size_t> partition;
  std::optional<std::vector<std::vector<NodeIndex>>> layers;
  std::size_t value_size;
  double update_threshold = 0.001;

  /// An empty circuit; a `value_size` of 0 aborts.
  explicit ReactiveCircuit(std::size_t value_size, double update_threshold = 0.001);

  // Structure, targets and dependencies.

  /// Adds a leaf by hand; its index is the current leaf count. Refuses a value the circuit could
  /// not evaluate.
  Result<std::uint32_t> add_leaf(Value value, std::string name, double initial_timestamp);
  /// Adds the sum of products to the node of `target_token` (made when the token is new) and
  /// marks it. Refuses leaf indices outside the leaves before anything changes.
  Result<void> add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product,
                               const std::string& target_token);
  void connect(NodeIndex from, NodeIndex to, std::size_t minterm);
  void invalidate();
  void update_dependencies();

  // Incremental update and gradients.

  std::vector<std::pair<NodeIndex, Value>> evaluate_layer(
      std::span<const NodeIndex> layer, const std::unordered_set<NodeIndex>& to_update) const;
  UpdateResult update();
  UpdateResult full_update();
  GradientResult unpack_gradients(const UpdateResult& results) const;
  GradientResult gradient_update()
    requires std::same_as<S, ProbGradient>;
  GradientResult full_gradient_update()
    requires std::same_as<S, ProbGradient>;

  // Restructuring and adaptation.

  Result<void> drop_leaf(std::uint32_t leaf);
  Result<void> lift_leaf(std::uint32_t leaf);
  void adapt(double bin_size, std::size_t number_bins);

  // DOT text.

  std::string to_dot_text() const;
  Result<void> to_dot(const std::string& path) const;
};

/// The handle every holder of a circuit shares; lock it for one whole operation.
template <Semiring S>
using SharedCircuit = std::shared_ptr<PoisonMutex<ReactiveCircuit<S>>>;

template <Semiring S>
SharedCircuit<S> make_shared_circuit(std::size_t value_size, double update_threshold = 0.001) {
  return std::make_shared<PoisonMutex<ReactiveCircuit<S>>>(value_size, update_threshold);
}

}  // namespace talvo
