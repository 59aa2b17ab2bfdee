// Mistakes in a model or in compile's arguments come back as error values that say what is wrong
// and where; nothing of the model is built.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "language/talvo_fixtures.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

struct Refusal {
  std::string text;
  std::string message;
  std::size_t value_size = 1;
  double update_threshold = 0.001;
};

constexpr std::string_view kTarget = "w if a. w -> target(\"/w\").\n";

/// A model that compiles, and the probability of its target "/t" worked out by hand.
struct Answer {
  std::string text = "a <- P(0.25). a -> target(\"/t\").";
  double probability = 0.25;
};

template <Semiring S>
void expect_refusals(const std::vector<Refusal>& refusals, const Answer& sound = {}) {
  for (const Refusal& refusal : refusals) {
    const auto compiled = Talvo<S>::compile(refusal.text, refusal.value_size, false, std::nullopt,
                                            refusal.update_threshold);
    ASSERT_FALSE(compiled.has_value()) << refusal.text.substr(0, 200);
    EXPECT_EQ(compiled.error().message(), refusal.message) << refusal.text.substr(0, 200);
  }
  // Refusals leave nothing behind, and a sound model near them compiles and answers.
  auto model = testing::compile_ok<S>(sound.text);
  EXPECT_NEAR(testing::update_target(model, "/t").value(), sound.probability, 1e-12);
}

/// `n` ones added up: a term nested n - 1 operations deep.
std::string sum_of_ones(std::size_t n) {
  std::string sum = "1";
  for (std::size_t i = 1; i < n; ++i) sum += "+1";
  return sum;
}

/// `count` lines that each hold the same mistake, and the message that lists the first of them.
std::pair<std::string, std::string> faulty_lines(std::size_t count, const std::string& line,
                                                 const std::string& message) {
  std::string text;
  std::string listed;
  for (std::size_t i = 1; i <= count; ++i) {
    text += line + "\n";
    if (i <= 20) listed += "line " + std::to_string(i) + ": " + message + "\n";
  }
  return {text, listed + "... and " + std::to_string(count - 20) + " more"};
}

TEST(CompileRefusals, ModelsWithMistakesNameTheLine) {
  const std::string a = "a <- source(\"/a\", Probability).\n";
  expect_refusals<LogProb>({
      {a + "b <- source(\"/b\", Probabilty).\n" + std::string(kTarget),
       "line 2: no statement form reads \"b <- source(\"/b\", Probabilty).\": the source type "
       "\"Probabilty\" is none of Probability, Density, Number, Boolean (Categorical for a braced "
       "list)"},
      {a + std::string(kTarget) + "dry if not w",
       "line 3: the statement \"dry if not w\" has no "
       "closing full stop"},
      {a + std::string("b.\0c.", 5), "line 2: the model text holds a NUL byte"},
      {a + "\n# again\na <- source(\"/b\", Number).",
       "line 4: the input atom \"a\" is already declared on line 1"},
      {a + "{b, a} <- source(\"/c\", Categorical).",
       "line 2: the input atom \"a\" is already declared on line 1"},
      {"{b} <- source(\"/a\", Categorical).\n" + a,
       "line 2: the channel \"/a\" already feeds the source declared on line 1"},
      {a + "{} <- source(\"/none\", Categorical).",
       "line 2: the categorical source on \"/none\" has no categories"},
      {"t(a, b) <- source(\"/t\", Probability).\nt(a,b) <- source(\"/u\", Probability).",
       "line 2: the input atom \"t(a,b)\" is already declared on line 1"},
      {a + "w <- P(1.0) if a.\nw <- P(1.5) if a.\n",
       "line 3: the probability 1.5 of \"w\" is above 1"},
  });
}

TEST(CompileRefusals, TextTheSolverRejectsCarriesItsMessagesByModelLine) {
  const std::pair<std::string, std::string> rejected[] = {
      {"a.\nw if 1a.\nw -> target(\"/w\").",
       "\nline 2: error: syntax error, unexpected <IDENTIFIER>"},
  };
  for (const auto& [text, message] : rejected) {
    const auto compiled = Talvo<LogProb>::compile(text);
    ASSERT_FALSE(compiled.has_value()) << text;
    EXPECT_THAT(compiled.error().message(),
                ::testing::AllOf(::testing::StartsWith("The solver rejects the model:\n"),
                                 ::testing::HasSubstr(message)));
  }
}

// A statement that would have no effect: a second target, or an atom that nothing makes true.
TEST(CompileRefusals, StatementsWithoutEffect) {
  const std::string inputs =
      "rain <- source(\"/rain\", Probability).\ntemp <- source(\"/temp\", Number).\n";
  expect_refusals<LogProb>(
      {
          {inputs + "wet if rain.\ndry if not rain.\nwet -> target(\"/wet\").\ndry -> "
                    "target(\"/dry\").",
           "line 6: a second target: a model answers one target, and line 5 already gives it"},
          {inputs + "wet if rian.\nwet -> target(\"/wet\").",
           "line 3: nothing defines \"rian\": no source, category, fact or rule makes it true"},
          {inputs + "wet if rain.\ndry if not wet(a).\nwte -> target(\"/wet\").",
           "line 4: nothing defines \"wet(a)\": no source, category, fact or rule makes it true\n"
           "line 5: nothing defines \"wte\": no source, category, fact or rule makes it true"},
          {inputs + "hot if temp.\nhot -> target(\"/hot\").",
           "line 3: \"temp\" is a Number or Density source: a body reads it only through a "
           "comparison with a number (\"<\" or \">\"), and alone it is never true"},
          {inputs + "hot if rain > 0.5.\nhot(X) if room(X) and temp(X) > 20.\nroom(k1).\nhot -> "
                    "target(\"/hot\").",
           "line 3: the comparison on \"rain\" reads no Number or Density source, so it never "
           "holds\nline 4: the comparison on \"temp(X)\" reads no Number or Density source, so it "
           "never holds"},
      },
      // Unused inputs, a predicate that a source or a head with variables defines, a fact
      // written as a sum: nothing here is refused. P(t) = P(warm(k1)) = 0.5.
      {inputs + "t(k1) <- source(\"/t\", Probability).\np(1+1).\nroom(k1).\n"
                "warm(X) <- P(0.5) if room(X).\nnear(X) if room(X) and not t(k2).\n"
                "t if p(2) and warm(k1) and near(k1).\nt -> target(\"/t\").",
       0.5});
}

// Texts that once overflowed the solver's stack or took quadratic time return at once.
TEST(CompileRefusals, HugeTextsReturn) {
  const std::string deep = sum_of_ones(100'000);
  const std::string cut = "\"" + deep.substr(0, 100) + "...\" (199999 bytes)";
  std::string nots;
  for (int i = 0; i < 100'000; ++i) nots += "not ";
  expect_refusals<LogProb>(
      {
          {"q(1).\np(X) if q(X).\np(" + deep + ") -> target(\"/p\").",
           "line 3: the argument " + cut + " nests 99999 operations; a term may nest at most 1000"},
          {"q(1).\nw if q(" + deep + ").\nw -> target(\"/w\").",
           "line 2: the argument " + cut + " nests 99999 operations; a term may nest at most 1000"},
          {"a <- P(0.5).\nw if " + nots + "a.\nw -> target(\"/w\").",
           "The solver rejects the model:\nline 2: error: syntax error, unexpected not"},
      },
      {"p(" + sum_of_ones(1001) + ") <- P(0.25).\np(1001) -> target(\"/t\").", 0.25});
}

// Messages quote what the user wrote, say how to mend it, and stay short.
TEST(CompileRefusals, MessagesSayWhatWasWrittenAndHowToMendIt) {
  const std::string upper =
      "begins with an upper-case letter, which makes it a variable: an atom begins with a "
      "lower-case letter";
  const std::string ascii_only = ": the solver reads atoms written in ASCII only";
  const std::string long_statement = std::string(200'000, 'x') + " y.";
  const auto [unread_text, unread_message] =
      faulty_lines(25, "nonsense here.", "no statement form reads \"nonsense here.\"");
  const auto [rejected_text, rejected_message] =
      faulty_lines(25, "w if a and 1b.", "error: syntax error, unexpected <IDENTIFIER>");
  expect_refusals<LogProb>(
      {
          {"Rain <- source(\"/r\", Probability).\nw if Rain.\nw -> target(\"/w\").",
           "line 1: the atom \"Rain\" " + upper + "\nline 2: the atom \"Rain\" " + upper},
          {"q(a).\np(X) <- P(0.5) if not q(X).\np(a) -> target(\"/p\").",
           "The solver rejects the model:\nline 2: error: the variable X is unsafe: every variable "
           "must occur in a body literal without \"not\""},
          {long_statement, "line 1: no statement form reads \"" + long_statement.substr(0, 100) +
                               "...\" (200003 bytes)"},
          {unread_text, unread_message},
          {rejected_text + "a <- P(0.5).\nw -> target(\"/w\").",
           "The solver rejects the model:\n" + rejected_message},
          // A near miss says what the form wants, and no atom it would define is reported.
          {"w <- P(1).\nw -> target(\"/w\").",
           "line 1: no statement form reads \"w <- P(1).\": a probability is written as 0 or 1, a "
           "point and digits, such as P(0.9) or P(1.0)"},
          {"t <- source(\"/t\", Number).\nw if t >= 3.\nw -> target(\"/w\").",
           "line 2: no statement form reads \"w if t >= 3.\": a comparison is \"<\" or \">\" with "
           "a number; there is no \">=\", \"<=\" or \"=\""},
          {"a <- sorce(\"/a\", Probability).\nw if a.\nw -> traget(\"/w\").",
           "line 1: no statement form reads \"a <- sorce(\"/a\", Probability).\": after \"<-\" "
           "comes source(\"/topic\", Type) or P(probability), not \"sorce\"\nline 3: no statement "
           "form reads \"w -> traget(\"/w\").\": after \"->\" comes target(\"/topic\"), not "
           "\"traget\""},
          {"a <- source(\"a\", Probability).\nw :- a, not p(a, b).\nw -> target(\"/w\").",
           "line 1: no statement form reads \"a <- source(\"a\", Probability).\": a channel name "
           "begins with \"/\": write \"/a\"\nline 2: no statement form reads \"w :- a, not p(a, "
           "b).\": a body begins with \"if\", not \":-\"; the literals of a body are joined by "
           "\"and\", not \",\""},
          // Each character once, on each line that holds it.
          {"r\u00e9gen if rain and not r\u00e9gen(\u00e9\u00df).\nrain <- P(0.5).\nr\u00e9gen -> "
           "target(\"/r\").",
           "line 1: the atom \"r\u00e9gen\" holds \"\u00e9\" (U+00E9)" + ascii_only +
               "\nline 1: the atom \"r\u00e9gen(\u00e9\u00df)\" holds \"\u00e9\" (U+00E9), "
               "\"\u00df\" (U+00DF)" +
               ascii_only + "\nline 3: the atom \"r\u00e9gen\" holds \"\u00e9\" (U+00E9)" +
               ascii_only},
          {"h(a).\nh(X) -> target(\"/h\").",
           "line 2: the target \"h(X)\" holds the variable X: a target is one ground atom"},
          // A line the solver does not read hides no unsafe variable on another, and the
          // solver's messages come back with the other mistakes.
          {"q(a).\nw if q(a) and 1b.\np(X) if not q(X).\nw -> target(\"/w\").",
           "The solver rejects the model:\nline 2: error: syntax error, unexpected <IDENTIFIER>\n"
           "line 3: error: the variable X is unsafe: every variable must occur in a body literal "
           "without \"not\""},
          {"q(a).\nt if rian.\np(X) if not q(X).\nt -> target(\"/t\").",
           "line 2: nothing defines \"rian\": no source, category, fact or rule makes it true\n"
           "line 3: error: the variable X is unsafe: every variable must occur in a body literal "
           "without \"not\""},
      },
      // A byte order mark before the first line is no part of the model.
      {"\xEF\xBB\xBF"
       "a <- P(0.25).\na -> target(\"/t\").",
       0.25});
}

TEST(CompileRefusals, ArgumentsOutsideTheirRange) {
  const std::string model = "a <- P(0.5). a -> target(\"/a\").";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  expect_refusals<LogProb>({
      {model, "value_size must be at least 1", 0},
      {model,
       "value_size 1099511627776 is too large: a value vector of that many entries cannot be "
       "allocated",
       std::size_t{1} << 40},
      {model, "update_threshold must be a finite number of at least 0, got nan", 1, nan},
      {model, "update_threshold must be a finite number of at least 0, got -1.000000", 1, -1.0},
      {model, "update_threshold must be a finite number of at least 0, got inf", 1, inf},
  });
  expect_refusals<ProbGradient>({
      {model, "ProbGradient does not support batching (value_size must be 1, got 0)", 0},
      {model, "ProbGradient does not support batching (value_size must be 1, got 2)", 2},
  });
}

}  // namespace
}  // namespace talvo
