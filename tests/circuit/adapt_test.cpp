#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/circuit/semiring.hpp"

namespace talvo {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Root t = x0·x1·x2 + x1·x2: every leaf stands in a product, so every move shows in the DOT text.
ReactiveCircuit<LogProb> three_leaves() {
  ReactiveCircuit<LogProb> circuit(1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(circuit.add_leaf(Value{0.5}, "x" + std::to_string(i), 0.0));
  }
  EXPECT_TRUE(circuit.add_sum_product({{0, 1, 2}, {1, 2}}, "t"));
  return circuit;
}

std::string adapt(ReactiveCircuit<LogProb>& circuit, const std::vector<double>& frequencies,
                  std::size_t number_bins = 3) {
  for (std::size_t i = 0; i < frequencies.size(); ++i)
    detail::CircuitAccess::leafs(circuit)[i].frequency = frequencies[i];
  testing::internal::CaptureStdout();
  EXPECT_TRUE(circuit.adapt(1.0, number_bins));
  return testing::internal::GetCapturedStdout();
}

TEST(Adapt, FirstDropsEachLeafByItsNumberThenMovesByTheChange) {
  auto circuit = three_leaves();
  auto reference = three_leaves();

  // Bins [0, 0, 3]: the fastest leaf stays on top, the others go one level down.
  EXPECT_EQ(adapt(circuit, {0.0, 0.0, 5.0}), "[1, 1, 0]\n");
  ASSERT_TRUE(reference.drop_leaf(0));
  ASSERT_TRUE(reference.drop_leaf(1));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());
  EXPECT_EQ(circuit.partition(), (std::vector<std::size_t>{1, 1, 0}));

  // Leaf 0 falls from 1 to 0 and is lifted, leaf 1 stays, leaf 2 rises to 1 and is dropped.
  EXPECT_EQ(adapt(circuit, {5.0, 0.0, 0.0}), "[0, 1, 1]\n");
  ASSERT_TRUE(reference.lift_leaf(0));
  ASSERT_TRUE(reference.drop_leaf(2));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());
  EXPECT_EQ(circuit.partition(), (std::vector<std::size_t>{0, 1, 1}));

  // The same frequencies again move nothing.
  EXPECT_EQ(adapt(circuit, {5.0, 0.0, 0.0}), "[0, 1, 1]\n");
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());

  // t += x3: a leaf added since the last adaptation stands at level 0 and is moved from there.
  for (auto* c : {&circuit, &reference}) {
    ASSERT_TRUE(c->add_leaf(Value{0.5}, "x3", 0.0));
    ASSERT_TRUE(c->add_sum_product({{3}}, "t"));
  }
  EXPECT_EQ(adapt(circuit, {5.0, 0.0, 0.0, 0.0}), "[0, 1, 1, 1]\n");
  ASSERT_TRUE(reference.drop_leaf(3));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());
  EXPECT_EQ(circuit.partition(), (std::vector<std::size_t>{0, 1, 1, 1}));
  EXPECT_NEAR(circuit.full_update().at("t")[0], 0.125 + 0.25 + 0.5, 1e-12);
}

TEST(Adapt, ALeafWithoutABinKeepsItsEntry) {
  auto circuit = three_leaves();
  auto reference = three_leaves();

  // Leaf 0 finds no bin: it gets 0 and the others keep their own entries.
  EXPECT_EQ(adapt(circuit, {nan, 0.0, 5.0}), "[0, 1, 0]\n");
  ASSERT_TRUE(reference.drop_leaf(1));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());

  EXPECT_EQ(adapt(circuit, {0.0, 0.0, 5.0}), "[1, 1, 0]\n");
  ASSERT_TRUE(reference.drop_leaf(0));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());

  // Now it keeps its stored 1; leaf 1 falls to 0 and leaf 2 rises to 1.
  EXPECT_EQ(adapt(circuit, {inf, 5.0, 0.0}), "[1, 0, 1]\n");
  ASSERT_TRUE(reference.lift_leaf(1));
  ASSERT_TRUE(reference.drop_leaf(2));
  EXPECT_EQ(circuit.to_dot_text(), reference.to_dot_text());
  EXPECT_EQ(circuit.partition(), (std::vector<std::size_t>{1, 0, 1}));
}

TEST(Adapt, AllLeavesInOneBinMoveNothing) {
  // No boundaries put every finite frequency into bin 0; equal frequencies share any bin.
  for (const auto& [frequencies, number_bins] :
       {std::pair{std::vector<double>{0.5, 7.0, 2.5}, std::size_t{0}},
        std::pair{std::vector<double>{4.0, 4.0, 4.0}, std::size_t{3}}}) {
    auto circuit = three_leaves();
    const std::string before = circuit.to_dot_text();
    EXPECT_EQ(adapt(circuit, frequencies, number_bins), "[0, 0, 0]\n");
    EXPECT_EQ(circuit.to_dot_text(), before);
  }
}

TEST(Adapt, WithoutLeavesPrintsAnEmptyList) {
  ReactiveCircuit<LogProb> circuit(1);
  ASSERT_TRUE(circuit.add_sum_product({{}}, "t"));
  const std::string before = circuit.to_dot_text();
  EXPECT_EQ(adapt(circuit, {}), "[]\n");
  EXPECT_EQ(circuit.to_dot_text(), before);
  EXPECT_TRUE(circuit.partition().empty());
}

}  // namespace
}  // namespace talvo
