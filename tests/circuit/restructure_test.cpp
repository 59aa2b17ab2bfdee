#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "expect_panic.hpp"
#include "semirings.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"

namespace talvo {
namespace {

using SumProduct = std::vector<std::vector<std::uint32_t>>;

// A LogProb circuit of one slot whose leaves hold the given probabilities.
ReactiveCircuit<LogProb> circuit_with_leaves(const std::vector<double>& probabilities) {
  ReactiveCircuit<LogProb> circuit(1);
  for (std::size_t i = 0; i < probabilities.size(); ++i) {
    EXPECT_TRUE(circuit.add_leaf(Value{probabilities[i]}, "x" + std::to_string(i), 0.0));
  }
  return circuit;
}

// A node's minterms, each written as its leaves "l<leaf>" and the children it reads "n<node>",
// sorted and joined with "*".
template <Semiring S>
std::vector<std::string> products(const ReactiveCircuit<S>& circuit, NodeIndex node) {
  const AlgebraicCircuit& content = circuit.structure().node(node);
  std::vector<std::string> result;
  for (const Minterm& minterm : content.minterms) {
    std::vector<std::string> names;
    for (const std::size_t c : minterm) {
      const Column& column = content.columns.at(c);
      names.push_back(column.kind == ColumnKind::Leaf
                          ? "l" + std::to_string(column.id)
                          : "n" + std::to_string(circuit.structure().target(column.id)));
    }
    std::ranges::sort(names);
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : "*") + name;
    result.push_back(joined);
  }
  return result;
}

double probability(ReactiveCircuit<LogProb>& circuit, const std::string& token = "t") {
  return circuit.full_update().at(token)[0];
}

// Every structural invariant the restructuring has to keep.
template <Semiring S>
testing::AssertionResult well_formed(const ReactiveCircuit<S>& circuit) {
  const auto& graph = circuit.structure();
  if (!graph.toposort()) return testing::AssertionFailure() << "the graph has a cycle";
  for (const NodeIndex node : graph.node_indices()) {
    const AlgebraicCircuit& content = graph.node(node);
    if (content.leaf_columns.size() + content.memory_columns.size() != content.columns.size()) {
      return testing::AssertionFailure() << "node " << node << ": column maps out of step";
    }
    for (std::size_t c = 0; c < content.columns.size(); ++c) {
      const Column column = content.columns[c];
      if (column.kind == ColumnKind::Memory) {
        if (!graph.contains_edge(column.id) || graph.source(column.id) != node) {
          return testing::AssertionFailure() << "node " << node << ": memory column M" << column.id
                                             << " names no edge of the node";
        }
        if (content.memory_columns.at(column.id) != c) {
          return testing::AssertionFailure() << "node " << node << ": memory map out of step";
        }
      } else if (column.id >= circuit.leafs().size() || content.leaf_columns.at(column.id) != c ||
                 !circuit.leafs()[column.id].dependents.contains(node)) {
        return testing::AssertionFailure() << "node " << node << ": bad leaf column L" << column.id;
      }
    }
    for (const Minterm& minterm : content.minterms) {
      if (!std::ranges::is_sorted(minterm) ||
          std::ranges::adjacent_find(minterm) != minterm.end() ||
          (!minterm.empty() && minterm.back() >= content.columns.size())) {
        return testing::AssertionFailure() << "node " << node << ": malformed minterm";
      }
    }
    for (const EdgeIndex edge : graph.outgoing(node)) {
      if (!content.memory_columns.contains(edge)) {
        return testing::AssertionFailure() << "node " << node << ": edge " << edge << " unread";
      }
    }
  }
  for (const auto& [token, node] : circuit.targets()) {
    if (!graph.contains_node(node)) {
      return testing::AssertionFailure() << "target " << token << " names no node";
    }
  }
  return testing::AssertionSuccess();
}

TEST(DropLeaf, MovesTheLeafIntoANewChildOfEachMintermWithoutMemory) {
  // N = l0·l1 + l2 becomes N = C·l1 + l2 with C = l0.
  auto circuit = circuit_with_leaves({0.3, 0.6, 0.2});
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}, {2}}, "t"));
  const double before = probability(circuit);
  ASSERT_TRUE(circuit.drop_leaf(0));

  EXPECT_EQ(circuit.targets().at("t"), 0u);
  EXPECT_EQ(products(circuit, 0), (std::vector<std::string>{"l1*n1", "l2"}));
  EXPECT_EQ(products(circuit, 1), (std::vector<std::string>{"l0"}));
  EXPECT_TRUE(circuit.invalidated().contains(1));
  EXPECT_EQ(circuit.layers(), nullptr);
  EXPECT_EQ(circuit.leafs()[0].dependents, (std::set<NodeIndex>{0, 1}));
  EXPECT_TRUE(well_formed(circuit));
  EXPECT_NEAR(probability(circuit), before, 1e-12);
}

TEST(DropLeaf, MultipliesTheLeafIntoTheChildTheMintermReads) {
  // N = l0·C with C = l1 + l2 becomes N = C with C = l0·l1 + l0·l2.
  auto circuit = circuit_with_leaves({0.3, 0.6, 0.2});
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{1}, {2}}, "c"));
  detail::CircuitAccess::targets(circuit).erase("c");
  circuit.connect(0, 1, 0);
  circuit.update_dependencies();
  const double before = probability(circuit);
  ASSERT_TRUE(circuit.drop_leaf(0));

  EXPECT_EQ(products(circuit, 0), (std::vector<std::string>{"n1"}));
  EXPECT_EQ(products(circuit, 1), (std::vector<std::string>{"l0*l1", "l0*l2"}));
  EXPECT_TRUE(circuit.invalidated().contains(1));
  EXPECT_TRUE(well_formed(circuit));
  EXPECT_NEAR(probability(circuit), before, 1e-12);
}

TEST(DropLeaf, OfAnUnusedLeafOnlyRebuildsTheDependents) {
  auto circuit = circuit_with_leaves({0.3, 0.6});
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  circuit.full_update();
  detail::CircuitAccess::leafs(circuit)[1].dependents = {0};
  ASSERT_TRUE(circuit.drop_leaf(1));
  EXPECT_EQ(circuit.structure().node_count(), 1u);
  EXPECT_EQ(products(circuit, 0), (std::vector<std::string>{"l0"}));
  EXPECT_TRUE(circuit.invalidated().empty());
  EXPECT_EQ(circuit.layers(), nullptr);
  EXPECT_TRUE(circuit.leafs()[1].dependents.empty());
}

TEST(LiftLeaf, FromARootMakesANewRootThatTakesOverTheTarget) {
  // N = l0·l1 + l2 (node 0) gets the parent P (1); W' = l2 (2) and W = l1 (3) replace N.
  auto circuit = circuit_with_leaves({0.3, 0.6, 0.2});
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}, {2}}, "t"));
  const double before = probability(circuit);
  ASSERT_TRUE(circuit.lift_leaf(0));

  EXPECT_FALSE(circuit.structure().contains_node(0));
  EXPECT_EQ(circuit.targets().at("t"), 1u);
  EXPECT_EQ(products(circuit, 1), (std::vector<std::string>{"n2", "l0*n3"}));
  EXPECT_EQ(products(circuit, 2), (std::vector<std::string>{"l2"}));
  EXPECT_EQ(products(circuit, 3), (std::vector<std::string>{"l1"}));
  for (const NodeIndex marked : {1u, 2u, 3u}) EXPECT_TRUE(circuit.invalidated().contains(marked));
  EXPECT_EQ(circuit.leafs()[0].dependents, (std::set<NodeIndex>{1}));
  EXPECT_EQ(circuit.leafs()[1].dependents, (std::set<NodeIndex>{1, 3}));
  EXPECT_TRUE(well_formed(circuit));
  EXPECT_NEAR(probability(circuit), before, 1e-12);
}

TEST(LiftLeaf, FromARootHoldingOnlyTheLeafLeavesJustTheLeaf) {
  auto circuit = circuit_with_leaves({0.3});
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  ASSERT_TRUE(circuit.lift_leaf(0));
  EXPECT_EQ(circuit.structure().node_count(), 1u);
  EXPECT_EQ(circuit.structure().edge_count(), 0u);
  const NodeIndex root = circuit.targets().at("t");
  EXPECT_EQ(products(circuit, root), (std::vector<std::string>{"l0"}));
  EXPECT_NEAR(probability(circuit), 0.3, 1e-12);
}

TEST(LiftLeaf, IntoAParentMintermCopiesItPerProduct) {
  // p = x·N with N = l + l·a: p becomes x·l + x·l·W with W = a; N goes.
  // With N = l + l (two equal products) p gets two equal minterms x·l.
  struct Case {
    SumProduct node;
    std::vector<std::string> parent;
    std::size_t nodes;
  };
  for (const Case& c :
       {Case{{{0}, {0, 1}}, {"l0*l2", "l0*l2*n2"}, 2}, Case{{{0}, {0}}, {"l0*l2", "l0*l2"}, 1}}) {
    auto circuit = circuit_with_leaves({0.3, 0.6, 0.2});
    ASSERT_TRUE(circuit.add_sum_product({{2}}, "t"));
    ASSERT_TRUE(circuit.add_sum_product(c.node, "n"));
    detail::CircuitAccess::targets(circuit).erase("n");
    circuit.connect(0, 1, 0);
    circuit.update_dependencies();
    const double before = probability(circuit);
    ASSERT_TRUE(circuit.lift_leaf(0));

    EXPECT_FALSE(circuit.structure().contains_node(1));
    EXPECT_EQ(products(circuit, 0), c.parent);
    if (circuit.structure().contains_node(2)) {
      EXPECT_EQ(products(circuit, 2), (std::vector<std::string>{"l1"}));
      EXPECT_TRUE(circuit.invalidated().contains(2));
    }
    EXPECT_EQ(circuit.structure().node_count(), c.nodes);
    EXPECT_TRUE(well_formed(circuit));
    EXPECT_NEAR(probability(circuit), before, 1e-12);
  }
}

TEST(LiftLeaf, RewritesEveryMintermThatReadsTheNode) {
  // p = l3·N + l4·N with N = l0·l1 + l2: both minterms keep N's factor.
  auto circuit = circuit_with_leaves({0.3, 0.6, 0.2, 0.7, 0.4});
  ASSERT_TRUE(circuit.add_sum_product({{3}, {4}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}, {2}}, "n"));
  detail::CircuitAccess::targets(circuit).erase("n");
  circuit.connect(0, 1, 0);
  const EdgeIndex edge = circuit.structure().outgoing(0).front();
  AlgebraicCircuit& parent = detail::CircuitAccess::structure(circuit).node(0);
  parent.insert_col(1, parent.memory_columns.at(edge));
  circuit.update_dependencies();
  const double before = probability(circuit);
  EXPECT_NEAR(before, (0.7 + 0.4) * (0.3 * 0.6 + 0.2), 1e-12);

  ASSERT_TRUE(circuit.lift_leaf(0));
  // W' = l2 is node 2, W = l1 is node 3; each is read through one edge.
  EXPECT_EQ(products(circuit, 0),
            (std::vector<std::string>{"l3*n2", "l4*n2", "l0*l3*n3", "l0*l4*n3"}));
  EXPECT_EQ(circuit.structure().outgoing(0).size(), 2u);
  EXPECT_TRUE(well_formed(circuit));
  EXPECT_NEAR(probability(circuit), before, 1e-12);
}

TEST(LiftLeaf, FromATargetWithParentsHandsItsTokenToANewParent) {
  // t = l0·N with N = l1 + l1·l2 under the token "n": N goes, and "n" must still report N's
  // value, also once a later node takes over N's freed index.
  auto circuit = circuit_with_leaves({0.3, 0.6, 0.2});
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{1}, {1, 2}}, "n"));
  circuit.connect(0, 1, 0);
  circuit.update_dependencies();
  const double before = probability(circuit, "n");
  ASSERT_TRUE(circuit.lift_leaf(1));

  EXPECT_FALSE(circuit.structure().contains_node(1));
  EXPECT_TRUE(well_formed(circuit));
  const NodeIndex holder = circuit.targets().at("n");
  EXPECT_EQ(products(circuit, holder), (std::vector<std::string>{"l1", "l1*n3"}));
  EXPECT_TRUE(circuit.invalidated().contains(holder));
  EXPECT_NEAR(probability(circuit, "t"), 0.3 * before, 1e-12);
  EXPECT_NEAR(probability(circuit, "n"), before, 1e-12);
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "u"));
  EXPECT_NEAR(probability(circuit, "n"), before, 1e-12);
}

TEST(Restructure, RefusesALeafOutsideTheLeavesBeforeChangingAnything) {
  auto circuit = circuit_with_leaves({0.3});
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  circuit.full_update();
  const std::string dot = circuit.to_dot_text();
  for (const auto& result : {circuit.drop_leaf(1), circuit.lift_leaf(7)}) {
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message().find("outside the circuit's 1 leaves"), std::string::npos);
  }
  EXPECT_EQ(circuit.to_dot_text(), dot);
  EXPECT_NE(circuit.layers(), nullptr);
  EXPECT_TRUE(circuit.invalidated().empty());
}

TEST(LiftLeaf, AbortsOnALeafColumnThatNoMintermUses) {
  auto circuit = circuit_with_leaves({0.3, 0.6});
  ASSERT_TRUE(circuit.add_sum_product({{1}}, "t"));
  detail::CircuitAccess::structure(circuit).node(0).ensure_leaf(0);
  circuit.update_dependencies();
  EXPECT_PANIC((void)circuit.lift_leaf(0), "in_scope must exist");
}

// Property: from one node holding a random sum of products, now and then with a child that
// several of its products read, no sequence of drops, lifts and
// adaptations, interleaved with leaf updates, changes what a target evaluates to, and the
// incremental update agrees with the full one after every change.

template <Semiring S>
class RestructureProperty : public testing::Test {};
TYPED_TEST_SUITE(RestructureProperty, AllSemirings, SemiringNames);

Value random_value(std::mt19937_64& rng, std::size_t size) {
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, 9);
  std::vector<double> entries(size);
  for (double& entry : entries) {
    const int p = pick(rng);
    entry = p == 0 ? 0.0 : p == 1 ? 1.0 : uniform(rng);
  }
  return Value(entries);
}

testing::AssertionResult agree(const UpdateResult& expected, const UpdateResult& actual) {
  for (const auto& [token, value] : actual) {
    const auto found = expected.find(token);
    if (found == expected.end()) return testing::AssertionFailure() << "unknown token " << token;
    if (found->second.size() != value.size()) {
      return testing::AssertionFailure() << token << ": length " << value.size();
    }
    for (std::size_t k = 0; k < value.size(); ++k) {
      const double want = found->second[k];
      if (!(std::abs(value[k] - want) <= 1e-12 * std::max(1.0, std::abs(want)))) {
        return testing::AssertionFailure()
               << token << "[" << k << "]: expected " << want << ", got " << value[k];
      }
    }
  }
  return testing::AssertionSuccess();
}

TYPED_TEST(RestructureProperty, KeepsEveryTargetValue) {
  using S = TypeParam;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> frequencies{0.0, 0.4, 1.2, 2.5, 7.0, nan, inf};

  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937_64 rng(seed);
    const auto draw = [&](std::size_t low, std::size_t high) {
      return std::uniform_int_distribution<std::size_t>(low, high)(rng);
    };

    const std::size_t leaves = draw(1, 6);
    const std::size_t value_size = std::same_as<S, ProbGradient> ? leaves + 1 : 3;
    ReactiveCircuit<S> circuit(value_size);
    for (std::size_t i = 0; i < leaves; ++i) {
      ASSERT_TRUE(circuit.add_leaf(random_value(rng, value_size), "x" + std::to_string(i), 0.0));
    }
    // Products over the leaves from `first` on.
    const auto random_sum = [&](std::uint32_t first) {
      SumProduct sum(draw(1, 6));
      for (auto& product : sum) {
        for (std::uint32_t leaf = first; leaf < leaves; ++leaf) {
          if (draw(0, 4) < 2) product.push_back(leaf);
        }
        std::ranges::shuffle(product, rng);
      }
      return sum;
    };
    SumProduct sum = random_sum(0);
    std::optional<SumProduct> shared;
    std::vector<std::size_t> readers;
    if (seed % 2 == 0) {
      // A child that several products read, as every product that closes a cause reads the
      // cause's node; over leaves that its readers do not hold, as a closed cause's are.
      const auto first = static_cast<std::uint32_t>(draw(0, leaves - 1));
      shared = random_sum(first);
      for (std::size_t m = 0; m < sum.size(); ++m) {
        if (m > 0 && draw(0, 1) == 0) continue;
        readers.push_back(m);
        std::erase_if(sum[m], [&](std::uint32_t leaf) { return leaf >= first; });
      }
    }
    ASSERT_TRUE(circuit.add_sum_product(sum, "t"));
    if (shared) {
      auto& graph = detail::CircuitAccess::structure(circuit);
      AlgebraicCircuit child(value_size);
      child.add_sum_product(*shared);
      circuit.connect(0, graph.add_node(std::move(child)), readers[0]);
      const std::size_t column = graph.node(0).memory_columns.begin()->second;
      for (const std::size_t m : readers) graph.node(0).insert_col(m, column);
      circuit.update_dependencies();
      circuit.invalidate();
    }
    UpdateResult expected = circuit.full_update();
    double timestamp = 1.0;

    for (int step = 0; step < 40 && circuit.structure().node_count() < 2000; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      const auto chosen = static_cast<std::uint32_t>(draw(0, leaves - 1));
      switch (draw(0, 3)) {
        case 0:
          ASSERT_TRUE(circuit.drop_leaf(chosen));
          break;
        case 1:
          ASSERT_TRUE(circuit.lift_leaf(chosen));
          break;
        case 2:
          for (auto& l : detail::CircuitAccess::leafs(circuit))
            l.frequency = frequencies[draw(0, frequencies.size() - 1)];
          testing::internal::CaptureStdout();
          ASSERT_TRUE(circuit.adapt(1.0, draw(0, 4)));
          testing::internal::GetCapturedStdout();
          ASSERT_EQ(circuit.partition().size(), leaves);
          break;
        default: {
          ASSERT_TRUE(leaf::update(circuit, chosen, random_value(rng, value_size), timestamp++));
          const UpdateResult incremental = circuit.update();
          expected = ReactiveCircuit<S>(circuit).full_update();
          ASSERT_TRUE(agree(expected, incremental)) << circuit.to_dot_text();
          continue;
        }
      }
      ASSERT_TRUE(well_formed(circuit)) << circuit.to_dot_text();
      // The full update runs on a copy, so that later incremental updates rely on the marks the
      // restructuring left.
      const UpdateResult after = ReactiveCircuit<S>(circuit).full_update();
      ASSERT_EQ(after.size(), expected.size());
      ASSERT_TRUE(agree(expected, after)) << circuit.to_dot_text();
    }
  }
}

}  // namespace
}  // namespace talvo
