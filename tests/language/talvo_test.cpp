// End to end: a model compiled, fed through its writers and reader threads, and updated.

#include "talvo/language/talvo.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "language/talvo_fixtures.hpp"

namespace talvo {
namespace {

using testing::compile_ok;
using testing::kGardenModel;
using testing::kRoomModel;
using testing::update_target;
using testing::wait_for_leaves;

/// The semirings' arithmetic on plain values, written out for the reference: how a leaf holds a
/// probability handed to it (a cause's complement holds 1 - p as any leaf would) and how products
/// and sums fold.
template <class S>
struct Reference {
  static double leaf(double p) { return p; }
  static double times(double a, double b) { return a * b; }
  static double plus(double a, double b) { return a + b; }
};
template <>
struct Reference<MaxProduct> : Reference<LogProb> {
  static double plus(double a, double b) { return std::max(a, b); }
};
template <>
struct Reference<Fuzzy> : Reference<LogProb> {
  static double times(double a, double b) { return std::min(a, b); }
  static double plus(double a, double b) { return std::max(a, b); }
};
template <>
struct Reference<Boolean> {
  static double leaf(double p) { return p > 0.0 ? 1.0 : 0.0; }
  static double times(double a, double b) { return a * b; }
  static double plus(double a, double b) { return std::max(a, b); }
};

struct GardenInputs {
  double rain;
  bool sprinkler;
  double temp;
  double sunny;
  double cloudy;
};

/// The garden's target by brute force over every assignment of its inputs: each assignment under
/// which the garden is wet contributes the product of its inputs' values. A false category has no
/// leaf, so it adds nothing to the product.
template <class S>
double garden_reference(const GardenInputs& in) {
  using R = Reference<S>;
  const double hot = in.temp > 25 ? 1.0 : 0.0;
  double total = 0.0;
  bool first = true;
  for (int rain = 0; rain < 2; ++rain)
    for (int sprinkler = 0; sprinkler < 2; ++sprinkler)
      for (int temp = 0; temp < 2; ++temp)
        for (int sunny = 0; sunny < 2; ++sunny)
          for (int cause = 0; cause < 2; ++cause) {
            const bool wet = (cause && rain) || (sprinkler && !sunny);
            if (!wet) continue;
            const double s = in.sprinkler ? 1.0 : 0.0;
            double product = rain ? R::leaf(in.rain) : R::leaf(1.0 - in.rain);
            product = R::times(product, sprinkler ? R::leaf(s) : R::leaf(1.0 - s));
            product = R::times(product, temp ? R::leaf(hot) : R::leaf(1.0 - hot));
            product = R::times(product, sunny ? R::leaf(in.sunny) : R::leaf(in.cloudy));
            product = R::times(product, cause ? R::leaf(0.9) : R::leaf(1.0 - 0.9));
            total = first ? product : R::plus(total, product);
            first = false;
          }
  return total;
}

template <Semiring S>
void write_garden(Talvo<S>& garden, const GardenInputs& in) {
  ASSERT_TRUE(garden.probability_writer("rain").has_value());
  EXPECT_TRUE(garden.probability_writer("rain")->write(Value{in.rain}));
  EXPECT_TRUE(garden.boolean_writer("sprinkler")->write(in.sprinkler));
  const double temp[] = {in.temp};
  EXPECT_TRUE(garden.number_writer("temp")->write(temp));
  const Value sky[] = {Value{in.sunny}, Value{in.cloudy}};
  EXPECT_TRUE(garden.categorical_writer("/sky")->write(sky));
  const double hot = in.temp > 25 ? 1.0 : 0.0;
  const double s = in.sprinkler ? 1.0 : 0.0;
  wait_for_leaves(garden, {{"rain", in.rain},
                           {"-rain", 1.0 - in.rain},
                           {"sprinkler", s},
                           {"-sprinkler", 1.0 - s},
                           {"temp_gt_25", hot},
                           {"-temp_gt_25", 1.0 - hot},
                           {"sunny", in.sunny},
                           {"cloudy", in.cloudy}});
}

template <class S>
class CompiledGarden : public ::testing::Test {};
TYPED_TEST_SUITE(CompiledGarden, AllSemirings, SemiringNames);

TYPED_TEST(CompiledGarden, ReportsTheTargetUnderItsChannelAsTheModelsSumUp) {
  Talvo<TypeParam> garden = compile_ok<TypeParam>(kGardenModel);

  const GardenInputs first{0.3, true, 30.0, 0.6, 0.4};
  write_garden(garden, first);
  const auto wet = update_target(garden, "/garden/wet");
  ASSERT_TRUE(wet.has_value());
  EXPECT_NEAR(*wet, garden_reference<TypeParam>(first), 1e-12);

  // Nothing changed since: the target is not recomputed and not reported.
  EXPECT_EQ(update_target(garden, "/garden/wet"), std::nullopt);

  const GardenInputs second{0.0, true, 10.0, 0.2, 0.8};
  write_garden(garden, second);
  const auto again = update_target(garden, "/garden/wet");
  ASSERT_TRUE(again.has_value());
  EXPECT_NEAR(*again, garden_reference<TypeParam>(second), 1e-12);
}

TYPED_TEST(CompiledGarden, TheTargetAtomItselfIsNoTokenAndNoLeaf) {
  Talvo<TypeParam> garden = compile_ok<TypeParam>(kGardenModel);
  const auto circuit = garden.circuit()->lock();
  EXPECT_EQ(circuit->targets().size(), 1u);
  EXPECT_TRUE(circuit->targets().contains("/garden/wet"));
  for (const auto& leaf : circuit->leafs()) EXPECT_NE(leaf.name, "wet");
}

template <class S>
class CompiledRoom : public ::testing::Test {};
TYPED_TEST_SUITE(CompiledRoom, AllSemirings, SemiringNames);

TYPED_TEST(CompiledRoom, VariableHeadCausesGetLeavesAfterSolving) {
  Talvo<TypeParam> room = compile_ok<TypeParam>(kRoomModel);
  EXPECT_THAT(room.manager().get_names(),
              ::testing::ElementsAre("temp_k1_gt_20", "-temp_k1_gt_20", "warm_cause_0(k1)",
                                     "-warm_cause_0(k1)"));
  EXPECT_EQ(room.parameter_groups().size(), 1u);
  EXPECT_THAT(room.parameter_groups().at("warm#0"), ::testing::ElementsAre("warm_cause_0(k1)"));
  EXPECT_NEAR(room.manager().get_values()[2][0], testing::stored_as<TypeParam>(0.8), 1e-12);

  auto writer = room.number_writer("temp(k1)");
  ASSERT_TRUE(writer.has_value()) << writer.error().message();
  const double warm[] = {25.0};
  EXPECT_TRUE(writer->write(warm));
  wait_for_leaves(room, {{"temp_k1_gt_20", 1.0}, {"-temp_k1_gt_20", 0.0}});
  const auto first = update_target(room, "/room/k1/warm");
  ASSERT_TRUE(first.has_value());
  EXPECT_NEAR(*first, Reference<TypeParam>::leaf(0.8), 1e-12);

  const double cold[] = {15.0};
  EXPECT_TRUE(writer->write(cold));
  wait_for_leaves(room, {{"temp_k1_gt_20", 0.0}, {"-temp_k1_gt_20", 1.0}});
  const auto second = update_target(room, "/room/k1/warm");
  ASSERT_TRUE(second.has_value());
  EXPECT_NEAR(*second, 0.0, 1e-12);
}

TEST(CompiledCauses, AGroundCauseSeenOnlyAsFalseGetsItsPairOnce) {
  // warm(k1) must be false, so its cause is false in both models (with a and without it).
  auto runtime = compile_ok<LogProb>(R"(
a <- source("/a", Probability).
room(k1).
warm(X) <- P(0.8) if room(X).
t if not warm(k1).
t -> target("/t").
)");
  EXPECT_THAT(runtime.manager().get_names(),
              ::testing::ElementsAre("a", "-a", "warm_cause_0(k1)", "-warm_cause_0(k1)"));
  EXPECT_THAT(runtime.parameter_groups().at("warm#0"), ::testing::ElementsAre("warm_cause_0(k1)"));
  EXPECT_NEAR(update_target(runtime, "/t").value(), 0.2, 1e-12);
}

// Three stable models: a alone, b alone, both.
constexpr const char* kThreeModels = R"(
a <- source("/a", Probability).
b <- source("/b", Probability).
t if a.
t if b.
t -> target("/t").
)";

std::string limit_message(std::size_t max_models) {
  return "Stable model limit exceeded: found more than " + std::to_string(max_models) +
         " stable model(s). Simplify the program or increase max_models.";
}

TEST(CompileModelLimit, CountsStableModelsAgainstTheLimit) {
  auto none = Talvo<LogProb>::compile(kThreeModels, 1, false, 0);
  ASSERT_FALSE(none.has_value());
  EXPECT_EQ(none.error().message(), limit_message(0));

  auto short_by_one = Talvo<LogProb>::compile(kThreeModels, 1, false, 2);
  ASSERT_FALSE(short_by_one.has_value());
  EXPECT_EQ(short_by_one.error().message(), limit_message(2));

  auto exact = Talvo<LogProb>::compile(kThreeModels, 1, false, 3);
  ASSERT_TRUE(exact.has_value()) << exact.error().message();
  const auto circuit = exact->circuit()->lock();
  EXPECT_EQ(circuit->targets().size(), 1u);
}

TEST(CompileModelLimit, AProgramWithoutModelsPassesAnyLimit) {
  constexpr const char* impossible = R"(
a <- source("/a", Probability).
t if a and not a.
t -> target("/t").
)";
  auto compiled = Talvo<LogProb>::compile(impossible, 1, false, 0);
  ASSERT_TRUE(compiled.has_value()) << compiled.error().message();
}

template <class S>
class CompiledExtremes : public ::testing::Test {};
TYPED_TEST_SUITE(CompiledExtremes, AllSemirings, SemiringNames);

TYPED_TEST(CompiledExtremes, NoStableModelMakesTheTargetZero) {
  ::testing::internal::CaptureStdout();
  Talvo<TypeParam> runtime = compile_ok<TypeParam>(R"(
a <- source("/a", Probability).
t if a and not a.
t -> target("/t").
)",
                                                   1, true);
  EXPECT_THAT(
      ::testing::internal::GetCapturedStdout(),
      ::testing::HasSubstr("Compiled Talvo for target atom t into formula over 0 models\n"));
  EXPECT_EQ(update_target(runtime, "/t"), 0.0);
}

TYPED_TEST(CompiledExtremes, AModelWithoutLeavesMakesTheTargetCertain) {
  Talvo<TypeParam> runtime = compile_ok<TypeParam>(R"(
q.
t if q.
t -> target("/t").
)");
  EXPECT_EQ(update_target(runtime, "/t"), 1.0);
}

TEST(CompileStatements, CommentsLineEndsAndLineBreaksInsideStatements) {
  const std::string text =
      "rain <- source(\"/weather/rain\", # the channel\r\n"
      "   Probability).\r\n"
      "# a whole line of comment with a full stop.\n"
      "\n"
      "wet <- P(0.25) if rain. # a cause\n"
      "wet -> target(\"/wet\").\n";
  auto runtime = compile_ok<LogProb>(text);
  ASSERT_EQ(runtime.sources().size(), 1u);
  EXPECT_EQ(runtime.sources()[0].topic, "/weather/rain");
  ASSERT_EQ(runtime.clauses().size(), 1u);
  EXPECT_EQ(runtime.clauses()[0].probability, 0.25);
  EXPECT_EQ(runtime.targets().size(), 1u);
  EXPECT_THAT(runtime.manager().get_names(),
              ::testing::ElementsAre("rain", "-rain", "wet_cause_0", "-wet_cause_0"));
}

TEST(CompileStatements, AnEmptyModelHasNothing) {
  for (const char* text : {"", "  \n# only a comment.\r\n\n"}) {
    ::testing::internal::CaptureStdout();
    auto runtime = compile_ok<LogProb>(text, 1, true);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Talvo setup with 0 source signals\n");
    EXPECT_TRUE(runtime.clauses().empty());
    EXPECT_TRUE(runtime.sources().empty());
    EXPECT_TRUE(runtime.targets().empty());
    EXPECT_TRUE(runtime.manager().get_names().empty());
    const auto circuit = runtime.circuit()->lock();
    EXPECT_EQ(circuit->structure().node_count(), 0u);
  }
}

TEST(CompileStatements, QuietWithoutVerbose) {
  ::testing::internal::CaptureStdout();
  compile_ok<LogProb>(kGardenModel);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(CompileSettings, ValueSizeAndThresholdReachTheCircuitBeforeAnyLeaf) {
  auto compiled = Talvo<LogProb>::compile(kGardenModel, 3, false, std::nullopt, 0.25);
  ASSERT_TRUE(compiled.has_value());
  EXPECT_EQ(compiled->value_size(), 3u);
  const auto circuit = compiled->circuit()->lock();
  EXPECT_EQ(circuit->value_size(), 3u);
  EXPECT_EQ(circuit->update_threshold, 0.25);
  EXPECT_EQ(circuit->leafs()[0].get_value().size(), 3u);  // rain
  EXPECT_EQ(circuit->leafs()[2].get_value().size(), 1u);  // temp_gt_25: one entry
}

}  // namespace
}  // namespace talvo
