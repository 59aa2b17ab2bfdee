#include "language/asp.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "expect_panic.hpp"
#include "language/clingo_c.hpp"

namespace talvo::detail {
namespace {

// Two atoms to choose from, never both: the models are {}, {a} and {b}.
constexpr const char* choice = "{a; b}.\n:- a, b.\nc.\n";

std::vector<Conjunction> sorted_models(std::vector<Conjunction> models) {
  for (auto& model : models) std::ranges::sort(model);
  std::ranges::sort(models);
  return models;
}

std::string limit_message(int max_models) {
  return "Stable model limit exceeded: found more than " + std::to_string(max_models) +
         " stable model(s). Simplify the program or increase max_models.";
}

TEST(ClingoBinding, DeclarationsMatchTheInstalledLibrary) {
  int major = 0, minor = 0, revision = 0;
  clingo_version(&major, &minor, &revision);
  EXPECT_EQ(major, 5);
  EXPECT_GE(minor, 4);
}

TEST(Solve, EveryModelIsOneConjunctionOfTrueAtomsThenNegatedFalseAtoms) {
  const Result<Dnf> dnf = asp::solve(choice, std::nullopt);
  ASSERT_TRUE(dnf.has_value()) << dnf.error().message();
  const std::vector<Conjunction> expected{{"-a", "-b", "c"}, {"-a", "b", "c"}, {"-b", "a", "c"}};
  EXPECT_EQ(sorted_models(dnf->texts()), expected);
  for (const Conjunction& conjunction : dnf->texts()) {
    // The true atoms, the fact among them, come before every negated atom.
    const auto first_negated =
        std::ranges::find_if(conjunction, [](const Literal& l) { return l.starts_with('-'); });
    EXPECT_TRUE(std::all_of(first_negated, conjunction.end(),
                            [](const Literal& l) { return l.starts_with('-'); }));
    EXPECT_NE(std::find(conjunction.begin(), first_negated, "c"), first_negated);
  }
}

TEST(Solve, AtomsKeepTheSolversRendering) {
  const Result<Dnf> dnf = asp::solve("warm_cause_0(k1). hot(\"x\", 2) :- warm_cause_0(k1).", {});
  ASSERT_TRUE(dnf.has_value());
  ASSERT_EQ(dnf->texts().size(), 1u);
  EXPECT_EQ(sorted_models(dnf->texts())[0], (Conjunction{"hot(\"x\",2)", "warm_cause_0(k1)"}));
}

TEST(Solve, FalseClassicallyNegatedAtomLosesItsMinus) {
  const Result<Dnf> dnf = asp::solve("{hot}.\n-hot :- not hot.\n", std::nullopt);
  ASSERT_TRUE(dnf.has_value());
  // With `hot` false, `-hot` is true and the false `hot` reads "-hot"; with `hot` true, the false
  // `-hot` reads "hot".
  EXPECT_EQ(sorted_models(dnf->texts()),
            (std::vector<Conjunction>{{"-hot", "-hot"}, {"hot", "hot"}}));
}

TEST(Solve, ProgramWithoutStableModelsGivesAnEmptyFormula) {
  for (const std::optional<std::size_t> limit : {std::optional<std::size_t>{}, {0}, {3}}) {
    const Result<Dnf> dnf = asp::solve("a :- not a.", limit);
    ASSERT_TRUE(dnf.has_value());
    EXPECT_TRUE(dnf->texts().empty());
  }
}

TEST(Solve, EmptyProgramHasOneEmptyModel) {
  const Result<Dnf> dnf = asp::solve("", std::nullopt);
  ASSERT_TRUE(dnf.has_value());
  EXPECT_EQ(dnf->texts(), std::vector<Conjunction>{Conjunction{}});
}

TEST(Solve, ModelLimit) {
  {
    const Result<Dnf> dnf = asp::solve("a.", 0);
    ASSERT_FALSE(dnf.has_value());
    EXPECT_EQ(dnf.error().message(), limit_message(0));
  }
  {
    const Result<Dnf> dnf = asp::solve(choice, 0);
    ASSERT_FALSE(dnf.has_value());
    EXPECT_EQ(dnf.error().message(), limit_message(0));
  }
  {
    const Result<Dnf> dnf = asp::solve(choice, 3);
    ASSERT_TRUE(dnf.has_value());
    EXPECT_EQ(dnf->texts().size(), 3u);
  }
  {
    const Result<Dnf> dnf = asp::solve(choice, 2);
    ASSERT_FALSE(dnf.has_value());
    EXPECT_EQ(dnf.error().message(), limit_message(2));
  }
}

TEST(Solve, SolverCallsAfterAnEarlyReturnStillWork) {
  // The limit leaves a search unfinished; the next call starts from a fresh solver.
  ASSERT_FALSE(asp::solve(choice, 1).has_value());
  const Result<Dnf> dnf = asp::solve(choice, std::nullopt);
  ASSERT_TRUE(dnf.has_value());
  EXPECT_EQ(dnf->texts().size(), 3u);
}

TEST(Solve, AProgramTheSolverRejectsIsRefusedWithItsMessages) {
  const auto unparsed = asp::solve("a.\na :- b", std::nullopt);
  ASSERT_FALSE(unparsed.has_value());
  EXPECT_EQ(unparsed.error().message(),
            "The solver rejects the model:\n<block>:3:1-2: error: syntax error, unexpected EOF");

  // An unsafe variable parses but cannot be grounded; each place is named by the locator.
  const auto unsafe = asp::solve("a.\np(X) :- not q(X).", std::nullopt,
                                 [](std::size_t line) { return "at " + std::to_string(line); });
  ASSERT_FALSE(unsafe.has_value());
  EXPECT_EQ(unsafe.error().message(),
            "The solver rejects the model:\nat 2: error: the variable X is unsafe: every variable "
            "must occur in a body literal without \"not\"");
}

TEST(Solve, ProgramWithANulByteAborts) {
  const std::string program("a.\0b.", 5);
  EXPECT_PANIC((void)asp::solve(program, std::nullopt),
               "Failed to add ASP to Clingo.: the program text holds a NUL byte");
}

TEST(Solve, ExternalFunctionsYieldNoValues) {
  const Result<Dnf> dnf = asp::solve("p(X) :- X = @f(1). q.", std::nullopt);
  ASSERT_TRUE(dnf.has_value());
  EXPECT_EQ(dnf->texts(), std::vector<Conjunction>{Conjunction{"q"}});
}

TEST(Dnf, LiteralTextsSurviveTheAtomTable) {
  // One atom in both polarities, and texts that no solver writes, read back as written.
  const std::vector<Conjunction> texts{{"a", "-a", "--a", "-", "", "a"}, {}, {"-b", "a"}};
  EXPECT_EQ(Dnf(texts).texts(), texts);
}

TEST(DnfRemove, RemovesBothPolaritiesAndKeepsTheRestInOrder) {
  Dnf dnf{
      {{"rain", "wet", "cloudy", "-sprinkler"}, {"-wet", "-rain", "--wet", "wetter"}, {"wet"}, {}}};
  dnf.remove("wet");
  EXPECT_EQ(dnf, (Dnf{{{"rain", "cloudy", "-sprinkler"}, {"-rain", "--wet", "wetter"}, {}, {}}}));
}

TEST(DnfRemove, AbsentAtomChangesNothing) {
  const Dnf before{{{"a", "-b"}, {"-a", "b"}}};
  Dnf dnf = before;
  dnf.remove("c");
  EXPECT_EQ(dnf, before);
  dnf.remove("-a");  // only one leading "-" is negation: this names the atom "-a"
  EXPECT_EQ(dnf, before);
}

TEST(DnfRemove, TargetOfSolvedModels) {
  Result<Dnf> dnf = asp::solve("{rain}. wet :- rain.", std::nullopt);
  ASSERT_TRUE(dnf.has_value());
  dnf->remove("wet");
  EXPECT_EQ(sorted_models(dnf->texts()), (std::vector<Conjunction>{{"-rain"}, {"rain"}}));
}

}  // namespace
}  // namespace talvo::detail
