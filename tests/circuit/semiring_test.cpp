#include "talvo/circuit/semiring.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "talvo/core/panic.hpp"
#include "expect_panic.hpp"
#include "semirings.hpp"

namespace talvo {
namespace {

static_assert([]<class... S>(::testing::Types<S...>) {
  return (Semiring<S> && ...);
}(AllSemirings{}));

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// Entry by entry: NaN matches NaN, infinities match exactly, the rest within `tolerance`.
void expect_entries(const Value& actual, std::initializer_list<double> expected,
                    double tolerance = 1e-12) {
  ASSERT_EQ(actual.size(), expected.size());
  std::size_t i = 0;
  for (double e : expected) {
    const double a = actual[i];
    if (std::isnan(e)) {
      EXPECT_TRUE(std::isnan(a)) << "slot " << i << " is " << a;
    } else if (std::isinf(e)) {
      EXPECT_EQ(a, e) << "slot " << i;
    } else {
      EXPECT_NEAR(a, e, tolerance) << "slot " << i;
    }
    ++i;
  }
}

/// A sum of products as the circuit computes it: one accumulator refilled with one per minterm.
template <Semiring S>
Value sum_of_products(const std::vector<std::vector<Value>>& minterms, std::size_t n) {
  Sum<S> sum(n);
  std::vector<double> acc(n);
  for (const auto& minterm : minterms) {
    S::fill_one(acc);
    for (const Value& operand : minterm) S::mul(acc, operand);
    S::add(sum.state, acc);
  }
  return sum.finish();
}

template <Semiring S>
Value sum_of(std::initializer_list<Value> products) {
  Sum<S> sum(products.begin()->size());
  for (const Value& p : products) S::add(sum.state, p);
  return sum.finish();
}

// ---------------------------------------------------------------------------------------------
// Laws every semiring keeps.

template <class S>
class SemiringLaws : public ::testing::Test {};
TYPED_TEST_SUITE(SemiringLaws, AllSemirings, SemiringNames);

TYPED_TEST(SemiringLaws, OneIsNeutralAndASingleProductPassesThroughTheSum) {
  using S = TypeParam;
  const Value leaf = S::encode_leaf_vec(Value{0.2, 0.7, 0.9}, 0);
  std::vector<double> acc{7.0, -3.0, kNaN};
  S::fill_one(acc);
  EXPECT_EQ(Value(acc), S::one(3));
  S::mul(acc, leaf);
  EXPECT_EQ(Value(acc), leaf);
  EXPECT_EQ(sum_of<S>({Value(acc)}), leaf);
}

TYPED_TEST(SemiringLaws, EmptySumIsZeroAndZeroAnnihilates) {
  using S = TypeParam;
  const Value zero = S::zero(3);
  EXPECT_EQ(Sum<S>(3).finish(), zero);
  EXPECT_EQ(sum_of_products<S>({}, 3), zero);
  const Value leaf = S::encode_leaf_vec(Value{0.2, 0.7, 0.9}, 1);
  EXPECT_EQ(sum_of_products<S>({{leaf, zero, leaf}}, 3), zero);
  // zero is also neutral for the sum
  EXPECT_EQ(sum_of_products<S>({{leaf}, {zero}}, 3), leaf);
}

TYPED_TEST(SemiringLaws, ProductRefusesExactlyTheOperandsItDoesNotAccept) {
  using S = TypeParam;
  const std::vector<double> before = {0.5, 0.25, 0.125};
  for (std::size_t len = 0; len <= 5; ++len) {
    SCOPED_TRACE("operand of " + std::to_string(len) + " entries");
    std::vector<double> acc = before;
    const Value operand(len, 0.5);
    if (S::accepts_operand(len, 3)) {
      EXPECT_NO_THROW(S::mul(acc, operand));
      continue;
    }
    EXPECT_PANIC(S::mul(acc, operand), "Cannot combine an operand of " + std::to_string(len) +
                                           " entries with a product of 3 entries");
    EXPECT_EQ(acc, before);  // refused before anything is written
  }
  Sum<S> sum(3);
  EXPECT_THROW(S::add(sum.state, Value(2, 0.5)), Panic);
}

TYPED_TEST(SemiringLaws, EveryAcceptedLeafInputBecomesAnAcceptedOperand) {
  using S = TypeParam;
  for (std::size_t len = 0; len <= 5; ++len) {
    SCOPED_TRACE("leaf input of " + std::to_string(len) + " entries");
    const bool accepted = S::accepts_leaf(len, 3);
    EXPECT_EQ(accepted, len == 1 || len == 3 || (S::name == "ProbGradient" && len > 0));
    if (!accepted) continue;
    const Value stored = S::encode_leaf_vec(S::prepare_leaf_input(Value(len, 0.4), 3), 1);
    EXPECT_TRUE(S::accepts_operand(stored.size(), 3));
    std::vector<double> acc(3);
    S::fill_one(acc);
    EXPECT_NO_THROW(S::mul(acc, stored));
  }
}

// ---------------------------------------------------------------------------------------------
// Encodings and their complements.

TEST(Encoding, LogSemiringsStoreNaturalLogarithms) {
  for (const Value& v : {LogProb::encode_leaf_vec(Value{0.0, 1.0, 0.5, -0.5}, 0),
                         MaxProduct::encode_leaf_vec(Value{0.0, 1.0, 0.5, -0.5}, 0)}) {
    expect_entries(v, {-kInf, 0.0, std::log(0.5), kNaN});
  }
  expect_entries(LogProb::decode_vec(Value{-kInf, 0.0, std::log(0.25)}), {0.0, 1.0, 0.25});
}

TEST(Encoding, BooleanIsOneExactlyForPositiveEntries) {
  expect_entries(Boolean::encode_leaf_vec(Value{0.2, 0.0, -0.5, kNaN, -0.0, 1e-300, kInf}, 0),
                 {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 1.0});
}

TEST(Encoding, FuzzyKeepsValuesOutsideTheUnitInterval) {
  const Value in{1.7, -0.2, 0.5};
  EXPECT_EQ(Fuzzy::encode_leaf_vec(in, 0), in);
  EXPECT_EQ(Fuzzy::decode_vec(in), in);
}

TEST(Encoding, ProbGradientSeedsTheLeafsOwnSlotWhenItFits) {
  EXPECT_EQ(ProbGradient::encode_leaf_vec(Value{0.3, 0.9, 0.9}, 0), (Value{0.3, 1.0, 0.0}));
  EXPECT_EQ(ProbGradient::encode_leaf_vec(Value{0.4, 0.0, 0.0}, 1), (Value{0.4, 0.0, 1.0}));
  EXPECT_EQ(ProbGradient::encode_leaf_vec(Value{0.4, 0.0, 0.0}, 2), (Value{0.4, 0.0, 0.0}));
  EXPECT_EQ(ProbGradient::encode_leaf_vec(Value{0.4}, 0), Value{0.4});
  EXPECT_EQ(ProbGradient::encode_leaf_vec(Value{0.4, 0.0}, UINT64_MAX), (Value{0.4, 0.0}));
  EXPECT_THROW(ProbGradient::encode_leaf_vec(Value{}, 0), Panic);
}

TEST(Encoding, ProbGradientPadsShortLeafInputsOnly) {
  const auto stored = [](Value in, std::uint64_t index) {
    return ProbGradient::encode_leaf_vec(ProbGradient::prepare_leaf_input(std::move(in), 3), index);
  };
  EXPECT_EQ(stored(Value{0.3}, 0), (Value{0.3, 1.0, 0.0}));
  EXPECT_EQ(stored(Value{0.3}, 2), (Value{0.3, 0.0, 0.0}));
  EXPECT_EQ(stored(Value{0.6, 0.7}, 1), (Value{0.6, 0.0, 1.0}));
  EXPECT_EQ(stored(Value{0.6, 0.1, 0.2, 0.3}, 2), (Value{0.6, 0.0, 0.0, 1.0}));
  EXPECT_THROW(ProbGradient::prepare_leaf_input(Value{}, 3), Panic);
  // the non-gradient semirings hand the input on as it is, storage included
  const Value in{0.3};
  EXPECT_EQ(LogProb::prepare_leaf_input(in, 3).data(), in.data());
}

TEST(Encoding, ComplementsFollowEachSemiringsStoredForm) {
  expect_entries(LogProb::complement(Value{0.25, 0.0, 1.0}), {std::log(0.75), 0.0, -kInf});
  expect_entries(MaxProduct::decode_vec(MaxProduct::complement(Value{0.25})), {0.75});
  expect_entries(Fuzzy::complement(Value{0.25, 1.7}), {0.75, -0.7});
  // Boolean: the truth of 1 - x, as a complement leaf fed 1 - x holds it.
  expect_entries(Boolean::complement(Value{0.2, 0.0, -1.0, kNaN, 1.0}), {1.0, 1.0, 1.0, 0.0, 0.0});
  expect_entries(ProbGradient::complement(Value{0.3, 1.0, 0.0}), {0.7, 0.0, 1.0});
}

// ---------------------------------------------------------------------------------------------
// Products and sums.

TEST(LogProbSum, AddsProbabilities) {
  const double half = std::log(0.5);
  expect_entries(sum_of<LogProb>({Value{half}, Value{half}}), {0.0});
  expect_entries(sum_of<LogProb>({Value{half}, Value{-kInf}}), {half});
  expect_entries(sum_of<LogProb>({Value{-kInf}, Value{half}}), {half});
  expect_entries(sum_of<LogProb>({Value{-kInf}, Value{-kInf}}), {-kInf});
  expect_entries(sum_of<LogProb>({Value{std::log(0.1)}, Value{std::log(0.2)}, Value{half}}),
                 {std::log(0.8)});
}

TEST(LogProbSum, NaNIsDroppedOnlyBeforeTheFirstFiniteProduct) {
  const double half = std::log(0.5);
  expect_entries(sum_of<LogProb>({Value{kNaN}, Value{half}}), {half});
  expect_entries(sum_of<LogProb>({Value{half}, Value{kNaN}}), {kNaN});
  expect_entries(sum_of<LogProb>({Value{kNaN}}), {-kInf});
  expect_entries(sum_of<LogProb>({Value{-kInf}, Value{kNaN}, Value{-kInf}}), {-kInf});
}

// Every sequence of four products drawn from special values, one sequence per slot, summed in one
// piece and in pieces cut at every place, merged from the first piece on and from the last back
// (where a merged state is itself merged into an earlier one).
TYPED_TEST(SemiringLaws, PiecesMergedInOrderGiveTheSumInOnePiece) {
  using S = TypeParam;
  const std::vector<double> values = {kNaN, -kInf, kInf, -0.0, 0.0, -0.7, 0.3};
  constexpr std::size_t kProducts = 4;
  std::size_t n = 1;
  for (std::size_t k = 0; k < kProducts; ++k) n *= values.size();
  std::vector<Value> products;
  for (std::size_t k = 0, stride = 1; k < kProducts; ++k, stride *= values.size()) {
    products.push_back(Value::build(n, [&](std::span<double> entries) {
      for (std::size_t slot = 0; slot < n; ++slot) {
        entries[slot] = values[slot / stride % values.size()];
      }
    }));
  }
  Sum<S> whole(n);
  for (const Value& product : products) S::add(whole.state, product);
  const Value expected = whole.finish();

  for (unsigned cuts = 1; cuts < (1u << (kProducts - 1)); ++cuts) {
    for (const bool from_last : {false, true}) {
      std::vector<std::unique_ptr<Sum<S>>> pieces;
      for (std::size_t k = 0; k < kProducts; ++k) {
        if (k == 0 || (cuts >> (k - 1) & 1u) != 0) pieces.push_back(std::make_unique<Sum<S>>(n));
        S::add(pieces.back()->state, products[k]);
      }
      for (std::size_t p = 1; p < pieces.size(); ++p) {
        if (from_last) {
          S::merge(pieces[pieces.size() - 1 - p]->state, pieces[pieces.size() - p]->state);
        } else {
          S::merge(pieces[0]->state, pieces[p]->state);
        }
      }
      EXPECT_TRUE(same_as_one_piece<S>(pieces[0]->finish(), expected))
          << "cuts " << cuts << (from_last ? ", merged from the last piece" : "");
    }
  }
}

TEST(LogProbSum, PositiveInfinityMakesTheSlotNaN) {
  const double half = std::log(0.5);
  expect_entries(sum_of<LogProb>({Value{kInf}}), {kNaN});
  expect_entries(sum_of<LogProb>({Value{half}, Value{kInf}}), {kNaN});
  expect_entries(sum_of<LogProb>({Value{kInf}, Value{half}}), {kNaN});
}

TEST(LogProbSum, SlotsAreIndependent) {
  const double half = std::log(0.5);
  expect_entries(sum_of<LogProb>({Value{half, kNaN, -kInf}, Value{kNaN, half, -kInf}}),
                 {kNaN, half, -kInf});
}

TEST(MaxSums, NaNNeverChangesAMaximum) {
  expect_entries(sum_of<MaxProduct>({Value{-kInf}, Value{kNaN}}), {-kInf});
  expect_entries(sum_of<MaxProduct>({Value{kNaN}, Value{std::log(0.2)}, Value{std::log(0.1)}}),
                 {std::log(0.2)});
  expect_entries(sum_of<Fuzzy>({Value{kNaN}, Value{0.4}}), {0.4});
  expect_entries(sum_of<Boolean>({Value{kNaN}, Value{1.0}, Value{0.0}}), {1.0});
  // the sum starts at zero, so a Fuzzy product below 0.0 gives 0.0
  expect_entries(sum_of<Fuzzy>({Value{-0.2}}), {0.0});
}

TEST(Products, FuzzyMinimumIgnoresNaNBooleanProductDoesNot) {
  std::vector<double> acc{0.3, kNaN, kNaN};
  Fuzzy::mul(acc, Value{kNaN, 0.3, kNaN});
  expect_entries(Value(acc), {0.3, 0.3, kNaN});
  std::vector<double> truth{1.0, 1.0};
  Boolean::mul(truth, Value{kNaN, 0.0});
  expect_entries(Value(truth), {kNaN, 0.0});
}

TEST(Products, OneEntryOperandAppliesToEverySlot) {
  const double half = std::log(0.5);
  const double fifth = std::log(0.2);
  std::vector<double> acc(3, half);
  LogProb::mul(acc, Value{fifth});
  expect_entries(Value(acc), {half + fifth, half + fifth, half + fifth});
  EXPECT_THROW(LogProb::mul(acc, Value{fifth, fifth}), Panic);

  std::vector<double> degrees{0.2, 0.6, 0.9};
  Fuzzy::mul(degrees, Value{0.5});
  expect_entries(Value(degrees), {0.2, 0.5, 0.5});
  std::vector<double> truth{1.0, 0.0, 1.0};
  Boolean::mul(truth, Value{0.0});
  expect_entries(Value(truth), {0.0, 0.0, 0.0});
}

TEST(ProbGradientProduct, FollowsTheProductRule) {
  std::vector<double> acc{0.3, 1.0, 0.0};
  ProbGradient::mul(acc, Value{0.5, 0.0, 1.0});
  expect_entries(Value(acc), {0.15, 0.5, 0.3});
  expect_entries(sum_of<ProbGradient>({Value(acc), Value{0.2, 0.0, 0.0}}), {0.35, 0.5, 0.3});

  // a longer operand is read up to the accumulator's length
  std::vector<double> pair{1.0, 0.0};
  ProbGradient::mul(pair, Value{0.5, 2.0, 7.0});
  expect_entries(Value(pair), {0.5, 2.0});
  std::vector<double> single{0.4};
  ProbGradient::mul(single, Value{0.5, 9.0});
  expect_entries(Value(single), {0.2});
}

TEST(ProbGradientProduct, SumOfProductsOfSeededLeaves) {
  const Value a{0.5, 1.0, 0.0, 0.0};
  const Value b{0.25, 0.0, 1.0, 0.0};
  const Value c{0.125, 0.0, 0.0, 1.0};
  expect_entries(sum_of_products<ProbGradient>({{a, b}, {c}}, 4), {0.25, 0.25, 0.5, 1.0});
}

// ---------------------------------------------------------------------------------------------
// Random sums of products.

struct RandomCircuit {
  std::vector<std::vector<std::size_t>> minterms;  // ascending leaf indices, no repeats
  std::vector<double> probabilities;               // one per leaf
};

RandomCircuit random_circuit(std::mt19937_64& rng, std::size_t leaves) {
  RandomCircuit circuit;
  std::uniform_real_distribution<double> probability(0.05, 0.95);
  for (std::size_t j = 0; j < leaves; ++j) circuit.probabilities.push_back(probability(rng));
  const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 6)(rng);
  std::bernoulli_distribution take(0.4);
  for (std::size_t m = 0; m < count; ++m) {
    std::vector<std::size_t> minterm;
    for (std::size_t j = 0; j < leaves; ++j) {
      if (take(rng)) minterm.push_back(j);
    }
    circuit.minterms.push_back(std::move(minterm));
  }
  return circuit;
}

/// The circuit in ProbGradient over dual vectors of `leaves + 1` entries; some leaves carry
/// entries beyond that, which the product must not read.
Value gradient_of(const RandomCircuit& circuit, std::mt19937_64& rng) {
  const std::size_t n = circuit.probabilities.size() + 1;
  std::vector<Value> leaves;
  for (std::size_t j = 0; j < circuit.probabilities.size(); ++j) {
    const std::size_t extra = std::uniform_int_distribution<std::size_t>(0, 2)(rng);
    std::vector<double> in(n + extra, 0.9);
    in[0] = circuit.probabilities[j];
    leaves.push_back(ProbGradient::encode_leaf_vec(in, j));
  }
  std::vector<std::vector<Value>> minterms;
  for (const auto& minterm : circuit.minterms) {
    auto& operands = minterms.emplace_back();
    for (std::size_t j : minterm) operands.push_back(leaves[j]);
  }
  return sum_of_products<ProbGradient>(minterms, n);
}

TEST(ProbGradientProperty, GradientMatchesFiniteDifferences) {
  std::mt19937_64 rng(20240611);
  constexpr double h = 1e-5;
  for (int trial = 0; trial < 200; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::size_t leaves = std::uniform_int_distribution<std::size_t>(1, 6)(rng);
    RandomCircuit circuit = random_circuit(rng, leaves);
    const Value result = gradient_of(circuit, rng);
    ASSERT_EQ(result.size(), leaves + 1);
    for (std::size_t j = 0; j < leaves; ++j) {
      const double p = circuit.probabilities[j];
      circuit.probabilities[j] = p + h;
      const double up = gradient_of(circuit, rng)[0];
      circuit.probabilities[j] = p - h;
      const double down = gradient_of(circuit, rng)[0];
      circuit.probabilities[j] = p;
      EXPECT_NEAR(result[j + 1], (up - down) / (2 * h), 1e-8) << "leaf " << j;
    }
  }
}

TEST(SemiringProperty, LogSemiringsAgreeWithPlainProbabilities) {
  std::mt19937_64 rng(7);
  constexpr std::size_t slots = 5;
  for (int trial = 0; trial < 100; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // one random circuit per slot pattern: leaves hold a probability per slot, or one for all
    const std::size_t leaves = std::uniform_int_distribution<std::size_t>(1, 5)(rng);
    const RandomCircuit circuit = random_circuit(rng, leaves);
    std::uniform_real_distribution<double> probability(0.0, 1.0);
    std::vector<std::vector<double>> inputs;
    for (std::size_t j = 0; j < leaves; ++j) {
      const bool single = std::bernoulli_distribution(0.3)(rng);
      std::vector<double> in(single ? 1 : slots);
      for (double& x : in) x = probability(rng);
      inputs.push_back(std::move(in));
    }
    std::vector<std::vector<Value>> log_minterms;
    for (const auto& minterm : circuit.minterms) {
      auto& operands = log_minterms.emplace_back();
      for (std::size_t j : minterm) operands.push_back(LogProb::encode_leaf_vec(inputs[j], j));
    }
    const Value sum = LogProb::decode_vec(sum_of_products<LogProb>(log_minterms, slots));
    const Value best = MaxProduct::decode_vec(sum_of_products<MaxProduct>(log_minterms, slots));
    for (std::size_t i = 0; i < slots; ++i) {
      double expected_sum = 0.0;
      double expected_best = 0.0;
      for (const auto& minterm : circuit.minterms) {
        double product = 1.0;
        for (std::size_t j : minterm)
          product *= inputs[j].size() == 1 ? inputs[j][0] : inputs[j][i];
        expected_sum += product;
        expected_best = std::max(expected_best, product);
      }
      EXPECT_NEAR(sum[i], expected_sum, 1e-12 * (1.0 + expected_sum)) << "slot " << i;
      EXPECT_NEAR(best[i], expected_best, 1e-12) << "slot " << i;
    }
  }
}

}  // namespace
}  // namespace talvo
