#include <gtest/gtest.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "expect_panic.hpp"
#include "semirings.hpp"
#include "talvo/circuit/reactive.hpp"

namespace talvo {
namespace {

template <class S>
class UpdateTest : public ::testing::Test {};
TYPED_TEST_SUITE(UpdateTest, AllSemirings, SemiringNames);

/// Chain a -> b -> c (a the root, target "t"), leaf x used by c, leaf y by a; a = y * b, b = c,
/// c = x. Only "t" is a target.
template <class S>
struct Chain {
  ReactiveCircuit<S> circuit{1};
  NodeIndex a = 0, b = 0, c = 0;

  Chain(double x, double y) {
    EXPECT_TRUE(circuit.add_leaf(Value{x}, "x", 0.0));
    EXPECT_TRUE(circuit.add_leaf(Value{y}, "y", 0.0));
    EXPECT_TRUE(circuit.add_sum_product({{1}}, "t"));
    EXPECT_TRUE(circuit.add_sum_product({{}}, "b"));
    EXPECT_TRUE(circuit.add_sum_product({{0}}, "c"));
    a = circuit.targets().at("t");
    b = circuit.targets().at("b");
    c = circuit.targets().at("c");
    detail::CircuitAccess::targets(circuit).erase("b");
    detail::CircuitAccess::targets(circuit).erase("c");
    circuit.connect(a, b, 0);
    circuit.connect(b, c, 0);
    circuit.update_dependencies();
  }

  const Value& memory(NodeIndex parent) const {
    return circuit.structure().edge(circuit.structure().outgoing(parent)[0]);
  }
};

TEST(Update, ChainRecomputesChildrenFirstAndReportsTheTarget) {
  Chain<LogProb> chain(0.5, 0.8);
  const UpdateResult first = chain.circuit.update();
  ASSERT_EQ(first.size(), 1u);
  EXPECT_DOUBLE_EQ(first.at("t")[0], 0.4);
  using Layers = std::vector<std::vector<NodeIndex>>;
  ASSERT_NE(chain.circuit.layers(), nullptr);
  EXPECT_EQ(*chain.circuit.layers(), (Layers{{chain.c}, {chain.b}, {chain.a}}));
  EXPECT_TRUE(chain.circuit.invalidated().empty());

  ASSERT_TRUE(leaf::update(chain.circuit, 0, Value{0.25}, 1.0));
  EXPECT_EQ(chain.circuit.invalidated().size(), 3u);
  const UpdateResult second = chain.circuit.update();
  ASSERT_EQ(second.size(), 1u);
  // a reads the result b got in this same call, which read c's.
  EXPECT_DOUBLE_EQ(second.at("t")[0], 0.2);
  EXPECT_DOUBLE_EQ(chain.memory(chain.a)[0], std::log(0.25));
  EXPECT_TRUE(chain.circuit.update().empty());
}

TEST(Update, OnlyMarkedNodesAreRecomputed) {
  Chain<LogProb> chain(0.5, 0.8);
  chain.circuit.update();
  detail::CircuitAccess::leafs(chain.circuit)[0].value = Value{std::log(0.25)};
  detail::CircuitAccess::invalidated(chain.circuit) = {chain.c};
  const Value held = chain.memory(chain.b);

  EXPECT_TRUE(chain.circuit.update().empty());
  EXPECT_DOUBLE_EQ(chain.memory(chain.b)[0], std::log(0.25));
  EXPECT_DOUBLE_EQ(chain.memory(chain.a)[0], std::log(0.5));
  // The memory was written in place of its own storage: a holder of the old vector keeps it.
  EXPECT_DOUBLE_EQ(held[0], std::log(0.5));
}

TEST(Update, EmptyCircuitAndNothingMarked) {
  ReactiveCircuit<LogProb> empty(2);
  EXPECT_TRUE(empty.update().empty());
  ASSERT_NE(empty.layers(), nullptr);
  EXPECT_EQ(*empty.layers(), (std::vector<std::vector<NodeIndex>>{{}}));

  Chain<Fuzzy> chain(0.5, 0.8);
  chain.circuit.update();
  const Value before = chain.memory(chain.a);
  EXPECT_TRUE(chain.circuit.update().empty());
  EXPECT_EQ(chain.memory(chain.a).data(), before.data());
}

TYPED_TEST(UpdateTest, FullUpdateReportsEveryTargetDecoded) {
  using S = TypeParam;
  ReactiveCircuit<S> circuit(3);
  ASSERT_TRUE(circuit.add_leaf(Value{0.25, 0.5, 1.0}, "x", 0.0));
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({}, "u"));
  circuit.update();

  const UpdateResult results = circuit.full_update();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results.at("t"), S::decode_vec(circuit.leafs()[0].value.span()));
  EXPECT_EQ(results.at("u"), S::decode_vec(S::zero(3).span()));
}

TEST(Update, NodeWithTwoParentsWritesBothMemoriesAndBroadcastsOneEntry) {
  ReactiveCircuit<LogProb> circuit(3);
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "x", 0.0));
  ASSERT_TRUE(circuit.add_sum_product({{}}, "p"));
  ASSERT_TRUE(circuit.add_sum_product({{}}, "q"));
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "c"));
  const NodeIndex c = circuit.targets().at("c");
  circuit.connect(circuit.targets().at("p"), c, 0);
  circuit.connect(circuit.targets().at("q"), c, 0);
  detail::CircuitAccess::structure(circuit).node(c).value_size =
      1;  // a one-entry result reaches every slot

  const UpdateResult results = circuit.update();
  for (const char* parent : {"p", "q"}) {
    const NodeIndex node = circuit.targets().at(parent);
    const Value& memory = circuit.structure().edge(circuit.structure().outgoing(node)[0]);
    EXPECT_EQ(memory.to_vector(), std::vector<double>(3, std::log(0.5)));
    EXPECT_EQ(results.at(parent).to_vector(), std::vector<double>(3, 0.5));
  }
}

TEST(Update, ProbGradientResultsUnpackIntoGradientsByLeafName) {
  ReactiveCircuit<ProbGradient> circuit(4);
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "a", 0.0));
  ASSERT_TRUE(circuit.add_leaf(Value{0.25}, "b", 0.0));
  ASSERT_TRUE(circuit.add_leaf(Value{0.125}, "c", 0.0));
  EXPECT_EQ(circuit.leafs()[1].value, (Value{0.25, 0.0, 1.0, 0.0}));
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}, {2}}, "t"));

  const GradientResult gradients = circuit.full_gradient_update().value();
  ASSERT_EQ(gradients.size(), 1u);
  EXPECT_EQ(gradients.at("t").probability, 0.25);
  using Map = std::unordered_map<std::string, double>;
  EXPECT_EQ(gradients.at("t").gradients, (Map{{"a", 0.25}, {"b", 0.5}, {"c", 1.0}}));
  EXPECT_TRUE(circuit.gradient_update()->empty());

  const UpdateResult wrong{{"short", Value{0.5, 1.0}}, {"t", Value{0.25, 0.25, 0.5, 1.0}}};
  const GradientResult unpacked = circuit.unpack_gradients(wrong);
  EXPECT_EQ(unpacked.count("short"), 0u);
  EXPECT_EQ(unpacked.count("t"), 1u);

  // Two leaves of one name: the later one's derivative is kept.
  ASSERT_TRUE(circuit.add_leaf(Value{0.5}, "a", 0.0));
  const GradientResult shared = circuit.unpack_gradients({{"t", Value{0.1, 1.0, 2.0, 3.0, 4.0}}});
  EXPECT_EQ(shared.at("t").gradients.at("a"), 4.0);
  EXPECT_TRUE(circuit.unpack_gradients({{"t", Value{0.25, 0.25, 0.5, 1.0}}}).empty());
}

TEST(Update, BrokenStructureAbortsFromInsideTheParallelLoop) {
  const auto wide = [] {
    ReactiveCircuit<LogProb> circuit(2);
    EXPECT_TRUE(circuit.add_leaf(Value{0.5, 0.5}, "x", 0.0));
    for (int i = 0; i < 64; ++i) {
      EXPECT_TRUE(circuit.add_sum_product({{0}}, "n" + std::to_string(i)));
    }
    return circuit;
  };

  auto leaf_out_of_range = wide();
  AlgebraicCircuit& node = detail::CircuitAccess::structure(leaf_out_of_range).node(40);
  node.push_minterm({node.ensure_leaf(7)});
  EXPECT_THROW(leaf_out_of_range.update(), Panic);

  auto dangling = wide();
  ASSERT_TRUE(dangling.add_sum_product({{0}}, "parent"));
  const NodeIndex parent = dangling.targets().at("parent");
  dangling.connect(parent, 3, 0);
  dangling.update();
  detail::CircuitAccess::structure(dangling).remove_edge(
      detail::CircuitAccess::structure(dangling).outgoing(parent)[0]);
  detail::CircuitAccess::invalidated(dangling) = {parent};
  EXPECT_THROW(dangling.update(), Panic);

  auto wrong_length = wide();
  ASSERT_TRUE(wrong_length.add_sum_product({{}}, "three"));
  const NodeIndex three = wrong_length.targets().at("three");
  detail::CircuitAccess::structure(wrong_length).node(three).value_size = 3;
  wrong_length.connect(6, three, 0);
  EXPECT_THROW(wrong_length.update(), Panic);

  auto cycle = wide();
  cycle.connect(0, 1, 0);
  cycle.connect(1, 0, 0);
  detail::CircuitAccess::invalidated(cycle).clear();
  EXPECT_PANIC(cycle.update(), "ReactiveCircuit should be a DAG");
}

TEST(EvaluateLayer, KeepsTheListOrderAndSkipsUnmarkedNodes) {
  ReactiveCircuit<Fuzzy> circuit(1);
  std::vector<NodeIndex> layer;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(circuit.add_leaf(Value{i / 200.0}, "x", 0.0));
    ASSERT_TRUE(circuit.add_sum_product({{static_cast<std::uint32_t>(i)}}, std::to_string(i)));
    layer.insert(layer.begin(), static_cast<NodeIndex>(i));
  }
  layer.push_back(999);  // not a node, and not marked
  std::unordered_set<NodeIndex> to_update;
  for (NodeIndex n = 0; n < 200; n += 3) to_update.insert(n);

  EXPECT_TRUE(circuit.evaluate_layer(layer, {}).empty());
  EXPECT_THROW(circuit.evaluate_layer(std::vector<NodeIndex>{0, 999}, {0, 999}), Panic);
  for (const int workers : {1, static_cast<int>(tbb::info::default_concurrency())}) {
    const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, workers);
    const auto results = circuit.evaluate_layer(layer, to_update);
    ASSERT_EQ(results.size(), to_update.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      const NodeIndex expected = 198 - static_cast<NodeIndex>(3 * i);
      EXPECT_EQ(results[i].first, expected);
      EXPECT_EQ(results[i].second[0], expected / 200.0);
    }
  }
}

// The core promise: after any leaf changes, an update gives the targets the values a full update
// of the same circuit would give them.

template <class S>
bool same_entries(const Value& a, const Value& b) {
  if (a.size() != b.size()) return false;
  constexpr bool exact = std::is_same_v<S, Fuzzy> || std::is_same_v<S, Boolean>;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(a[i]) && std::isnan(b[i])) continue;
    if (a[i] == b[i]) continue;
    if (exact || !(std::abs(a[i] - b[i]) <= 1e-12)) return false;
  }
  return true;
}

template <class S>
Value random_input(std::mt19937_64& rng, std::size_t value_size) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const std::size_t length = (!std::is_same_v<S, ProbGradient> && unit(rng) < 0.2) ? 1 : value_size;
  return Value::build(length, [&](std::span<double> entries) {
    for (double& x : entries) {
      const double pick = unit(rng);
      x = pick < 0.05 ? 0.0 : pick < 0.1 ? 1.0 : unit(rng);
    }
  });
}

/// Random sums of products under random tokens, random edges from later to earlier nodes (so the
/// graph stays acyclic), dependents rebuilt.
template <class S>
ReactiveCircuit<S> random_circuit(std::mt19937_64& rng, std::size_t nodes) {
  std::uniform_int_distribution<std::size_t> leaf_count(2, 8);
  const std::size_t leaves = leaf_count(rng);
  std::size_t value_size = std::uniform_int_distribution<std::size_t>(1, 4)(rng);
  if constexpr (std::is_same_v<S, ProbGradient>) value_size = leaves + 1;

  ReactiveCircuit<S> circuit(value_size);
  for (std::size_t l = 0; l < leaves; ++l) {
    EXPECT_TRUE(circuit.add_leaf(random_input<S>(rng, value_size), "l" + std::to_string(l), 0.0));
  }
  std::uniform_int_distribution<std::uint32_t> any_leaf(0, static_cast<std::uint32_t>(leaves - 1));
  std::uniform_int_distribution<int> small(0, 3);
  for (std::size_t n = 0; n < nodes; ++n) {
    std::vector<std::vector<std::uint32_t>> sum(small(rng) + (n % 5 == 0 ? 0 : 1));
    for (auto& product : sum) {
      product.resize(small(rng));
      for (auto& leaf : product) leaf = any_leaf(rng);
    }
    EXPECT_TRUE(circuit.add_sum_product(sum, "n" + std::to_string(n)));
  }
  for (NodeIndex from = 1; from < nodes; ++from) {
    const std::size_t minterms = circuit.structure().node(from).minterms.size();
    for (int e = small(rng); e > 0 && minterms > 0; --e) {
      const auto to = std::uniform_int_distribution<NodeIndex>(0, from - 1)(rng);
      circuit.connect(from, to, std::uniform_int_distribution<std::size_t>(0, minterms - 1)(rng));
    }
  }
  // Some nodes are inner nodes only.
  for (std::size_t n = 0; n < nodes; n += 3)
    detail::CircuitAccess::targets(circuit).erase("n" + std::to_string(n));
  circuit.update_dependencies();
  return circuit;
}

TYPED_TEST(UpdateTest, IncrementalUpdateAgreesWithFullUpdate) {
  using S = TypeParam;
  std::mt19937_64 rng(20240611);
  for (int trial = 0; trial < 40; ++trial) {
    auto circuit = random_circuit<S>(rng, 1 + trial % 25);
    UpdateResult latest = circuit.update();
    double now = 1.0;
    for (int round = 0; round < 8; ++round) {
      const int changes = std::uniform_int_distribution<int>(0, 3)(rng);
      for (int k = 0; k < changes; ++k) {
        const auto leaf = std::uniform_int_distribution<std::uint32_t>(
            0, static_cast<std::uint32_t>(circuit.leafs().size() - 1))(rng);
        ASSERT_TRUE(leaf::update(circuit, leaf, random_input<S>(rng, circuit.value_size()), now));
        now += 0.5;
      }
      ReactiveCircuit<S> copy = circuit;
      for (auto& [token, value] : circuit.update()) latest.insert_or_assign(token, value);
      const UpdateResult full = copy.full_update();
      ASSERT_EQ(full.size(), circuit.targets().size());
      for (const auto& [token, value] : full) {
        ASSERT_TRUE(same_entries<S>(latest.at(token), value))
            << "trial " << trial << ", round " << round << ", target " << token;
      }
    }
  }
}

TYPED_TEST(UpdateTest, ResultsDoNotDependOnTheNumberOfWorkers) {
  using S = TypeParam;
  std::mt19937_64 rng(7);
  const auto circuit = random_circuit<S>(rng, 300);
  UpdateResult by_one, by_all;
  {
    const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, 1);
    ReactiveCircuit<S> copy = circuit;
    by_one = copy.full_update();
  }
  ReactiveCircuit<S> copy = circuit;
  by_all = copy.full_update();
  ASSERT_EQ(by_one.size(), by_all.size());
  for (const auto& [token, value] : by_all) {
    const Value& other = by_one.at(token);
    ASSERT_EQ(value.size(), other.size());
    EXPECT_EQ(std::memcmp(value.data(), other.data(), value.size() * sizeof(double)), 0) << token;
  }
}

/// Nodes of one layer with more minterms than a piece holds. Two are random over leaves whose
/// entries are now and then 0, 1, NaN or +inf (more often in later slots), one of them with empty
/// minterms; two put a NaN product into a later piece than the first finite product or than a
/// run of zero products.
template <class S>
ReactiveCircuit<S> large_nodes(std::mt19937_64& rng) {
  constexpr std::size_t kLeaves = 12;
  const std::size_t value_size = std::is_same_v<S, ProbGradient> ? kLeaves + 4 : 4;
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kSpecial[] = {0.0, 1.0, kNaN, std::numeric_limits<double>::infinity()};
  constexpr double kRate[] = {0.0, 0.01, 0.03, 0.1};
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ReactiveCircuit<S> circuit(value_size);
  for (std::size_t l = 0; l < kLeaves; ++l) {
    const Value input = Value::build(value_size, [&](std::span<double> entries) {
      for (std::size_t slot = 0; slot < entries.size(); ++slot) {
        entries[slot] = unit(rng) < kRate[slot % 4] ? kSpecial[rng() % 4] : unit(rng);
      }
    });
    EXPECT_TRUE(circuit.add_leaf(input, "l" + std::to_string(l), 0.0));
  }
  std::uniform_int_distribution<std::uint32_t> any_leaf(0, kLeaves - 1);
  for (const std::size_t smallest : {1, 0}) {
    std::vector<std::vector<std::uint32_t>> sum((2 + smallest) * kMintermsPerPiece + 300);
    for (auto& product : sum) {
      product.resize(smallest + rng() % (5 - smallest));
      for (auto& leaf : product) leaf = any_leaf(rng);
    }
    EXPECT_TRUE(circuit.add_sum_product(sum, "random" + std::to_string(smallest)));
  }

  const auto zero = static_cast<std::uint32_t>(circuit.leafs().size());
  EXPECT_TRUE(circuit.add_leaf(Value(value_size, 0.0), "zero", 0.0));
  EXPECT_TRUE(circuit.add_leaf(Value(value_size, kNaN), "nan", 0.0));
  EXPECT_TRUE(circuit.add_leaf(Value(value_size, 0.5), "half", 0.0));
  const std::vector<std::uint32_t> zeros{zero}, nan{zero + 1}, half{zero + 2};
  std::vector<std::vector<std::uint32_t>> dropped(kMintermsPerPiece, zeros);
  dropped.push_back(nan);
  dropped.insert(dropped.end(), kMintermsPerPiece, zeros);
  dropped.push_back(half);
  EXPECT_TRUE(circuit.add_sum_product(dropped, "dropped"));
  std::vector<std::vector<std::uint32_t>> kept{half};
  kept.insert(kept.end(), kMintermsPerPiece, zeros);
  kept.push_back(nan);
  EXPECT_TRUE(circuit.add_sum_product(kept, "kept"));
  circuit.update();
  return circuit;
}

/// The node's value from its minterms added one by one.
template <class S>
Value in_one_piece(const ReactiveCircuit<S>& circuit, NodeIndex node) {
  const AlgebraicCircuit& algebraic = circuit.structure().node(node);
  Sum<S> sum(algebraic.value_size);
  std::vector<double> product(algebraic.value_size);
  for (const Minterm& minterm : algebraic.minterms) {
    S::fill_one(product);
    for (const std::size_t c : minterm) {
      S::mul(product, circuit.leafs()[algebraic.columns[c].id].value);
    }
    S::add(sum.state, product);
  }
  return sum.finish();
}

TYPED_TEST(UpdateTest, LargeNodesGiveTheSameValuesOnAnyNumberOfWorkers) {
  using S = TypeParam;
  std::mt19937_64 rng(11);
  const auto circuit = large_nodes<S>(rng);
  const std::vector<NodeIndex> layer = circuit.layers()->front();
  const std::unordered_set<NodeIndex> to_update(layer.begin(), layer.end());
  std::vector<std::vector<std::pair<NodeIndex, Value>>> by_workers;
  for (const int workers : {1, 2, static_cast<int>(tbb::info::default_concurrency())}) {
    const tbb::global_control limit(tbb::global_control::max_allowed_parallelism, workers);
    by_workers.push_back(circuit.evaluate_layer(layer, to_update));
  }
  ASSERT_EQ(by_workers.front().size(), 4u);
  for (std::size_t i = 0; i < layer.size(); ++i) {
    const Value& first = by_workers.front()[i].second;
    for (const auto& results : by_workers) {
      const Value& value = results[i].second;
      ASSERT_EQ(value.size(), first.size());
      EXPECT_EQ(std::memcmp(value.data(), first.data(), value.size() * sizeof(double)), 0) << i;
    }
    EXPECT_TRUE(same_as_one_piece<S>(first, in_one_piece(circuit, layer[i]))) << i;
  }
}

TEST(Update, EndsWhenCalledFromInsideTheCallersOwnParallelLoop) {
  // 256 targets of 200 minterms each; every 8th iteration of the caller's loop marks kMarked of
  // them and updates, while the other iterations do arithmetic.
  const SharedCircuit<LogProb> circuit = make_shared_circuit<LogProb>(1);
  {
    const auto locked = circuit->lock();
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(locked->add_leaf(Value{0.5}, "x", 0.0));
    for (std::uint32_t t = 0; t < 256; ++t) {
      std::vector<std::vector<std::uint32_t>> products;
      for (std::uint32_t m = 0; m < 200; ++m) products.push_back({(t + m) % 16, (t + 3 * m) % 16});
      ASSERT_TRUE(locked->add_sum_product(products, "t" + std::to_string(t)));
    }
    (void)locked->update();
  }
  constexpr int kRuns = 5;
  constexpr NodeIndex kMarked = 4;
  auto outcome = std::make_shared<std::promise<std::size_t>>();
  std::future<std::size_t> ended = outcome->get_future();
  std::thread caller([circuit, outcome] {
    try {
      std::atomic<std::size_t> reported = 0;
      for (int run = 0; run < kRuns; ++run) {
        tbb::parallel_for(0, 20000, [&](int i) {
          if (i % 8 == 0) {
            std::set<NodeIndex> nodes;
            for (NodeIndex k = 0; k < kMarked; ++k)
              nodes.insert((static_cast<NodeIndex>(i) + k) % 256);
            const auto locked = circuit->lock();
            locked->mark(nodes);
            reported += locked->update().size();
            return;
          }
          double x = i;
          for (int k = 0; k < 200; ++k) x = std::sqrt(x + k);
          if (x < 0.0) reported += 1;  // never: keeps the arithmetic
        });
      }
      outcome->set_value(reported);
    } catch (...) {
      outcome->set_exception(std::current_exception());
    }
  });
  if (ended.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
    caller.detach();
    FAIL() << "the updates inside the parallel loop did not end";
  }
  caller.join();
  EXPECT_EQ(ended.get(), std::size_t{kRuns * 2500 * kMarked});
}

}  // namespace
}  // namespace talvo
