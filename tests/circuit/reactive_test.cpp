#include "talvo/circuit/reactive.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "expect_panic.hpp"
#include "semirings.hpp"

namespace talvo {
namespace {

template <class S>
class ReactiveStructureTest : public ::testing::Test {};

TYPED_TEST_SUITE(ReactiveStructureTest, AllSemirings, SemiringNames);

template <class S>
ReactiveCircuit<S> with_leaves(std::size_t count, std::size_t value_size = 2) {
  ReactiveCircuit<S> circuit(value_size);
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(circuit.add_leaf(Value(value_size, 0.5), "l" + std::to_string(i), 0.0));
  }
  return circuit;
}

TEST(ReactiveStructure, NewChecksValueSize) {
  EXPECT_PANIC(ReactiveCircuit<LogProb> broken(0),
               "value_size needs to be positive integer greater than 0!");
  const ReactiveCircuit<LogProb> circuit(4);
  EXPECT_EQ(circuit.structure().node_count(), 0u);
  EXPECT_TRUE(circuit.leafs().empty());
  EXPECT_TRUE(circuit.invalidated().empty());
  EXPECT_TRUE(circuit.targets().empty());
  EXPECT_TRUE(circuit.partition().empty());
  EXPECT_EQ(circuit.layers(), nullptr);
  EXPECT_EQ(circuit.value_size(), 4u);
  EXPECT_EQ(circuit.update_threshold, 0.001);
}

TEST(ReactiveStructure, RefusedEntriesLeaveTheCircuitUsable) {
  const SharedCircuit<ProbGradient> circuit = make_shared_circuit<ProbGradient>(3);
  {
    auto locked = circuit->lock();
    ASSERT_TRUE(locked->add_leaf(Value{0.5}, "a", 0.0));
    ASSERT_TRUE(locked->add_leaf(Value{0.25}, "b", 0.0));
    ASSERT_TRUE(locked->add_sum_product({{0, 1}}, "t"));
    ASSERT_EQ(locked->full_gradient_update()->at("t").probability, 0.125);
    // A leaf added by hand: the results keep three entries where gradients now need four.
    ASSERT_TRUE(locked->add_leaf(Value{0.5}, "c", 0.0));
  }

  const auto refusal = [](const auto& result) {
    return result ? std::string("accepted") : result.error().message();
  };
  const std::size_t too_many = std::size_t{1} << 50;  // 8 PiB of doubles
  EXPECT_PANIC(const ReactiveCircuit<ProbGradient> made(too_many),
               "value_size 1125899906842624 is too large: a value vector of that many entries "
               "cannot be allocated");
  const struct {
    std::function<std::string()> entry;
    std::string message;
  } refused[] = {
      {[&] { return refusal(detail::allocatable_value_size(SIZE_MAX)); },
       "value_size 18446744073709551615 is too large: a value vector of that many entries cannot "
       "be allocated"},
      {[&] { return refusal(circuit->lock()->adapt(1.0, SIZE_MAX)); },
       "number_bins 18446744073709551615 is too large: its bin boundaries cannot be allocated"},
      {[&] { return refusal(circuit->lock()->adapt(0.0, 3)); },
       "bin_size must be a finite number of changes per second above 0, got 0.000000"},
      {[&] { return refusal(circuit->lock()->adapt(std::nan(""), 3)); },
       "bin_size must be a finite number of changes per second above 0, got nan"},
      {[&] { return refusal(circuit->lock()->gradient_update()); },
       "target 't' has results of 3 entries, but gradients by 3 leaves need 4"},
      {[&] { return refusal(circuit->lock()->full_gradient_update()); },
       "target 't' has results of 3 entries, but gradients by 3 leaves need 4"},
  };
  for (const auto& row : refused) EXPECT_EQ(row.entry(), row.message);

  // Not poisoned, nothing moved: the product and its derivatives by a and b.
  auto locked = circuit->lock();
  EXPECT_EQ(locked->full_update().at("t"), (Value{0.125, 0.25, 0.5}));
  testing::internal::CaptureStdout();
  EXPECT_TRUE(locked->adapt(1.0, 3));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[0, 0, 0]\n");
}

TYPED_TEST(ReactiveStructureTest, AddLeafChecksLengthLikeALeafUpdate) {
  using S = TypeParam;
  ReactiveCircuit<S> circuit(3);
  EXPECT_EQ(circuit.add_leaf(Value{0.5, 0.5, 0.5}, "a", 2.0), 0u);
  EXPECT_EQ(circuit.add_leaf(Value{0.5}, "b", 0.0), 1u);
  const Value unusable = std::is_same_v<S, ProbGradient> ? Value{} : Value{0.5, 0.5};
  EXPECT_FALSE(circuit.add_leaf(unusable, "c", 0.0).has_value());
  ASSERT_EQ(circuit.leafs().size(), 2u);
  EXPECT_EQ(circuit.leafs()[0].name, "a");
  EXPECT_EQ(circuit.leafs()[0].frequency, 2.0);
  EXPECT_EQ(circuit.leafs()[1].index, 1u);
  // ProbGradient pads a short input as a leaf update does, so the leaf can be evaluated.
  const std::size_t stored = std::is_same_v<S, ProbGradient> ? 3 : 1;
  EXPECT_EQ(circuit.leafs()[1].value.size(), stored);
}

TYPED_TEST(ReactiveStructureTest, AddSumProductMakesOneNodePerToken) {
  using S = TypeParam;
  auto circuit = with_leaves<S>(3);
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{1}, {}}, "t"));
  ASSERT_TRUE(circuit.add_sum_product({{0, 1}}, "u"));
  ASSERT_EQ(circuit.structure().node_count(), 2u);
  const NodeIndex t = circuit.targets().at("t");
  const NodeIndex u = circuit.targets().at("u");
  EXPECT_NE(t, u);
  EXPECT_EQ(circuit.structure().node(t).minterms.size(), 3u);
  EXPECT_EQ(circuit.structure().node(t).value_size, 2u);
  EXPECT_EQ(circuit.invalidated(), (std::unordered_set<NodeIndex>{t, u}));
  EXPECT_EQ(circuit.leafs()[0].dependents, (std::set<NodeIndex>{t, u}));
  EXPECT_EQ(circuit.leafs()[1].dependents, (std::set<NodeIndex>{t, u}));
  EXPECT_TRUE(circuit.leafs()[2].dependents.empty());
}

TYPED_TEST(ReactiveStructureTest, EmptySumStillMakesAndMarksTheNode) {
  using S = TypeParam;
  ReactiveCircuit<S> circuit(2);
  ASSERT_TRUE(circuit.add_sum_product({}, "t"));
  ASSERT_EQ(circuit.targets().count("t"), 1u);
  EXPECT_TRUE(circuit.structure().node(circuit.targets().at("t")).minterms.empty());
  EXPECT_EQ(circuit.invalidated().size(), 1u);
}

TYPED_TEST(ReactiveStructureTest, LeafOutsideTheLeavesIsRefusedBeforeAnythingChanges) {
  using S = TypeParam;
  auto circuit = with_leaves<S>(2);
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "t"));
  circuit.update();
  ASSERT_NE(circuit.layers(), nullptr);

  const auto refused = circuit.add_sum_product({{1}, {0, 2}}, "u");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "leaf index 2 is outside the circuit's 2 leaves");
  EXPECT_FALSE(circuit.add_sum_product({{5}}, "t").has_value());
  EXPECT_EQ(circuit.structure().node_count(), 1u);
  EXPECT_EQ(circuit.targets().size(), 1u);
  EXPECT_EQ(circuit.structure().node(circuit.targets().at("t")).minterms.size(), 1u);
  EXPECT_TRUE(circuit.invalidated().empty());
  EXPECT_NE(circuit.layers(), nullptr);
  EXPECT_TRUE(circuit.leafs()[1].dependents.empty());

  ASSERT_TRUE(circuit.add_sum_product({{1}}, "u"));
  EXPECT_EQ(circuit.full_update().size(), 2u);
}

TYPED_TEST(ReactiveStructureTest, ConnectAddsAZeroMemoryAtItsSortedPlace) {
  using S = TypeParam;
  auto circuit = with_leaves<S>(2, 3);
  ASSERT_TRUE(circuit.add_sum_product({{0}, {0, 1}}, "p"));
  ASSERT_TRUE(circuit.add_sum_product({{1}}, "c"));
  const NodeIndex p = circuit.targets().at("p");
  const NodeIndex c = circuit.targets().at("c");
  circuit.update();

  circuit.connect(p, c, 0);
  EXPECT_EQ(circuit.layers(), nullptr);
  ASSERT_EQ(circuit.structure().outgoing(p).size(), 1u);
  const EdgeIndex edge = circuit.structure().outgoing(p)[0];
  EXPECT_EQ(circuit.structure().target(edge), c);
  EXPECT_EQ(circuit.structure().edge(edge).to_vector(), S::zero(3).to_vector());
  const AlgebraicCircuit& parent = circuit.structure().node(p);
  const std::size_t column = parent.memory_columns.at(edge);
  EXPECT_EQ(column, 2u);
  EXPECT_EQ(parent.minterms[0], (Minterm{0, 2}));
  EXPECT_EQ(parent.minterms[1], (Minterm{0, 1}));
}

TEST(ReactiveStructure, ConnectRefusesBadEndpointsAndMintermsBeforeChanging) {
  auto circuit = with_leaves<Fuzzy>(1);
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "p"));
  ASSERT_TRUE(circuit.add_sum_product({{0}}, "c"));
  EXPECT_THROW(circuit.connect(0, 9, 0), Panic);
  EXPECT_THROW(circuit.connect(9, 0, 0), Panic);
  EXPECT_THROW(circuit.connect(0, 1, 1), Panic);
  EXPECT_EQ(circuit.structure().edge_count(), 0u);
  EXPECT_TRUE(circuit.structure().node(0).memory_columns.empty());
}

TEST(ReactiveStructure, InvalidateMarksEveryNodeAndRejectsCycles) {
  ReactiveCircuit<LogProb> empty(1);
  empty.invalidate();
  EXPECT_TRUE(empty.invalidated().empty());

  auto circuit = with_leaves<LogProb>(1);
  for (const char* token : {"a", "b", "c"}) ASSERT_TRUE(circuit.add_sum_product({{0}}, token));
  circuit.connect(0, 1, 0);
  detail::CircuitAccess::invalidated(circuit).clear();
  circuit.invalidate();
  EXPECT_EQ(circuit.invalidated(), (std::unordered_set<NodeIndex>{0, 1, 2}));

  circuit.connect(1, 0, 0);
  EXPECT_PANIC(circuit.invalidate(), "ReactiveCircuit should be a DAG");
}

TEST(ReactiveStructure, DependentsOfAChainAndADiamond) {
  // Chain a -> b -> c: x used by c only, y by a only, z by nobody.
  auto chain = with_leaves<LogProb>(3);
  ASSERT_TRUE(chain.add_sum_product({{1}}, "a"));
  ASSERT_TRUE(chain.add_sum_product({{}}, "b"));
  ASSERT_TRUE(chain.add_sum_product({{0}}, "c"));
  chain.connect(0, 1, 0);
  chain.connect(1, 2, 0);
  detail::CircuitAccess::leafs(chain)[2].dependents = {0, 1};
  chain.update_dependencies();
  EXPECT_EQ(chain.leafs()[0].dependents, (std::set<NodeIndex>{0, 1, 2}));
  EXPECT_EQ(chain.leafs()[1].dependents, (std::set<NodeIndex>{0}));
  EXPECT_TRUE(chain.leafs()[2].dependents.empty());

  // Diamond a -> b, a -> c, b -> d, c -> d with the leaf used by d.
  auto diamond = with_leaves<LogProb>(1);
  for (const char* token : {"a", "b", "c"}) ASSERT_TRUE(diamond.add_sum_product({{}}, token));
  ASSERT_TRUE(diamond.add_sum_product({{0}}, "d"));
  diamond.connect(0, 1, 0);
  diamond.connect(0, 2, 0);
  diamond.connect(1, 3, 0);
  diamond.connect(2, 3, 0);
  diamond.update_dependencies();
  EXPECT_EQ(diamond.leafs()[0].dependents, (std::set<NodeIndex>{0, 1, 2, 3}));

  ReactiveCircuit<LogProb> leafless(1);
  ASSERT_TRUE(leafless.add_sum_product({{}}, "t"));
  leafless.update_dependencies();
  EXPECT_TRUE(leafless.leafs().empty());
}

}  // namespace
}  // namespace talvo
