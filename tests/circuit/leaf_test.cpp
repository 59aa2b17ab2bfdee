#include "talvo/circuit/leaf.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "circuit/category.hpp"
#include "circuit/circuit_access.hpp"
#include "circuit/leaf_update.hpp"
#include "semirings.hpp"
#include "talvo/circuit/reactive.hpp"

namespace talvo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class S>
class LeafTest : public ::testing::Test {};

TYPED_TEST_SUITE(LeafTest, AllSemirings, SemiringNames);

/// A circuit of `value_size` with one leaf holding `value`, marked as used by nodes 3 and 5.
template <class S>
ReactiveCircuit<S> one_leaf(std::size_t value_size, Value value) {
  ReactiveCircuit<S> circuit(value_size);
  EXPECT_TRUE(circuit.add_leaf(std::move(value), "x", 0.0).has_value());
  detail::CircuitAccess::leafs(circuit)[0].dependents = {3, 5};
  return circuit;
}

TYPED_TEST(LeafTest, SameValueAgainChangesNothing) {
  using S = TypeParam;
  auto circuit = one_leaf<S>(2, Value{0.5, 0.25});
  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.0, 0.25}, 10.0).has_value());
  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.5, 0.25}, 11.0).has_value());
  detail::CircuitAccess::invalidated(circuit).clear();
  const Value stored = circuit.leafs()[0].value;
  const double frequency = circuit.leafs()[0].frequency;

  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.5, 0.25}, 12.0).has_value());
  EXPECT_EQ(circuit.leafs()[0].value.data(), stored.data());
  EXPECT_EQ(circuit.leafs()[0].frequency, frequency);
  EXPECT_EQ(circuit.leafs()[0].estimator.last_timestamp, 11.0);
  EXPECT_TRUE(circuit.invalidated().empty());
}

TYPED_TEST(LeafTest, AcceptedChangeReplacesValueAdvancesEstimatorAndMarks) {
  using S = TypeParam;
  auto circuit = one_leaf<S>(2, Value{0.0, 0.0});
  const Value old_value = circuit.leafs()[0].value;
  detail::CircuitAccess::invalidated(circuit) = {7};

  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.5, 0.5}, 100.0).has_value());
  // The first accepted change of a fresh leaf only starts the estimator.
  EXPECT_EQ(circuit.leafs()[0].frequency, 0.0);
  EXPECT_EQ(circuit.leafs()[0].estimator.last_timestamp, 100.0);
  EXPECT_EQ(circuit.invalidated(), (std::unordered_set<NodeIndex>{3, 5, 7}));
  EXPECT_EQ(circuit.leafs()[0].value, S::encode_leaf_vec(Value{0.5, 0.5}.span(), 0));
  EXPECT_NE(old_value.data(), circuit.leafs()[0].value.data());  // replaced, not edited

  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.0, 0.0}, 101.0).has_value());
  EXPECT_NEAR(circuit.leafs()[0].frequency, 1.000384, 1e-6);
}

TYPED_TEST(LeafTest, RefusedInputChangesNothingAndLeavesTheCircuitUsable) {
  using S = TypeParam;
  auto circuit = one_leaf<S>(3, Value{0.5, 0.5, 0.5});
  const Value stored = circuit.leafs()[0].value;

  const auto outside = leaf::update(circuit, 1, Value{0.2, 0.2, 0.2}, 1.0);
  ASSERT_FALSE(outside.has_value());
  EXPECT_EQ(outside.error().message(), "leaf index 1 is outside the circuit's 1 leaves");

  // ProbGradient pads short inputs but has nothing to encode in an empty one; the others take
  // value_size entries or one.
  const Value unusable = std::is_same_v<S, ProbGradient> ? Value{} : Value{0.2, 0.2};
  const auto refused = leaf::update(circuit, 0, unusable, 1.0);
  ASSERT_FALSE(refused.has_value());
  EXPECT_NE(refused.error().message().find("value_size 3"), std::string::npos);

  EXPECT_EQ(circuit.leafs()[0].value.data(), stored.data());
  EXPECT_FALSE(circuit.leafs()[0].estimator.last_timestamp.has_value());
  EXPECT_TRUE(circuit.invalidated().empty());

  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.0, 0.0, 0.0}, 2.0).has_value());
  EXPECT_EQ(circuit.invalidated(), (std::unordered_set<NodeIndex>{3, 5}));
}

TEST(LeafThreshold, DifferenceEqualToTheThresholdIsNoChange) {
  auto circuit = one_leaf<Fuzzy>(1, Value{0.5});
  circuit.update_threshold = 0.25;
  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.75}, 1.0).has_value());
  EXPECT_TRUE(circuit.invalidated().empty());
  EXPECT_EQ(circuit.leafs()[0].value[0], 0.5);

  ASSERT_TRUE(leaf::update(circuit, 0, Value{std::nextafter(0.75, 1.0)}, 2.0).has_value());
  EXPECT_EQ(circuit.invalidated().size(), 2u);
}

TEST(LeafThreshold, NotANumberAndEqualInfinitiesAreChanges) {
  EXPECT_TRUE(detail::is_leaf_change(Value{kNaN}.span(), Value{kNaN}.span(), 1.0));
  EXPECT_TRUE(detail::is_leaf_change(Value{0.5}.span(), Value{kNaN}.span(), 1.0));
  EXPECT_TRUE(detail::is_leaf_change(Value{kNaN}.span(), Value{0.5}.span(), 1.0));
  EXPECT_TRUE(detail::is_leaf_change(Value{kInf}.span(), Value{kInf}.span(), 1.0));
  EXPECT_TRUE(detail::is_leaf_change(Value{-kInf}.span(), Value{-kInf}.span(), 1.0));
  EXPECT_TRUE(detail::is_leaf_change(Value{0.5, 0.5}.span(), Value{0.5}.span(), 1.0));
  EXPECT_FALSE(detail::is_leaf_change(Value{0.5, 0.5}.span(), Value{0.9, 0.1}.span(), 0.4));
  EXPECT_FALSE(detail::is_leaf_change(Value{}.span(), Value{}.span(), 0.0));

  // Probability 0.0 is -inf in LogProb: writing it again is a change every time.
  auto circuit = one_leaf<LogProb>(1, Value{0.0});
  for (double t : {1.0, 2.0}) {
    detail::CircuitAccess::invalidated(circuit).clear();
    ASSERT_TRUE(leaf::update(circuit, 0, Value{0.0}, t).has_value());
    EXPECT_EQ(circuit.invalidated().size(), 2u);
  }
}

TEST(LeafThreshold, BooleanComparesEncodedTruthValues) {
  auto circuit = one_leaf<Boolean>(1, Value{0.3});
  ASSERT_TRUE(leaf::update(circuit, 0, Value{0.7}, 1.0).has_value());
  EXPECT_TRUE(circuit.invalidated().empty());

  auto zero = one_leaf<Boolean>(1, Value{0.0});
  ASSERT_TRUE(leaf::update(zero, 0, Value{0.2}, 1.0).has_value());
  EXPECT_EQ(zero.leafs()[0].value, (Value{1.0}));
  EXPECT_EQ(zero.invalidated().size(), 2u);
}

TEST(LeafProbGradient, SeedAtIndexPlusOneAndShortInputsPadded) {
  Leaf<ProbGradient> made(Value{0.4, 0.0, 0.0}, "x", 1, 0.0);
  EXPECT_EQ(made.value, (Value{0.4, 0.0, 1.0}));
  EXPECT_EQ(made.get_value(), (Value{0.4, 0.0, 1.0}));  // seeds included

  ReactiveCircuit<ProbGradient> circuit(3);
  detail::CircuitAccess::leafs(circuit).push_back(
      Leaf<ProbGradient>(Value{0.4, 0.0, 0.0}, "a", 0, 0.0));
  detail::CircuitAccess::leafs(circuit).push_back(std::move(made));
  detail::CircuitAccess::leafs(circuit).push_back(
      Leaf<ProbGradient>(Value{0.4, 0.0, 0.0}, "c", 2, 0.0));
  ASSERT_TRUE(leaf::update(circuit, 1, Value{0.6}, 1.0).has_value());
  EXPECT_EQ(circuit.leafs()[1].value, (Value{0.6, 0.0, 1.0}));
  ASSERT_TRUE(leaf::update(circuit, 2, Value{0.6}, 1.0).has_value());
  EXPECT_EQ(circuit.leafs()[2].value, (Value{0.6, 0.0, 0.0}));  // no slot for the seed
  // Only slot 0 of an input is read, so other entries are no change.
  detail::CircuitAccess::invalidated(circuit).clear();
  detail::CircuitAccess::leafs(circuit)[1].dependents = {0};
  ASSERT_TRUE(leaf::update(circuit, 1, Value{0.6, 0.9, 0.9}, 2.0).has_value());
  EXPECT_TRUE(circuit.invalidated().empty());

  EXPECT_THROW(Leaf<ProbGradient>(Value{}, "empty", 0, 0.0), Panic);
}

TEST(CategoryTest, LeafAndComplementWithoutSecondEncoding) {
  const detail::Category<LogProb> category("x", Value{0.25});
  EXPECT_EQ(category.name, "x");
  ASSERT_EQ(category.leafs.size(), 2u);
  EXPECT_EQ(category.leafs[0].name, "x");
  EXPECT_EQ(category.leafs[1].name, "-x");
  EXPECT_DOUBLE_EQ(category.leafs[0].value[0], std::log(0.25));
  EXPECT_DOUBLE_EQ(category.leafs[1].value[0], std::log(0.75));
  EXPECT_DOUBLE_EQ(category.leafs[1].get_value()[0], 0.75);
  for (std::uint64_t i = 0; i < 2; ++i) {
    EXPECT_EQ(category.leafs[i].index, i);
    EXPECT_EQ(category.leafs[i].frequency, 0.0);
    EXPECT_TRUE(category.leafs[i].dependents.empty());
  }

  const detail::Category<Boolean> truth("b", Value{0.3, 0.0, kNaN});
  EXPECT_EQ(truth.leafs[0].value, (Value{1.0, 0.0, 0.0}));
  // The complement holds the truth of 1 - p: both values stay possible for 0 < p < 1.
  EXPECT_EQ(truth.leafs[1].value, (Value{1.0, 1.0, 0.0}));
}

}  // namespace
}  // namespace talvo
