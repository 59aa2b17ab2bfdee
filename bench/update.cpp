// The update's cost: an incremental update after one leaf change against a full update of the
// same circuit, and full updates of one wide layer and of one large node on one worker against
// all workers.

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>
#include <tbb/info.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "talvo/circuit/reactive.hpp"

namespace {

using talvo::LogProb;
using talvo::NodeIndex;
using talvo::ReactiveCircuit;
using talvo::Value;

constexpr std::size_t kLayers = 10;
constexpr std::size_t kWidth = 1000;
constexpr std::size_t kDeepValueSize = 16;
constexpr std::size_t kMinterms = 20;
constexpr std::size_t kLeavesPerNode = 4;

/// 10 layers of 1,000 nodes: node j of each layer is the parent of node j of the layer below, so
/// the nodes form 1,000 chains of 10. Every node has four leaves of its own and 20 minterms of two
/// of them; the memory of its child stands in its first minterm. The top layer holds the targets,
/// so changing a leaf of the bottom layer marks one chain of 10 nodes.
ReactiveCircuit<LogProb> deep_circuit() {
  ReactiveCircuit<LogProb> circuit(kDeepValueSize);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  std::vector<NodeIndex> below;
  for (std::size_t layer = 0; layer < kLayers; ++layer) {
    std::vector<NodeIndex> nodes;
    for (std::size_t j = 0; j < kWidth; ++j) {
      const auto first = static_cast<std::uint32_t>(circuit.leafs().size());
      for (std::size_t l = 0; l < kLeavesPerNode; ++l) {
        auto made = circuit.add_leaf(Value(kDeepValueSize, unit(rng)), "x", 0.0);
        if (!made) throw std::runtime_error(made.error().message());
      }
      std::vector<std::vector<std::uint32_t>> sum(kMinterms);
      for (std::size_t m = 0; m < kMinterms; ++m) {
        sum[m] = {first + static_cast<std::uint32_t>(m % kLeavesPerNode),
                  first + static_cast<std::uint32_t>((m / kLeavesPerNode + 1) % kLeavesPerNode)};
      }
      const std::string token = std::to_string(layer) + "/" + std::to_string(j);
      if (!circuit.add_sum_product(sum, token)) throw std::runtime_error("refused sum");
      const NodeIndex node = circuit.targets().at(token);
      if (layer + 1 < kLayers) talvo::detail::CircuitAccess::targets(circuit).erase(token);
      if (layer > 0) circuit.connect(node, below[j], 0);
      nodes.push_back(node);
    }
    below = std::move(nodes);
  }
  circuit.update_dependencies();
  circuit.update();
  return circuit;
}

void BM_IncrementalUpdateAfterOneLeafChange(benchmark::State& state) {
  auto circuit = deep_circuit();
  const std::uint32_t leaf = 4 * 500;  // a leaf of bottom node 500
  const Value values[2] = {Value(kDeepValueSize, 0.3), Value(kDeepValueSize, 0.6)};
  double now = 0.0;
  std::size_t i = 0;
  for (auto _ : state) {
    if (!talvo::leaf::update(circuit, leaf, values[++i % 2], now += 1.0)) state.SkipWithError("");
    benchmark::DoNotOptimize(circuit.update());
  }
  state.counters["marked"] = static_cast<double>(circuit.leafs()[leaf].dependents.size());
}
BENCHMARK(BM_IncrementalUpdateAfterOneLeafChange)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_FullUpdate(benchmark::State& state) {
  auto circuit = deep_circuit();
  for (auto _ : state) benchmark::DoNotOptimize(circuit.full_update());
  state.counters["nodes"] = static_cast<double>(circuit.structure().node_count());
}
BENCHMARK(BM_FullUpdate)->UseRealTime()->Unit(benchmark::kMicrosecond);

/// One layer of 4,096 independent nodes, value_size 64, 50 minterms of three leaves each out of
/// a pool of 256 leaves.
ReactiveCircuit<LogProb> wide_circuit() {
  constexpr std::size_t kNodes = 4096, kValueSize = 64, kWideMinterms = 50, kPool = 256;
  ReactiveCircuit<LogProb> circuit(kValueSize);
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  for (std::size_t l = 0; l < kPool; ++l) {
    auto made = circuit.add_leaf(Value::build(kValueSize,
                                              [&](std::span<double> entries) {
                                                for (double& x : entries) x = unit(rng);
                                              }),
                                 "x", 0.0);
    if (!made) throw std::runtime_error(made.error().message());
  }
  std::uniform_int_distribution<std::uint32_t> any_leaf(0, kPool - 1);
  for (std::size_t n = 0; n < kNodes; ++n) {
    std::vector<std::vector<std::uint32_t>> sum(kWideMinterms);
    for (auto& product : sum) product = {any_leaf(rng), any_leaf(rng), any_leaf(rng)};
    if (!circuit.add_sum_product(sum, std::to_string(n))) throw std::runtime_error("refused sum");
  }
  circuit.update();
  return circuit;
}

/// Full updates of the circuit that `make` builds, on as many workers as the argument says.
void full_updates_on_workers(benchmark::State& state, ReactiveCircuit<LogProb> (*make)()) {
  const tbb::global_control workers(tbb::global_control::max_allowed_parallelism,
                                    static_cast<std::size_t>(state.range(0)));
  auto circuit = make();
  for (auto _ : state) benchmark::DoNotOptimize(circuit.full_update());
  state.counters["workers"] = static_cast<double>(state.range(0));
}

/// One worker, then all of them.
void on_one_and_all_workers(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(1)
      ->Arg(tbb::info::default_concurrency())
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

void BM_WideLayerFullUpdate(benchmark::State& state) {
  full_updates_on_workers(state, wide_circuit);
}
BENCHMARK(BM_WideLayerFullUpdate)->Apply(on_one_and_all_workers);

/// One node of 2^18 minterms over 18 sources and their complements (36 leaves), one slot: minterm
/// k takes source i or its complement by bit i of k, as a compiled model's node over 18 inputs.
ReactiveCircuit<LogProb> large_node() {
  constexpr std::uint32_t kSources = 18;
  ReactiveCircuit<LogProb> circuit(1);
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> unit(0.05, 0.95);
  for (std::uint32_t i = 0; i < kSources; ++i) {
    const double p = unit(rng);
    if (!circuit.add_leaf(Value{p}, "x", 0.0) || !circuit.add_leaf(Value{1.0 - p}, "-x", 0.0))
      throw std::runtime_error("refused leaf");
  }
  std::vector<std::vector<std::uint32_t>> sum(std::size_t{1} << kSources);
  for (std::size_t k = 0; k < sum.size(); ++k) {
    for (std::uint32_t i = 0; i < kSources; ++i) sum[k].push_back(2 * i + ((k >> i) & 1));
  }
  if (!circuit.add_sum_product(sum, "t")) throw std::runtime_error("refused sum");
  circuit.update();
  return circuit;
}

void BM_LargeNodeFullUpdate(benchmark::State& state) {
  full_updates_on_workers(state, large_node);
}
BENCHMARK(BM_LargeNodeFullUpdate)->Apply(on_one_and_all_workers);

}  // namespace

BENCHMARK_MAIN();
