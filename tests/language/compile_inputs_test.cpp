// The leaves, channels and reader threads that compilation gives a model's inputs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "language/talvo_fixtures.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using testing::wait_for_leaves;

std::vector<ComparisonEntry> comparisons(Talvo<LogProb>& runtime, const std::string& atom) {
  const auto found = runtime.comparisons_by_source().find(atom);
  if (found == runtime.comparisons_by_source().end()) return {};
  return found->second;
}

TEST(InputLeaves, LeafIndicesFollowSourcesThenCategoriesThenGroundCauses) {
  auto runtime = compile_ok<LogProb>(R"(
p(a) <- P(0.4).
rain <- source("/rain", Probability).
{low, high} <- source("/level", Categorical).
temp <- source("/temp", Number).
hot if temp > 30.
cold if temp < 5.
wet <- P(0.9) if rain.
)");
  EXPECT_THAT(
      runtime.manager().get_names(),
      ElementsAre("rain", "-rain", "temp_gt_30", "-temp_gt_30", "temp_lt_5", "-temp_lt_5", "low",
                  "high", "p_a_cause_0", "-p_a_cause_0", "wet_cause_0", "-wet_cause_0"));
  const auto values = runtime.manager().get_values();
  const std::vector<double> expected{0.0, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.4, 0.6, 0.9, 0.1};
  ASSERT_EQ(values.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(values[i][0], expected[i], 1e-12);
  EXPECT_THAT(comparisons(runtime, "temp"), ElementsAre(ComparisonEntry{30.0, true, "temp_gt_30"},
                                                        ComparisonEntry{5.0, false, "temp_lt_5"}));
}

TEST(InputLeaves, OneComparisonPerGeneratedName) {
  // The same comparison in two clauses, and thresholds 20 and 20.0, give one leaf pair each.
  auto runtime = compile_ok<LogProb>(R"(
t <- source("/t", Number).
a if t < 20.
b if t < 20.0.
c if t < 20 and t > 20.
)");
  EXPECT_THAT(runtime.manager().get_names(),
              ElementsAre("t_lt_20", "-t_lt_20", "t_gt_20", "-t_gt_20"));
  EXPECT_THAT(comparisons(runtime, "t"), ElementsAre(ComparisonEntry{20.0, false, "t_lt_20"},
                                                     ComparisonEntry{20.0, true, "t_gt_20"}));
  EXPECT_EQ(runtime.manager().senders().count("t_lt_20"), 1u);
  EXPECT_EQ(runtime.manager().senders().count("t_gt_20"), 1u);
}

TEST(InputLeaves, AComparisonWithVariablesIsGroundedForEachSource) {
  auto runtime = compile_ok<LogProb>(R"(
temp(a) <- source("/temp/a", Number).
temp(b) <- source("/temp/b", Number).
cold(X) if temp(X) < 20.
)");
  EXPECT_THAT(runtime.manager().get_names(),
              ElementsAre("temp_a_lt_20", "-temp_a_lt_20", "temp_b_lt_20", "-temp_b_lt_20"));
  EXPECT_THAT(comparisons(runtime, "temp(a)"),
              ElementsAre(ComparisonEntry{20.0, false, "temp_a_lt_20"}));
  EXPECT_THAT(comparisons(runtime, "temp(b)"),
              ElementsAre(ComparisonEntry{20.0, false, "temp_b_lt_20"}));
  EXPECT_TRUE(runtime.manager().senders().contains("temp_a_lt_20"));
  EXPECT_TRUE(runtime.manager().senders().contains("temp_b_lt_20"));
}

TEST(InputLeaves, ComparisonsOnNoNumericSourceMakeNothing) {
  auto runtime = compile_ok<LogProb>(R"(
n <- source("/n", Number).
rain <- source("/rain", Probability).
hot if rain > 3.
cold if other < 3.
)");
  EXPECT_THAT(runtime.manager().get_names(), ElementsAre("rain", "-rain"));
  ASSERT_TRUE(runtime.comparisons_by_source().contains("n"));
  EXPECT_THAT(comparisons(runtime, "n"), IsEmpty());
  EXPECT_FALSE(runtime.comparisons_by_source().contains("rain"));
}

TEST(InputLeaves, CauseCountersRunPerHeadText) {
  auto runtime = compile_ok<LogProb>(R"(
a <- source("/a", Probability).
wet <- P(0.9) if a.
wet if not a.
wet <- P(0.2).
p(a) <- P(0.3).
p(b) <- P(0.4).
q(X) <- P(0.5) if a.
)");
  EXPECT_THAT(runtime.manager().get_names(),
              ElementsAre("a", "-a", "wet_cause_0", "-wet_cause_0", "wet_cause_1", "-wet_cause_1",
                          "p_a_cause_0", "-p_a_cause_0", "p_b_cause_0", "-p_b_cause_0"));
  // p(a) and p(b) carry P(0.3) and P(0.4): one group could not hold both values, so p(b) counts
  // on to a key of its own.
  EXPECT_EQ(runtime.parameter_groups().size(), 4u);
  EXPECT_THAT(runtime.parameter_groups().at("wet#0"), ElementsAre("wet_cause_0"));
  EXPECT_THAT(runtime.parameter_groups().at("wet#1"), ElementsAre("wet_cause_1"));
  EXPECT_THAT(runtime.parameter_groups().at("p#0"), ElementsAre("p_a_cause_0"));
  EXPECT_THAT(runtime.parameter_groups().at("p#1"), ElementsAre("p_b_cause_0"));
}

TEST(InputLeaves, TheNthClauseOfAPredicateIsKeyedByIt) {
  // The model's own w_cause_0 moves the cause's name, not its key; the clauses of h count in
  // statement order whatever their heads' arguments.
  auto runtime = compile_ok<LogProb>(R"(
x <- source("/x", Probability).
w_cause_0 if x.
w <- P(0.3) if x.
h(a) <- P(0.1).
h(b) <- P(0.2).
h(a) <- P(0.3).
)");
  EXPECT_EQ(runtime.parameter_groups().size(), 4u);
  EXPECT_THAT(runtime.parameter_groups().at("w#0"), ElementsAre("w_cause_1"));
  EXPECT_THAT(runtime.parameter_groups().at("h#0"), ElementsAre("h_a_cause_0"));
  EXPECT_THAT(runtime.parameter_groups().at("h#1"), ElementsAre("h_b_cause_0"));
  EXPECT_THAT(runtime.parameter_groups().at("h#2"), ElementsAre("h_a_cause_1"));
}

TEST(InputLeaves, CategoriesShareOneChannelAndStartEmpty) {
  auto runtime = compile_ok<LogProb>(R"(
{a, b, c} <- source("/abc", Categorical).
)",
                                     2);
  EXPECT_THAT(runtime.manager().get_names(), ElementsAre("a", "b", "c"));
  for (const Value& value : runtime.manager().get_values()) EXPECT_EQ(value, Value(2, 0.0));
  EXPECT_TRUE(runtime.manager().senders().contains("/abc"));
}

TEST(InputLeaves, VerboseCountsEveryLeafMadeBeforeSolving) {
  ::testing::internal::CaptureStdout();
  compile_ok<LogProb>(R"(
rain <- source("/rain", Probability).
wet <- P(0.9).
)",
                      1, true);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Talvo setup with 4 source signals\n");
}

template <class S>
class InputReaders : public ::testing::Test {};
TYPED_TEST_SUITE(InputReaders, AllSemirings, SemiringNames);

TYPED_TEST(InputReaders, ValuesOnAChannelReachTheLeafAndItsComplement) {
  auto runtime = compile_ok<TypeParam>(R"(
rain <- source("/rain", Probability).
temp <- source("/temp", Number).
hot if temp > 30.
)");
  ASSERT_TRUE(runtime.manager()
                  .get_or_create_sender("/rain")
                  .send({Value{0.25}, unix_timestamp().value()})
                  .has_value());
  ASSERT_TRUE(runtime.manager()
                  .get_or_create_sender("temp_gt_30")
                  .send({Value{1.0}, unix_timestamp().value()})
                  .has_value());
  wait_for_leaves(runtime,
                  {{"rain", 0.25}, {"-rain", 0.75}, {"temp_gt_30", 1.0}, {"-temp_gt_30", 0.0}});
}

}  // namespace
}  // namespace talvo
