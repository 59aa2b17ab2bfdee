#include "language/matching.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "language/models.hpp"
#include "language/parse_model.hpp"

namespace talvo::detail {
namespace {

using testing::Form;
using testing::kGardenModel;
using testing::kRoomModel;
using testing::parse_model;
using Strings = std::vector<std::string>;

TEST(Grammar, GroundModelIsReadStatementByStatement) {
  const auto model = parse_model(kGardenModel);
  EXPECT_EQ(model.forms,
            (std::vector<Form>{Form::Source, Form::Source, Form::Source, Form::Categorical,
                               Form::Clause, Form::Clause, Form::Clause, Form::Target}));
  EXPECT_EQ(model.sources,
            (std::vector<Source>{{"rain", "/weather/rain", Dtype::Probability},
                                 {"temp", "/weather/temp", Dtype::Number},
                                 {"sprinkler", "/garden/sprinkler", Dtype::Boolean}}));
  EXPECT_EQ(model.categorical_sources,
            (std::vector<CategoricalSource>{{{"sunny", "cloudy"}, "/sky"}}));
  EXPECT_EQ(model.targets, (std::vector<Target>{{"wet", "/garden/wet"}}));

  ASSERT_EQ(model.clauses.size(), 3u);
  EXPECT_EQ(model.clauses[0], (Clause{0.9, "wet", {"rain"}, {}}));
  EXPECT_EQ(model.clauses[1], (Clause{std::nullopt, "wet", {"sprinkler", "not sunny"}, {}}));
  EXPECT_EQ(
      model.clauses[2],
      (Clause{std::nullopt, "hot", {"temp_gt_25"}, {{"temp", "temp_gt_25", 25.0, '>', false}}}));
}

TEST(Grammar, VariableModelKeepsArgumentsAndParameterizesComparisons) {
  const auto model = parse_model(kRoomModel);
  EXPECT_EQ(model.forms,
            (std::vector<Form>{Form::Source, Form::Clause, Form::Clause, Form::Target}));
  EXPECT_EQ(model.sources, (std::vector<Source>{{"temp(k1)", "/room/k1/temp", Dtype::Number}}));
  EXPECT_EQ(model.clauses[0], (Clause{std::nullopt, "room(k1)", {}, {}}));
  EXPECT_EQ(model.clauses[1], (Clause{0.8,
                                      "warm(X)",
                                      {"room(X)", "talvo_temp_gt_20(X)"},
                                      {{"temp(X)", "talvo_temp_gt_20(X)", 20.0, '>', true}}}));
  EXPECT_EQ(model.targets, (std::vector<Target>{{"warm(k1)", "/room/k1/warm"}}));
}

TEST(Grammar, ParsersAcceptOnlyTheirOwnForm) {
  const std::string source = R"(rain <- source("/weather/rain", Probability).)";
  const std::string categorical = R"({a, b} <- source("/c", Categorical).)";
  const std::string target = R"(wet -> target("/garden/wet").)";
  EXPECT_FALSE(CategoricalSource::from_str(source));
  EXPECT_FALSE(Target::from_str(source));
  EXPECT_FALSE(Clause::from_str(source));
  EXPECT_FALSE(Source::from_str(categorical));
  EXPECT_FALSE(Clause::from_str(categorical));
  EXPECT_FALSE(Source::from_str(target));
  EXPECT_FALSE(Clause::from_str(target));
  EXPECT_EQ(Source::from_str(R"(d <- source("/d", Density).)")->dtype, Dtype::Density);
}

TEST(Grammar, MisspelledStatementsMatchNoForm) {
  for (const std::string statement : {
           R"(temp <- source("/weather/temp", Numbr).)",       // unknown data type
           R"(rain <- source("weather/rain", Probability).)",  // topic without leading slash
           R"(rain <- sorce("/weather/rain", Probability).)",
           R"({sunny cloudy} <- source("/sky", Categorical).)",  // categories without comma
           R"({a, b} <- source("/sky", Probability).)",
           R"(wet -> target(/garden/wet).)",
           R"(wet <- P(1) if rain.)",  // probability without a point
           R"(wet <- P(-0.5).)",
           R"(wet <- P(0.5) rain.)",
           R"(wet if rain adn sprinkler.)",
           R"(wet if rain and.)",
           R"(wet if .)",
           R"(:- not wet.)",  // no atom may be read out of the middle of a statement
           R"(hot if temp > .)",
           ".",
       }) {
    SCOPED_TRACE(statement);
    EXPECT_EQ(parse_model(statement).forms, std::vector<Form>{Form::None});
  }
}

TEST(Grammar, ClauseBodies) {
  const auto clause = [](std::string_view s) { return Clause::from_str(s).value(); };
  // A fact, a probabilistic fact, and P(...) keeping its decimal point.
  EXPECT_EQ(clause("wet."), (Clause{std::nullopt, "wet", {}, {}}));
  EXPECT_EQ(clause("wet <- P(0.25)."), (Clause{0.25, "wet", {}, {}}));
  EXPECT_EQ(clause("wet<-P( 1.0 )if rain."), (Clause{1.0, "wet", {"rain"}, {}}));
  EXPECT_EQ(clause("wet <- P(1.000).").probability, 1.0);
  // The written form is 0 or 1, a point and digits; the value itself is not checked.
  EXPECT_EQ(clause("wet <- P(1.5).").probability, 1.5);
  // Negations keep the white space written after them; repeated negations stay in one literal.
  EXPECT_EQ(clause("a if not  b and not\tc and not not d.").literals,
            (Strings{"not  b", "not\tc", "not not d"}));
  // An atom that merely begins with a keyword is an atom.
  EXPECT_EQ(clause("a if nothing and andy and iffy.").literals,
            (Strings{"nothing", "andy", "iffy"}));
  // A negated comparison, a negative threshold without blanks, two comparisons with one name.
  const Clause c = clause("a if not t<20 and temp(a)>-2.5 and t < 20.0.");
  EXPECT_EQ(c.literals, (Strings{"not t_lt_20", "temp_a_gt_neg2_5", "t_lt_20"}));
  ASSERT_EQ(c.comparisons.size(), 3u);
  EXPECT_EQ(c.comparisons[1], (ComparisonLiteral{"temp(a)", "temp_a_gt_neg2_5", -2.5, '>', false}));
  // Several variables in a comparison.
  EXPECT_EQ(clause("a(X, Y) if d(X, Y) < 3.").comparisons,
            (std::vector<ComparisonLiteral>{{"d(X, Y)", "talvo_d_lt_3(X, Y)", 3.0, '<', true}}));
}

TEST(Grammar, CategoricalSources) {
  EXPECT_EQ(CategoricalSource::from_str(R"({ a ,b,  c } <- source("/x/y", Categorical).)"),
            (CategoricalSource{{"a", "b", "c"}, "/x/y"}));
  EXPECT_EQ(CategoricalSource::from_str(R"({ , ,} <- source("/x", Categorical).)"),
            (CategoricalSource{{}, "/x"}));
  EXPECT_EQ(CategoricalSource::from_str(R"({c(1), c(2)} <- source("/x", Categorical).)"),
            (CategoricalSource{{"c(1)", "c(2)"}, "/x"}));
}

TEST(Grammar, UnicodeLettersAndWhiteSpace) {
  const auto model = parse_model(
      "\u3000größe <- source(\"/maße/größe\", Probability).\u00a0\n"
      "wärme(Ä) <- P(0.5) if größe and ñ(Ä).\n");
  EXPECT_EQ(model.sources, (std::vector<Source>{{"größe", "/maße/größe", Dtype::Probability}}));
  ASSERT_EQ(model.clauses.size(), 1u);
  EXPECT_EQ(model.clauses[0].literals, (Strings{"größe", "ñ(Ä)"}));
  EXPECT_TRUE(has_variable_arg(model.clauses[0].head));
  EXPECT_EQ(cause_atom_name("wärme(ä)", 0), "wärme_ä_cause_0");
  EXPECT_EQ(canonical_comparison_name("ü·x", '<', 1.5), "ü_x_lt_1_5");
}

TEST(Grammar, MalformedUtf8MatchesNothing) {
  for (const std::string& statement : {std::string("r\xff <- source(\"/a\", Probability)."),
                                      std::string("wet if r\xc3."), std::string("\xed\xa0\x80.")}) {
    EXPECT_EQ(parse_model(statement).forms, std::vector<Form>{Form::None});
  }
}

TEST(LineReading, CommentsBlankLinesAndLineEnds) {
  EXPECT_EQ(read_model_lines(""), "");
  EXPECT_EQ(read_model_lines("# only a comment\n\n   \n"), "");
  EXPECT_EQ(read_model_lines("a <- P(0.5) # the prior\n  if b.  \n"), "a <- P(0.5) if b.");
  // A "#" ends the line even inside quotes.
  EXPECT_EQ(read_model_lines(R"(a <- source("/x#y", Number).)"), R"(a <- source("/x)");
  EXPECT_EQ(read_model_lines("a.\r\nb\r\nif c.\r\n"), read_model_lines("a.\nb\nif c.\n"));
  EXPECT_EQ(read_model_lines("a.\r\nb.\r"), "a. b.");
}

TEST(LineReading, StatementsOverSeveralLines) {
  const auto model = parse_model(
      "warm(X) <- P(0.8)\r\n"
      "  if room(X)   # rooms only\r\n"
      "  and temp(X) > 20.\r\n"
      "wet.\n"
      "dry if wet");  // no full stop: dropped
  EXPECT_EQ(model.forms, (std::vector<Form>{Form::Clause, Form::Clause}));
  EXPECT_EQ(model.clauses[0].literals, (Strings{"room(X)", "talvo_temp_gt_20(X)"}));
}

TEST(Splitting, FullStopsEndStatementsUnlessADigitFollows) {
  EXPECT_EQ(split_statements(""), Strings{});
  EXPECT_EQ(split_statements("no full stop"), Strings{});
  EXPECT_EQ(split_statements("a <- P(0.25) if b.c.  d. e"),
            (Strings{"a <- P(0.25) if b.", "c.", "d."}));
  EXPECT_EQ(split_statements(" . .x"), (Strings{".", "."}));
  EXPECT_EQ(split_statements("t > 2.5.\u2003u."), (Strings{"t > 2.5.", "u."}));
}

TEST(Names, CauseAndComparisonNames) {
  EXPECT_EQ(cause_atom_name("alarm", 0), "alarm_cause_0");
  EXPECT_EQ(cause_atom_name("p(a)", 0), "p_a_cause_0");
  EXPECT_EQ(cause_atom_name("p(a, b)", 12), "p_a__b_cause_12");
  EXPECT_EQ(cause_atom_name("", 1), "_cause_1");
  EXPECT_EQ(cause_atom_base_name("warm(X)", 0), "warm_cause_0");
  EXPECT_EQ(cause_atom_base_name("warm", 3), "warm_cause_3");

  EXPECT_EQ(canonical_comparison_name("t", '<', 20.0), "t_lt_20");
  EXPECT_EQ(canonical_comparison_name("temp(a)", '>', -2.5), "temp_a_gt_neg2_5");
  EXPECT_EQ(canonical_comparison_name("_t_", '>', 0.1), "t_gt_0_1");
  EXPECT_EQ(canonical_comparison_name("t", '>', 1e21), "t_gt_1000000000000000000000");
  EXPECT_EQ(canonical_comparison_name("t", '>', 1e-7), "t_gt_0_0000001");
  EXPECT_EQ(parameterized_comparison_predicate("temp", '>', 20.0), "talvo_temp_gt_20");
  EXPECT_EQ(parameterized_comparison_predicate("a_b", '<', -0.5), "talvo_a_b_lt_neg0_5");

  // Thresholds beyond a double's range do not break the reading.
  const auto huge = Clause::from_str("a if t > " + std::string(400, '9') + ".");
  EXPECT_EQ(huge->comparisons.at(0).name, "t_gt_inf");
}

TEST(Names, VariablesAndArguments) {
  EXPECT_TRUE(has_variable_arg("X"));
  EXPECT_TRUE(has_variable_arg("temp(k1, Y)"));
  EXPECT_TRUE(has_variable_arg("p( Ärger )"));
  EXPECT_FALSE(has_variable_arg(""));
  EXPECT_FALSE(has_variable_arg("x"));
  EXPECT_FALSE(has_variable_arg("temp(k1)"));
  EXPECT_FALSE(has_variable_arg("p()"));
  EXPECT_FALSE(has_variable_arg("p("));
  EXPECT_FALSE(has_variable_arg("p(X"));  // the last character is taken as the parenthesis
  EXPECT_TRUE(has_variable_arg("p(X,"));

  EXPECT_EQ(args_of(""), std::nullopt);
  EXPECT_EQ(args_of("temp"), std::nullopt);
  EXPECT_EQ(args_of("temp(k1"), std::nullopt);
  EXPECT_EQ(args_of(")temp("), std::nullopt);
  EXPECT_EQ(args_of("p()"), Strings{""});
  EXPECT_EQ(args_of("p( a , ,b )"), (Strings{"a", "", "b"}));
  EXPECT_EQ(args_of("p(f(a), b)"), (Strings{"f(a)", "b"}));
  EXPECT_EQ(atom_base("temp(k1)"), "temp");
  EXPECT_EQ(atom_base("temp"), "temp");
}

TEST(Names, GroundingComparisons) {
  const ComparisonLiteral by_room{"temp(X)", "talvo_temp_gt_20(X)", 20.0, '>', true};
  EXPECT_EQ(by_room.ground_for("temp(k1)"),
            (ComparisonLiteral{"temp(k1)", "temp_k1_gt_20", 20.0, '>', false}));
  EXPECT_EQ(by_room.ground_for("temp"),
            (ComparisonLiteral{"temp", "temp_gt_20", 20.0, '>', false}));
  EXPECT_EQ(by_room.ground_for("tempo(k1)"), std::nullopt);
  EXPECT_EQ(by_room.ground_for("temp(k1, k2)"), std::nullopt);

  const ComparisonLiteral mixed{"d(X, a)", "talvo_d_lt_1(X, a)", 1.0, '<', true};
  // Named from the atom as the solver writes it: the blank after the comma goes.
  EXPECT_EQ(mixed.ground_for("d(b, a)")->name, "d_b_a_lt_1");
  EXPECT_EQ(mixed.ground_for("d(b, c)"), std::nullopt);

  const ComparisonLiteral ground{"temp(k1)", "temp_k1_gt_20", 20.0, '>', false};
  EXPECT_EQ(ground.ground_for("temp(k1)"), std::nullopt);
}

TEST(Clauses, ToAsp) {
  EXPECT_EQ((Clause{std::nullopt, "wet", {}, {}}).to_asp(), "wet.\n");
  EXPECT_EQ((Clause{0.5, "wet", {}, {}}).to_asp(), "{wet}.\n");
  EXPECT_EQ((Clause{std::nullopt, "wet", {"rain", "not sunny"}, {}}).to_asp(),
            "wet :- rain, not sunny.\n");
}

}  // namespace
}  // namespace talvo::detail
