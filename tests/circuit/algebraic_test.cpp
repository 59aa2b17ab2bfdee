#include "circuit/algebraic.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/panic.hpp"

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

}  // namespace
}  // namespace talvo
