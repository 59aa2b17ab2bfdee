// A model compiled for gradients: every leaf gets its own seed slot, and the reported derivatives
// agree with finite differences of the probability.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "language/talvo_fixtures.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;
using testing::kGardenModel;
using testing::wait_for_leaves;

double probability(Talvo<ProbGradient>& runtime) {
  const auto circuit = runtime.circuit()->lock();
  return circuit->full_update().at("/garden/wet")[0];
}

Gradients gradients(Talvo<ProbGradient>& runtime) {
  const auto circuit = runtime.circuit()->lock();
  return circuit->full_gradient_update().value().at("/garden/wet");
}

Talvo<ProbGradient> fed_garden() {
  Talvo<ProbGradient> garden = compile_ok<ProbGradient>(kGardenModel);
  EXPECT_TRUE(garden.probability_writer("rain")->write(Value{0.3}));
  EXPECT_TRUE(garden.boolean_writer("sprinkler")->write(true));
  const double temp[] = {30.0};
  EXPECT_TRUE(garden.number_writer("temp")->write(temp));
  const Value sky[] = {Value{0.6}, Value{0.4}};
  EXPECT_TRUE(garden.categorical_writer("/sky")->write(sky));
  wait_for_leaves(garden, {{"rain", 0.3},
                           {"-rain", 0.7},
                           {"sprinkler", 1.0},
                           {"-sprinkler", 0.0},
                           {"temp_gt_25", 1.0},
                           {"-temp_gt_25", 0.0},
                           {"sunny", 0.6},
                           {"cloudy", 0.4}});
  return garden;
}

TEST(GradientLayout, EveryLeafGetsASeedSlotBeforeTheTargetExists) {
  Talvo<ProbGradient> garden = compile_ok<ProbGradient>(kGardenModel);
  const auto circuit = garden.circuit()->lock();
  const std::size_t leaves = circuit->leafs().size();
  ASSERT_EQ(leaves, 10u);
  EXPECT_EQ(garden.value_size(), leaves + 1);
  EXPECT_EQ(circuit->value_size(), leaves + 1);
  for (std::size_t i = 0; i < leaves; ++i) {
    const Value& value = circuit->leafs()[i].value;
    ASSERT_EQ(value.size(), leaves + 1) << circuit->leafs()[i].name;
    for (std::size_t slot = 1; slot <= leaves; ++slot) {
      EXPECT_EQ(value[slot], slot == i + 1 ? 1.0 : 0.0) << circuit->leafs()[i].name << " " << slot;
    }
  }
  // The probabilities stay as they were made: sources empty, their complements certain.
  EXPECT_EQ(circuit->leafs()[0].value[0], 0.0);         // rain
  EXPECT_EQ(circuit->leafs()[1].value[0], 1.0);         // -rain
  EXPECT_DOUBLE_EQ(circuit->leafs()[8].value[0], 0.9);  // wet_cause_0
  EXPECT_DOUBLE_EQ(circuit->leafs()[9].value[0], 0.1);  // -wet_cause_0
}

TEST(GradientLayout, AModelWithoutTargetKeepsOneSlot) {
  Talvo<ProbGradient> runtime = compile_ok<ProbGradient>(R"(
rain <- source("/rain", Probability).
wet <- P(0.5) if rain.
)");
  EXPECT_EQ(runtime.value_size(), 1u);
  EXPECT_EQ(runtime.circuit()->lock()->value_size(), 1u);
}

TEST(GradientLayout, EachLeafsDerivativeIsItsFiniteDifference) {
  Talvo<ProbGradient> garden = fed_garden();
  const Gradients reported = gradients(garden);
  const double base = probability(garden);
  EXPECT_DOUBLE_EQ(reported.probability, base);

  const auto names = garden.manager().get_names();
  const auto values = garden.manager().get_values();
  const double step = 0.05;
  double timestamp = 1.0;
  for (std::uint32_t leaf = 0; leaf < names.size(); ++leaf) {
    const double original = values[leaf][0];
    // Perturb away from the nearer end of [0, 1], so that the value stays a probability.
    const double h = original > 0.5 ? -step : step;
    {
      const auto circuit = garden.circuit()->lock();
      ASSERT_TRUE(leaf::update(*circuit, leaf, Value{original + h}, timestamp++).has_value());
    }
    const double moved = probability(garden);
    {
      const auto circuit = garden.circuit()->lock();
      ASSERT_TRUE(leaf::update(*circuit, leaf, Value{original}, timestamp++).has_value());
    }
    // The probability is linear in every single leaf, so the difference is exact.
    EXPECT_NEAR((moved - base) / h, reported.gradients.at(names[leaf]), 1e-9) << names[leaf];
  }
}

TEST(GradientLayout, ASourceWriteMovesTheLeafAndItsComplementTogether) {
  Talvo<ProbGradient> garden = fed_garden();
  const Gradients reported = gradients(garden);
  const double base = probability(garden);

  EXPECT_TRUE(garden.probability_writer("rain")->write(Value{0.5}));
  wait_for_leaves(garden, {{"rain", 0.5}, {"-rain", 0.5}});
  const double moved = probability(garden);
  EXPECT_NEAR((moved - base) / 0.2, reported.gradients.at("rain") - reported.gradients.at("-rain"),
              1e-9);
}

TEST(GradientLayout, EachClauseCarriesItsOwnParameterGroup) {
  // Two clauses of one predicate with other heads: P(z) = a (1 - b), so dP/da = 1 - b = 0.8 and
  // dP/db = -a = -0.5, each read off its own group.
  auto runtime = compile_ok<ProbGradient>(R"(
h(a) <- P(0.5).
h(b) <- P(0.2).
z if h(a) and not h(b).
z -> target("/z").
)");
  EXPECT_THAT(runtime.parameter_groups().at("h#0"), ::testing::ElementsAre("h_a_cause_0"));
  EXPECT_THAT(runtime.parameter_groups().at("h#1"), ::testing::ElementsAre("h_b_cause_0"));
  const auto circuit = runtime.circuit()->lock();
  const Gradients z = circuit->full_gradient_update().value().at("/z");
  const auto by_group = [&](const std::string& key) {
    double sum = 0.0;
    for (const std::string& cause : runtime.parameter_groups().at(key)) {
      sum += z.gradients.at(cause) - z.gradients.at("-" + cause);
    }
    return sum;
  };
  EXPECT_NEAR(by_group("h#0"), 0.8, 1e-12);
  EXPECT_NEAR(by_group("h#1"), -0.5, 1e-12);
}

}  // namespace
}  // namespace talvo
