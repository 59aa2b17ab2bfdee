#include "language/program.hpp"

#include <gtest/gtest.h>

#include <string>

#include "language/models.hpp"
#include "language/parse_model.hpp"

namespace talvo::detail {
namespace {

using testing::comparisons_of;
using testing::parse_model;

// The program of a model, with its comparisons recorded as compilation records them.
std::string program_of(std::string_view text) {
  const auto model = parse_model(text);
  return generate_program(model.clauses, model.sources, model.categorical_sources,
                          model.targets.at(0), comparisons_of(model));
}

TEST(Program, GroundModel) {
  EXPECT_EQ(program_of(testing::kGardenModel),
            "{rain}.\n"
            "{temp_gt_25}.\n"
            "{sprinkler}.\n"
            "1 { sunny ; cloudy } 1.\n"
            "{wet_cause_0}.\n"
            "wet :- wet_cause_0, rain.\n"
            "wet :- sprinkler, not sunny.\n"
            "hot :- temp_gt_25.\n"
            ":- not wet.\n");
}

TEST(Program, VariableHeadAndParameterizedComparison) {
  EXPECT_EQ(program_of(testing::kRoomModel),
            "{temp_k1_gt_20}.\n"
            "talvo_temp_gt_20(k1) :- temp_k1_gt_20.\n"
            "room(k1).\n"
            "{warm_cause_0(X)} :- room(X).\n"
            "talvo_open_warm_cause_0(X) :- room(X).\n"
            "warm(X) :- warm_cause_0(X), room(X), talvo_temp_gt_20(X).\n"
            ":- not warm(k1).\n");
}

TEST(Program, OnlySourcesThatABodyUsesAreChosen) {
  EXPECT_EQ(program_of(R"(
rain <- source("/rain", Probability).
snow <- source("/snow", Probability).
dry if not rain.
dry -> target("/dry").
)"),
            "{rain}.\ndry :- not rain.\n:- not dry.\n");

  // A variable literal uses every source of its predicate; a constant one only its own atom.
  const std::string sources = R"(
temp(k1) <- source("/k1", Probability).
temp(k2) <- source("/k2", Boolean).
temp(k1) <- source("/k1b", Probability).
)";
  EXPECT_EQ(program_of(sources + "hot(X) if temp(X). hot(k1) -> target(\"/h\")."),
            "{temp(k1)}.\n{temp(k2)}.\n{temp(k1)}.\nhot(X) :- temp(X).\n:- not hot(k1).\n");
  EXPECT_EQ(program_of(sources + "hot if temp(k1). hot -> target(\"/h\")."),
            "{temp(k1)}.\n{temp(k1)}.\nhot :- temp(k1).\n:- not hot.\n");
  EXPECT_EQ(program_of(sources + "hot if not not temp(k2). hot -> target(\"/h\")."),
            "{temp(k2)}.\nhot :- not not temp(k2).\n:- not hot.\n");
}

TEST(Program, NegationWithAnyWhiteSpaceIsStripped) {
  // "not" with two blanks or a tab negates the source as the solver reads it, so the literal uses
  // the source (else it would never be chosen) and is no domain literal.
  EXPECT_EQ(program_of(R"(
rain <- source("/rain", Probability).
dry if not  rain.
wet(X) <- P(0.5) if not	rain and room(X).
dry -> target("/dry").
)"),
            "{rain}.\n"
            "dry :- not  rain.\n"
            "{wet_cause_0(X)} :- room(X).\n"
            "talvo_open_wet_cause_0(X) :- room(X).\n"
            "wet(X) :- wet_cause_0(X), not\train, room(X).\n"
            ":- not dry.\n");
}

TEST(Program, CauseNumbersCountProbabilisticClausesPerHead) {
  EXPECT_EQ(program_of(R"(
wet <- P(0.1).
wet if rain.
wet <- P(0.2) if rain.
p(X) <- P(0.3) if q(X).
p(X) <- P(0.4) if not q(X).
p(a) <- P(0.5).
wet -> target("/wet").
)"),
            "{wet_cause_0}.\n"
            "wet :- wet_cause_0.\n"
            "wet :- rain.\n"
            "{wet_cause_1}.\n"
            "wet :- wet_cause_1, rain.\n"
            "{p_cause_0(X)} :- q(X).\n"
            "talvo_open_p_cause_0(X) :- q(X).\n"
            "p(X) :- p_cause_0(X), q(X).\n"
            "{p_cause_1(X)} :- not q(X).\n"
            "talvo_open_p_cause_1(X) :- not q(X).\n"
            "p(X) :- p_cause_1(X), not q(X).\n"
            "{p_a_cause_0}.\n"
            "p(a) :- p_a_cause_0.\n"
            ":- not wet.\n");
}

TEST(Program, ComparisonPredicateRulesAreWrittenOnce) {
  EXPECT_EQ(program_of(R"(
temp(k1) <- source("/k1", Number).
temp(k2) <- source("/k2", Density).
temp <- source("/t", Number).
level(k1) <- source("/l", Number).
warm(X) <- P(0.5) if temp(X) > 20.
cosy(X) if temp(X) > 20 and level(X) < 3.
warm(k1) -> target("/w").
)"),
            "{temp_k1_gt_20}.\n"
            "{temp_k2_gt_20}.\n"
            "{temp_gt_20}.\n"
            "{level_k1_lt_3}.\n"
            "talvo_temp_gt_20(k1) :- temp_k1_gt_20.\n"
            "talvo_temp_gt_20(k2) :- temp_k2_gt_20.\n"
            "talvo_level_lt_3(k1) :- level_k1_lt_3.\n"
            // No domain literal binds X, so the cause ranges over the whole body.
            "{warm_cause_0(X)} :- talvo_temp_gt_20(X).\n"
            "talvo_open_warm_cause_0(X) :- talvo_temp_gt_20(X).\n"
            "warm(X) :- warm_cause_0(X), talvo_temp_gt_20(X).\n"
            "cosy(X) :- talvo_temp_gt_20(X), talvo_level_lt_3(X).\n"
            ":- not warm(k1).\n");
}

TEST(Program, CategoriesAndTargets) {
  // Categorical choices are written whether or not a body uses them; only the first target counts.
  EXPECT_EQ(program_of(R"(
{a, b, c} <- source("/abc", Categorical).
{, } <- source("/none", Categorical).
x <- source("/x", Number).
y.
y -> target("/y").
a -> target("/a").
)"),
            "1 { a ; b ; c } 1.\n"
            "1 {  } 1.\n"
            "y.\n"
            ":- not y.\n");
}

}  // namespace
}  // namespace talvo::detail
