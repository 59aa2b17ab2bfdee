#include "talvo/circuit/algebraic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "circuit/algebraic_evaluate.hpp"
#include "semirings.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/panic.hpp"
#include "talvo/core/value.hpp"

namespace talvo {
namespace {

using Map = std::unordered_map<std::uint32_t, std::size_t>;

constexpr Column leaf_col(std::uint32_t id) {
  return {ColumnKind::Leaf, id};
}
constexpr Column memory_col(std::uint32_t id) {
  return {ColumnKind::Memory, id};
}

// Columns [(Leaf, 3), (Leaf, 1), (Memory, 7)], minterms [[0, 1], [1, 2], [2]].
AlgebraicCircuit three_columns() {
  AlgebraicCircuit circuit(2);
  circuit.add_sum_product({{3, 1}});
  circuit.create_memory(7);
  circuit.push_minterm({1, 2});
  circuit.push_minterm({2});
  return circuit;
}

TEST(AlgebraicCircuitBuild, AddSumProductMapsLeavesInOrderOfFirstAppearance) {
  AlgebraicCircuit circuit(4);
  circuit.add_sum_product({{3, 1, 3}});
  EXPECT_EQ(circuit.columns, (std::vector{leaf_col(3), leaf_col(1)}));
  EXPECT_EQ(circuit.leaf_columns, (Map{{3, 0}, {1, 1}}));
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0, 1}}));

  circuit.add_sum_product({{1, 5}, {}});
  EXPECT_EQ(circuit.columns, (std::vector{leaf_col(3), leaf_col(1), leaf_col(5)}));
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0, 1}, {1, 2}, {}}));

  circuit.add_sum_product({});
  EXPECT_EQ(circuit.minterms.size(), 3u);
  EXPECT_EQ(circuit.value_size, 4u);
}

TEST(AlgebraicCircuitBuild, EnsureLeafAndCreateMemoryReuseTheirColumns) {
  AlgebraicCircuit circuit;
  EXPECT_EQ(circuit.ensure_leaf(4), 0u);
  EXPECT_EQ(circuit.create_memory(4), 1u);
  EXPECT_EQ(circuit.ensure_leaf(4), 0u);
  EXPECT_EQ(circuit.create_memory(4), 1u);
  EXPECT_EQ(circuit.columns, (std::vector{leaf_col(4), memory_col(4)}));
  EXPECT_EQ(circuit.memory_columns, (Map{{4, 1}}));
}

TEST(AlgebraicCircuitBuild, PushMintermSortsDeduplicatesAndKeepsEqualMinterms) {
  AlgebraicCircuit circuit;
  circuit.add_sum_product({{0, 1, 2}});
  EXPECT_EQ(circuit.push_minterm({2, 0, 2}), 1u);
  EXPECT_EQ(circuit.push_minterm({2, 0, 2}), 2u);
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0, 1, 2}, {0, 2}, {0, 2}}));
  EXPECT_THROW(circuit.push_minterm({0, 3}), Panic);
  EXPECT_EQ(circuit.minterms.size(), 3u);
}

TEST(AlgebraicCircuitBuild, MintermsContainingColAndInsertCol) {
  AlgebraicCircuit circuit = three_columns();
  EXPECT_EQ(circuit.minterms_containing_col(1), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(circuit.minterms_containing_col(2), (std::vector<std::size_t>{1, 2}));
  EXPECT_TRUE(AlgebraicCircuit{}.minterms_containing_col(0).empty());

  circuit.insert_col(2, 0);
  circuit.insert_col(2, 2);
  circuit.insert_col(0, 2);
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0, 1, 2}, {1, 2}, {0, 2}}));
  EXPECT_THROW(circuit.insert_col(3, 0), Panic);
  EXPECT_THROW(circuit.insert_col(0, 3), Panic);
}

TEST(AlgebraicCircuitRemove, RemoveColInnerRenumbersAndKeepsEmptiedMinterms) {
  AlgebraicCircuit circuit = three_columns();
  circuit.remove_col_inner(1);
  EXPECT_EQ(circuit.columns, (std::vector{leaf_col(3), memory_col(7)}));
  EXPECT_EQ(circuit.leaf_columns, (Map{{3, 0}}));
  EXPECT_EQ(circuit.memory_columns, (Map{{7, 1}}));
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0}, {1}, {1}}));

  circuit.remove_col(0);
  EXPECT_EQ(circuit.columns, (std::vector{memory_col(7)}));
  EXPECT_TRUE(circuit.leaf_columns.empty());
  EXPECT_EQ(circuit.memory_columns, (Map{{7, 0}}));
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{0}, {0}}));

  circuit.remove_col_inner(0);
  EXPECT_TRUE(circuit.columns.empty());
  EXPECT_TRUE(circuit.memory_columns.empty());
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{}, {}}));
  EXPECT_THROW(circuit.remove_col_inner(0), Panic);
  EXPECT_THROW(circuit.remove_col(0), Panic);
}

TEST(AlgebraicCircuitRemove, RemoveColKeepsMintermsThatWereAlreadyEmpty) {
  // 1 + a + a·b: removing a must keep the empty product and drop only the minterm [a].
  AlgebraicCircuit circuit;
  circuit.add_sum_product({{}, {0}, {0, 1}, {1}});
  circuit.remove_col(0);
  EXPECT_EQ(circuit.columns, (std::vector{leaf_col(1)}));
  EXPECT_EQ(circuit.leaf_columns, (Map{{1, 0}}));
  EXPECT_EQ(circuit.minterms, (std::vector<Minterm>{{}, {0}, {0}}));
}

TEST(AlgebraicCircuitRemove, RemapMemoryMovesTheColumnToTheNewEdge) {
  AlgebraicCircuit circuit = three_columns();
  circuit.remap_memory(2, 7, 9);
  EXPECT_EQ(circuit.columns[2], memory_col(9));
  EXPECT_EQ(circuit.memory_columns, (Map{{9, 2}}));

  // An old edge that was never mapped: the column is just overwritten.
  circuit.remap_memory(2, 5, 11);
  EXPECT_EQ(circuit.columns[2], memory_col(11));
  EXPECT_EQ(circuit.memory_columns, (Map{{9, 2}, {11, 2}}));
  EXPECT_THROW(circuit.remap_memory(3, 7, 9), Panic);
}

// Columns [(Leaf, 3), (Leaf, 1), (Memory, 7), (Leaf, 9)].
AlgebraicCircuit four_columns() {
  AlgebraicCircuit circuit(5);
  circuit.ensure_leaf(3);
  circuit.ensure_leaf(1);
  circuit.create_memory(7);
  circuit.ensure_leaf(9);
  return circuit;
}

TEST(AlgebraicCircuitParts, SubCircuitKeepsOnlyUsedColumnsRenumbered) {
  AlgebraicCircuit circuit = four_columns();
  const Minterm first{1, 3};
  const Minterm second{3};
  const auto part = circuit.sub_circuit({&first, &second});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->columns, (std::vector{leaf_col(1), leaf_col(9)}));
  EXPECT_EQ(part->leaf_columns, (Map{{1, 0}, {9, 1}}));
  EXPECT_TRUE(part->memory_columns.empty());
  EXPECT_EQ(part->minterms, (std::vector<Minterm>{{0, 1}, {1}}));
  EXPECT_EQ(part->value_size, 5u);

  // The chosen order is kept; a memory column is carried with its map entry.
  const Minterm with_memory{0, 2};
  const auto reordered = circuit.sub_circuit({&second, &with_memory});
  ASSERT_TRUE(reordered);
  EXPECT_EQ(reordered->columns, (std::vector{leaf_col(3), memory_col(7), leaf_col(9)}));
  EXPECT_EQ(reordered->memory_columns, (Map{{7, 1}}));
  EXPECT_EQ(reordered->minterms, (std::vector<Minterm>{{2}, {0, 1}}));

  EXPECT_FALSE(circuit.sub_circuit({}));
  const Minterm empty;
  const auto empties = circuit.sub_circuit({&empty, &empty});
  ASSERT_TRUE(empties);
  EXPECT_TRUE(empties->columns.empty());
  EXPECT_EQ(empties->minterms, (std::vector<Minterm>{{}, {}}));

  const Minterm dangling{4};
  EXPECT_THROW(circuit.sub_circuit({&dangling}), Panic);
}

TEST(AlgebraicCircuitParts, SplitSeparatesTheMintermsHoldingTheLeaf) {
  AlgebraicCircuit circuit = four_columns();
  circuit.push_minterm({0, 2});
  circuit.push_minterm({1});
  circuit.push_minterm({0, 3});
  circuit.push_minterm({});
  const AlgebraicCircuit before = circuit;

  auto [with_leaf, without_leaf] = circuit.split(3);
  ASSERT_TRUE(with_leaf && without_leaf);
  EXPECT_EQ(with_leaf->columns, (std::vector{leaf_col(3), memory_col(7), leaf_col(9)}));
  EXPECT_EQ(with_leaf->minterms, (std::vector<Minterm>{{0, 1}, {0, 2}}));
  EXPECT_EQ(without_leaf->columns, (std::vector{leaf_col(1)}));
  EXPECT_EQ(without_leaf->minterms, (std::vector<Minterm>{{0}, {}}));
  EXPECT_EQ(circuit.minterms, before.minterms);
  EXPECT_EQ(circuit.columns, before.columns);

  // A leaf whose column no minterm uses.
  circuit.ensure_leaf(20);
  auto [unused, whole] = circuit.split(20);
  EXPECT_FALSE(unused);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->columns, before.columns);
  EXPECT_EQ(whole->minterms, before.minterms);

  auto [none, nothing] = circuit.split(42);
  EXPECT_FALSE(none);
  EXPECT_FALSE(nothing);
}

TEST(AlgebraicCircuitDot, MatrixRowsAreMinterms) {
  AlgebraicCircuit circuit;
  const std::string header = "digraph AlgebraicCircuit {\n  node [shape=record];\n";
  EXPECT_EQ(circuit.to_dot_text(), header + "  matrix [label=\"{}\" shape=record];\n}\n");

  circuit.add_sum_product({{4, 7}});
  circuit.create_memory(1);
  circuit.push_minterm({2});
  EXPECT_EQ(circuit.to_dot_text(),
            header + "  matrix [label=\"{L4\u00B7L7 | M1}\" shape=record];\n}\n");

  circuit.push_minterm({});
  EXPECT_EQ(circuit.to_dot_text(),
            header + "  matrix [label=\"{L4\u00B7L7 | M1 | }\" shape=record];\n}\n");

  circuit.minterms.push_back({3});
  EXPECT_THROW(circuit.to_dot_text(), Panic);
}

// Evaluation.

// The vectors a circuit's columns read: leaves by index, memories by edge index.
struct Inputs {
  std::vector<Value> leaves{};
  std::unordered_map<std::uint32_t, Value> memories{};
  mutable std::vector<Column> resolved{};

  auto resolver() const {
    return [this](const Column& column) -> std::span<const double> {
      resolved.push_back(column);
      if (column.kind == ColumnKind::Leaf) return leaves.at(column.id).span();
      return memories.at(column.id).span();
    };
  }
};

template <class S>
class AlgebraicEvaluate : public testing::Test {};
TYPED_TEST_SUITE(AlgebraicEvaluate, AllSemirings, SemiringNames);

TYPED_TEST(AlgebraicEvaluate, NoMintermsGivesZeroWithoutResolvingColumns) {
  using S = TypeParam;
  AlgebraicCircuit circuit(3);
  circuit.ensure_leaf(0);
  circuit.create_memory(9);  // names no edge that exists
  const Inputs inputs{.leaves = {S::zero(3)}};
  const Value result = detail::evaluate<S>(circuit, inputs.resolver());
  EXPECT_EQ(result.to_vector(), S::zero(3).to_vector());
  EXPECT_TRUE(inputs.resolved.empty());
}

TYPED_TEST(AlgebraicEvaluate, EmptyMintermGivesOneAfterResolvingEveryColumnOnce) {
  using S = TypeParam;
  AlgebraicCircuit circuit(3);
  circuit.ensure_leaf(1);
  circuit.create_memory(4);
  circuit.ensure_leaf(0);
  circuit.push_minterm({});
  const Inputs inputs{.leaves = {S::zero(3), S::zero(3)}, .memories = {{4, S::zero(3)}}};
  const Value result = detail::evaluate<S>(circuit, inputs.resolver());
  EXPECT_EQ(result.to_vector(), S::one(3).to_vector());
  EXPECT_EQ(inputs.resolved, (std::vector{leaf_col(1), memory_col(4), leaf_col(0)}));
}

TYPED_TEST(AlgebraicEvaluate, MintermColumnOutsideTheColumnsAborts) {
  using S = TypeParam;
  AlgebraicCircuit circuit(3);
  circuit.add_sum_product({{0}});
  circuit.minterms.push_back({0, 1});  // a column that does not exist
  const Inputs inputs{.leaves = {S::one(3)}};
  EXPECT_THROW(detail::evaluate<S>(circuit, inputs.resolver()), Panic);
}

TYPED_TEST(AlgebraicEvaluate, OperandOfAnUnacceptableLengthAborts) {
  using S = TypeParam;
  AlgebraicCircuit circuit(3);
  circuit.add_sum_product({{0, 1}});
  const Inputs inputs{.leaves = {S::one(3), Value{0.5, 0.5}}};
  EXPECT_THROW(detail::evaluate<S>(circuit, inputs.resolver()), Panic);
}

TYPED_TEST(AlgebraicEvaluate, MemoryAloneIsPassedOn) {
  using S = TypeParam;
  AlgebraicCircuit parent(2);
  parent.push_minterm({parent.create_memory(0)});
  const Value child = S::encode_leaf_vec(std::vector{0.3, 1.0}, 0);
  const Inputs inputs{.memories = {{0, child}}};
  const Value result = detail::evaluate<S>(parent, inputs.resolver());
  for (std::size_t i = 0; i < 2; ++i) EXPECT_NEAR(result[i], child[i], 1e-12) << i;
}

TEST(AlgebraicEvaluateExamples, LogProbSumsAndMaxProductTakesTheLargest) {
  AlgebraicCircuit circuit(1);
  circuit.add_sum_product({{0}, {1}});
  const Inputs inputs{.leaves = {Value{std::log(0.25)}, Value{std::log(0.25)}}};
  EXPECT_NEAR(detail::evaluate<LogProb>(circuit, inputs.resolver())[0], std::log(0.5), 1e-12);
  EXPECT_NEAR(detail::evaluate<MaxProduct>(circuit, inputs.resolver())[0], std::log(0.25), 1e-12);
}

TEST(AlgebraicEvaluateExamples, FuzzyAndBoolean) {
  AlgebraicCircuit circuit(1);
  circuit.add_sum_product({{0, 1}, {2}});
  const Inputs fuzzy{.leaves = {Value{0.7}, Value{0.4}, Value{0.5}}};
  EXPECT_EQ(detail::evaluate<Fuzzy>(circuit, fuzzy.resolver())[0], 0.5);
  const Inputs boolean{.leaves = {Value{1.0}, Value{0.0}, Value{1.0}}};
  EXPECT_EQ(detail::evaluate<Boolean>(circuit, boolean.resolver())[0], 1.0);

  AlgebraicCircuit single(1);
  single.add_sum_product({{0}});
  const Inputs negative{.leaves = {Value{-0.2}}};
  EXPECT_EQ(detail::evaluate<Fuzzy>(single, negative.resolver())[0], 0.0);
}

TEST(AlgebraicEvaluateExamples, ProbGradientCarriesTheDerivatives) {
  AlgebraicCircuit circuit(4);
  circuit.add_sum_product({{0, 1}, {2}});
  const Inputs inputs{.leaves = {Value{0.5, 1, 0, 0}, Value{0.25, 0, 1, 0}, Value{0.125, 0, 0, 1}}};
  EXPECT_EQ(detail::evaluate<ProbGradient>(circuit, inputs.resolver()).to_vector(),
            (std::vector{0.25, 0.25, 0.5, 1.0}));
}

TEST(AlgebraicEvaluateExamples, LogProbBroadcastsAOneEntryOperand) {
  AlgebraicCircuit circuit(3);
  circuit.add_sum_product({{0, 1}});
  const double half = std::log(0.5);
  const Inputs inputs{.leaves = {Value{half}, Value{std::log(0.2), std::log(0.4), std::log(0.8)}}};
  const Value result = detail::evaluate<LogProb>(circuit, inputs.resolver());
  EXPECT_NEAR(result[0], half + std::log(0.2), 1e-12);
  EXPECT_NEAR(result[1], half + std::log(0.4), 1e-12);
  EXPECT_NEAR(result[2], half + std::log(0.8), 1e-12);
}

}  // namespace
}  // namespace talvo
