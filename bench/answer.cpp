// Answering again after one source changes, in a compiled model: the garden's rain and its
// complement are written under the lock, the circuit is updated and the target read, against a
// hand-written loop that computes the same products of the same leaf values.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "answer_again.hpp"
#include "language/models.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/language/talvo.hpp"

namespace {

using talvo::LogProb;
using talvo::Talvo;

constexpr std::string_view kTarget = "/garden/wet";
constexpr double kRain[2] = {0.3, 0.6};

Talvo<LogProb> compiled_garden() {
  auto compiled = Talvo<LogProb>::compile(talvo::testing::kGardenModel);
  if (!compiled) throw std::runtime_error(compiled.error().message());
  return std::move(*compiled);
}

std::uint32_t leaf_named(const Talvo<LogProb>& garden, std::string_view name) {
  const auto circuit = garden.circuit()->lock();
  for (std::uint32_t i = 0; i < circuit->leafs().size(); ++i)
    if (circuit->leafs()[i].name == name) return i;
  throw std::runtime_error("no leaf " + std::string(name));
}

void BM_CompiledGarden(benchmark::State& state) {
  const Talvo<LogProb> garden = compiled_garden();
  const std::uint32_t rain = leaf_named(garden, "rain");
  const std::uint32_t dry = leaf_named(garden, "-rain");
  talvo::bench::answer_again(state, garden, rain, dry, std::string(kTarget), kRain);
}
BENCHMARK(BM_CompiledGarden);

/// The garden's products as leaf indices, five to a product, copied from the compiled node.
struct Products {
  std::vector<std::uint32_t> leaves;
  std::size_t count = 0;
  std::size_t width = 0;
};

Products products_of(const Talvo<LogProb>& garden) {
  const auto circuit = garden.circuit()->lock();
  const talvo::AlgebraicCircuit& node =
      circuit->structure().node(circuit->targets().at(std::string(kTarget)));
  Products products{{}, node.minterms.size(), node.minterms.front().size()};
  for (const talvo::Minterm& minterm : node.minterms) {
    if (minterm.size() != products.width) throw std::runtime_error("uneven products");
    for (const std::size_t c : minterm) products.leaves.push_back(node.columns[c].id);
  }
  return products;
}

void BM_HandWrittenGarden(benchmark::State& state) {
  const Talvo<LogProb> garden = compiled_garden();
  const std::uint32_t rain = leaf_named(garden, "rain");
  const std::uint32_t dry = leaf_named(garden, "-rain");
  const Products products = products_of(garden);
  std::vector<double> logs;
  for (const auto& leaf : garden.circuit()->lock()->leafs()) logs.push_back(leaf.value[0]);
  constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
  std::size_t i = 0;
  for (auto _ : state) {
    const double p = kRain[++i % 2];
    logs[rain] = std::log(p);
    logs[dry] = std::log(1.0 - p);
    double m = kMinusInfinity, s = 0.0;
    const std::uint32_t* leaf = products.leaves.data();
    for (std::size_t k = 0; k < products.count; ++k) {
      double product = 0.0;
      for (std::size_t f = 0; f < products.width; ++f) product += logs[*leaf++];
      const double top = (product > m || m != m) ? product : m;
      const double factor = m == kMinusInfinity ? 0.0 : std::exp(m - top);
      m = top;
      s *= factor;
      if (top != kMinusInfinity) s += std::exp(product - top);
    }
    benchmark::DoNotOptimize(std::exp(m + std::log(s)));
    benchmark::ClobberMemory();
  }
  state.counters["products"] = static_cast<double>(products.count);
}
BENCHMARK(BM_HandWrittenGarden);

}  // namespace

BENCHMARK_MAIN();
