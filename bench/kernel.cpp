// The evaluation of one wide node against a hand-written loop of the same arithmetic over the
// same data, in LogProb and in Fuzzy.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <unordered_set>
#include <vector>

#include "talvo/circuit/reactive.hpp"

namespace {

using talvo::Fuzzy;
using talvo::LogProb;
using talvo::NodeIndex;
using talvo::ReactiveCircuit;
using talvo::Value;

constexpr std::size_t kValueSize = 4096;
constexpr std::size_t kLeaves = 8;
constexpr std::size_t kMinterms = 8;
constexpr std::size_t kFactors = 3;

/// One node of 8 minterms, each the product of 3 of 8 leaves, over 4,096 slots.
template <class S>
struct WideNode {
  ReactiveCircuit<S> circuit{kValueSize};
  std::vector<NodeIndex> layer;
  std::unordered_set<NodeIndex> to_update;
  std::vector<std::vector<std::uint32_t>> sum;

  WideNode() {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(0.01, 0.99);
    for (std::size_t l = 0; l < kLeaves; ++l) {
      const Value input = Value::build(kValueSize, [&](std::span<double> entries) {
        for (double& x : entries) x = unit(rng);
      });
      if (!circuit.add_leaf(input, "x", 0.0)) throw std::runtime_error("refused leaf");
    }
    for (std::size_t m = 0; m < kMinterms; ++m) {
      std::vector<std::uint32_t> product;
      for (std::size_t f = 0; f < kFactors; ++f) {
        product.push_back(static_cast<std::uint32_t>((m + 3 * f) % kLeaves));
      }
      sum.push_back(product);
    }
    if (!circuit.add_sum_product(sum, "t")) throw std::runtime_error("refused sum");
    layer = {circuit.targets().at("t")};
    to_update = {layer[0]};
  }

  const double* leaf(std::uint32_t l) const { return circuit.leafs()[l].value.data(); }
};

void count(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kValueSize * kMinterms));
}

template <class S>
void BM_NodeEvaluation(benchmark::State& state) {
  const WideNode<S> node;
  for (auto _ : state)
    benchmark::DoNotOptimize(node.circuit.evaluate_layer(node.layer, node.to_update));
  count(state);
}
BENCHMARK(BM_NodeEvaluation<LogProb>);
BENCHMARK(BM_NodeEvaluation<Fuzzy>);

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

void BM_HandWrittenLogProb(benchmark::State& state) {
  const WideNode<LogProb> node;
  const std::size_t n = kValueSize;
  std::vector<double> product(n), scaled(n);
  for (auto _ : state) {
    // The result is a fresh vector, as a node's result is.
    auto maximum = std::make_unique_for_overwrite<double[]>(n);
    double* m = maximum.get();
    double* s = scaled.data();
    double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) m[i] = kMinusInfinity, s[i] = 0.0;
    for (const auto& minterm : node.sum) {
      for (std::size_t i = 0; i < n; ++i) p[i] = 0.0;
      for (const std::uint32_t l : minterm) {
        const double* x = node.leaf(l);
        for (std::size_t i = 0; i < n; ++i) p[i] += x[i];
      }
      for (std::size_t i = 0; i < n; ++i) {
        const double previous = m[i];
        const double top = (p[i] > previous || previous != previous) ? p[i] : previous;
        const double factor = previous == kMinusInfinity ? 0.0 : std::exp(previous - top);
        m[i] = top;
        s[i] *= factor;
        if (top != kMinusInfinity) s[i] += std::exp(p[i] - top);
      }
    }
    for (std::size_t i = 0; i < n; ++i) m[i] += std::log(s[i]);
    benchmark::DoNotOptimize(m);
    benchmark::ClobberMemory();
  }
  count(state);
}
BENCHMARK(BM_HandWrittenLogProb);

void BM_HandWrittenFuzzy(benchmark::State& state) {
  const WideNode<Fuzzy> node;
  const std::size_t n = kValueSize;
  std::vector<double> product(n);
  for (auto _ : state) {
    auto result = std::make_unique_for_overwrite<double[]>(n);
    double* r = result.get();
    double* p = product.data();
    for (std::size_t i = 0; i < n; ++i) r[i] = 0.0;
    for (const auto& minterm : node.sum) {
      for (std::size_t i = 0; i < n; ++i) p[i] = 1.0;
      for (const std::uint32_t l : minterm) {
        const double* x = node.leaf(l);
        for (std::size_t i = 0; i < n; ++i) p[i] = (x[i] < p[i] || p[i] != p[i]) ? x[i] : p[i];
      }
      for (std::size_t i = 0; i < n; ++i) r[i] = (p[i] > r[i] || r[i] != r[i]) ? p[i] : r[i];
    }
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  count(state);
}
BENCHMARK(BM_HandWrittenFuzzy);

}  // namespace

BENCHMARK_MAIN();
