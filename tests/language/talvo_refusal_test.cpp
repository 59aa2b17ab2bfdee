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

template <Semiring S>
void expect_refusals(const std::vector<Refusal>& refusals) {
  for (const Refusal& refusal : refusals) {
    const auto compiled = Talvo<S>::compile(refusal.text, refusal.value_size, false, std::nullopt,
                                            refusal.update_threshold);
    ASSERT_FALSE(compiled.has_value()) << refusal.text;
    EXPECT_EQ(compiled.error().message(), refusal.message) << refusal.text;
  }
  // Refusals leave nothing behind: the next model compiles and answers.
  auto model = testing::compile_ok<S>("a <- P(0.25). a -> target(\"/a\").");
  EXPECT_NEAR(testing::update_target(model, "/a").value(), 0.25, 1e-12);
}

TEST(CompileRefusals, ModelsWithMistakesNameTheLine) {
  const std::string a = "a <- source(\"/a\", Probability).\n";
  expect_refusals<LogProb>({
      {a + "b <- source(\"/b\", Probabilty).\n" + std::string(kTarget),
       "line 2: no statement form reads \"b <- source(\"/b\", Probabilty).\""},
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
      {"Rain <- source(\"/r\", Probability).\nw if Rain.\nw -> target(\"/w\").",
       "\nline 1: error: syntax error, unexpected }\nline 2: error: syntax error, unexpected ."},
      {"a.\nw if 1a.\nw -> target(\"/w\").",
       "\nline 2: error: syntax error, unexpected <IDENTIFIER>"},
      {"w if w\u00e4rme.\nw -> target(\"/w\").", "\nline 1: error: lexer error, unexpected"},
      {"q(a).\np(X) <- P(0.5) if not q(X).\np(a) -> target(\"/p\").",
       "\nline 2: note: 'X' is unsafe"},
  };
  for (const auto& [text, message] : rejected) {
    const auto compiled = Talvo<LogProb>::compile(text);
    ASSERT_FALSE(compiled.has_value()) << text;
    EXPECT_THAT(compiled.error().message(),
                ::testing::AllOf(::testing::StartsWith("The solver rejects the model:\n"),
                                 ::testing::HasSubstr(message)));
  }
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
