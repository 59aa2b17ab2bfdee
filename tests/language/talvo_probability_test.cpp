// Compiled models answer what a sum over their possible worlds gives: every clause keeps its own
// cause, atoms find their leaves however they are written, and a cause weighs only where it could
// fire. The expected values are worked out by hand over the worlds of each model.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "language/matching.hpp"
#include "language/talvo_fixtures.hpp"
#include "talvo/circuit/leaf.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;
using testing::wait_for_leaves;

using testing::answer;
using testing::Inputs;

constexpr std::string_view kAlarm = R"(
burglary(h). quake(h).
alarm(X) <- P(0.9) if burglary(X).
alarm(Y) <- P(0.2) if quake(Y).
alarm(h) -> target("/alarm").
)";

TEST(CauseOfItsOwn, ClausesWhosePredicatesMeetKeepBothProbabilities) {
  // Worlds of the two causes where the alarm rings: (1,1) 0.18, (1,0) 0.72, (0,1) 0.02.
  EXPECT_NEAR(answer<LogProb>(kAlarm, "/alarm"), 0.92, 1e-12);
  EXPECT_NEAR(answer<MaxProduct>(kAlarm, "/alarm"), 0.72, 1e-12);
  EXPECT_NEAR(answer<Fuzzy>(kAlarm, "/alarm"), 0.8, 1e-12);
  EXPECT_EQ(answer<Boolean>(kAlarm, "/alarm"), 1.0);

  Talvo<LogProb> alarm = compile_ok<LogProb>(kAlarm);
  EXPECT_EQ(alarm.parameter_groups().at("alarm#0"), std::vector<std::string>{"alarm_cause_0(h)"});
  EXPECT_EQ(alarm.parameter_groups().at("alarm#1"), std::vector<std::string>{"alarm_cause_1(h)"});

  // Heads that differ only in blanks are one atom with two causes.
  EXPECT_NEAR(answer<LogProb>("p(a) <- P(0.3). p(a ) <- P(0.4). p(a) -> target(\"/p\").", "/p"),
              1.0 - 0.7 * 0.6, 1e-12);
}

TEST(CauseOfItsOwn, AGroundHeadBesideAVariableHeadOfItsPredicate) {
  constexpr std::string_view model = R"(
q(a).
p <- P(0.3).
p(X) <- P(0.4) if q(X).
t if p and p(a).
t -> target("/t").
)";
  Talvo<LogProb> runtime = compile_ok<LogProb>(model);
  EXPECT_EQ(testing::leaf_names(runtime),
            (std::vector<std::string>{"p_cause_0", "-p_cause_0", "p_cause_1(a)", "-p_cause_1(a)"}));
  EXPECT_EQ(runtime.parameter_groups().at("p#0"), std::vector<std::string>{"p_cause_0"});
  EXPECT_EQ(runtime.parameter_groups().at("p#1"), std::vector<std::string>{"p_cause_1(a)"});
  EXPECT_NEAR(answer(runtime, "/t"), 0.3 * 0.4, 1e-12);
  EXPECT_NEAR(answer<Fuzzy>(model, "/t"), 0.3, 1e-12);
}

TEST(SolverAtoms, AtomsWrittenWithBlanksFindTheirLeaves) {
  constexpr std::string_view model = R"(
t(a, b) <- source("/t", Probability).
n(a, b) <- source("/n", Number).
w if t(a, b) and n(a,b) > 2 and n(a, b) > 2.
w -> target("/w").
)";
  Talvo<LogProb> runtime = compile_ok<LogProb>(model);
  // The writers take the atom as written or as the solver writes it.
  ASSERT_TRUE(runtime.probability_writer("t(a,b)").has_value());
  ASSERT_TRUE(runtime.number_writer("n(a, b)").has_value());
  // Both spellings of the comparison are one leaf pair and one channel.
  ASSERT_EQ(runtime.comparisons_by_source().at("n(a, b)").size(), 1u);
  const double three[] = {3.0};
  EXPECT_TRUE(runtime.number_writer("n(a,b)")->write(three));
  wait_for_leaves(runtime, {{"n_a_b_gt_2", 1.0}});
  EXPECT_NEAR(answer(runtime, "/w", {{"t(a, b)", 0.3}}), 0.3, 1e-12);
  EXPECT_NEAR(answer<Fuzzy>(model, "/w", {{"t(a, b)", 0.3}}), 0.0, 1e-12);

  EXPECT_EQ(detail::solver_atom("f(\"x y\", z )"), "f(\"x y\",z)");
}

TEST(SolverAtoms, ArgumentsWithArithmeticAreTheAtomsTheSolverMakes) {
  // The source, the body or both may write p(2) as p(1+1).
  for (const auto& [source, body] : {std::pair{"p(1+1)", "p(2)"}, std::pair{"p(1 + 1)", "p(1+1)"},
                                     std::pair{"p(2)", "p(3 - 1)"}}) {
    const std::string model = std::string(source) + " <- source(\"/p\", Probability).\nt if " +
                              body + ".\nt -> target(\"/t\").";
    EXPECT_NEAR(answer<LogProb>(model, "/t", {{source, 0.3}}), 0.3, 1e-12) << model;
  }
  // As the solver writes them: sums in 32 bits that wrap around, signs before a constant.
  EXPECT_EQ(detail::solver_atom("p(2147483647 + 1, --a, 1 - -1, -b)"), "p(-2147483648,a,2,-b)");
  EXPECT_EQ(detail::solver_atom("p(X + 1, a+1, 01)"), "p(X+1,a+1,01)");
}

constexpr std::string_view kDomainFromASource = R"(
x <- source("/x", Probability).
on(a) if x.
f(X) <- P(0.5) if on(X).
t if not f(a).
t -> target("/t").
)";

TEST(OpenCauses, ACauseWeighsOnlyWhereItsDomainHolds) {
  EXPECT_NEAR(answer<LogProb>(kDomainFromASource, "/t", {{"x", 0.0}}), 1.0, 1e-12);
  EXPECT_NEAR(answer<LogProb>(kDomainFromASource, "/t", {{"x", 0.7}}), 0.3 + 0.7 * 0.5, 1e-12);
  EXPECT_NEAR(answer<ProbGradient>(kDomainFromASource, "/t", {{"x", 0.7}}), 0.65, 1e-12);
}

TEST(OpenCauses, AClosedCauseWeighsAsAChoiceInEverySemiring) {
  // Worlds with x = 0.2: x false and the cause either way (0.4 each), x true and the cause false
  // (0.1); the target holds in all three.
  const Inputs x{{"x", 0.2}};
  EXPECT_NEAR(answer<LogProb>(kDomainFromASource, "/t", x), 0.9, 1e-12);
  EXPECT_NEAR(answer<ProbGradient>(kDomainFromASource, "/t", x), 0.9, 1e-12);
  EXPECT_NEAR(answer<MaxProduct>(kDomainFromASource, "/t", x), 0.4, 1e-12);
  EXPECT_NEAR(answer<Fuzzy>(kDomainFromASource, "/t", x), 0.5, 1e-12);
  EXPECT_EQ(answer<Boolean>(kDomainFromASource, "/t", x), 1.0);
}

/// Sets the cause to 0.9 by name after x = 0.2 arrived, then moves every leaf down a level and
/// back up twice; the target must read `expected` throughout.
template <Semiring S>
void expect_closed_cause_follows_its_leaves(double expected) {
  Talvo<S> runtime = compile_ok<S>(kDomainFromASource);
  answer(runtime, "/t", {{"x", 0.2}});
  const auto index = runtime.manager().index_map();
  const auto circuit = runtime.circuit()->lock();
  ASSERT_TRUE(leaf::update(*circuit, index.at("f_cause_0(a)"), Value{0.9}, 1.0).has_value());
  ASSERT_TRUE(leaf::update(*circuit, index.at("-f_cause_0(a)"), Value{0.1}, 1.0).has_value());
  EXPECT_NEAR(circuit->update().at("/t")[0], expected, 1e-12);
  const auto leaves = static_cast<std::uint32_t>(circuit->leafs().size());
  for (auto step : {&ReactiveCircuit<S>::drop_leaf, &ReactiveCircuit<S>::lift_leaf,
                    &ReactiveCircuit<S>::lift_leaf}) {
    for (std::uint32_t leaf = 0; leaf < leaves; ++leaf) {
      ASSERT_TRUE(((*circuit).*step)(leaf).has_value());
      EXPECT_NEAR(circuit->full_update().at("/t")[0], expected, 1e-12)
          << circuit->leafs()[leaf].name;
    }
  }
}

TEST(OpenCauses, AClosedCauseFollowsItsLeavesThroughUpdatesAndRestructuring) {
  // x false and the cause true: 0.8 * 0.9, or min(0.8, 0.9).
  expect_closed_cause_follows_its_leaves<MaxProduct>(0.72);
  expect_closed_cause_follows_its_leaves<Fuzzy>(0.8);
}

constexpr std::string_view kTwoDomains = R"(
x <- source("/x", Probability).
y <- source("/y", Probability).
on(a) if x.
on(b) if y.
f(X) <- P(0.7) if on(X).
t if not f(a) and not f(b).
t -> target("/t").
)";

/// Gives every leaf one of a few change frequencies, as writes at those rates would.
template <Semiring S>
void set_frequencies(ReactiveCircuit<S>& circuit, std::mt19937_64& rng) {
  const double frequencies[] = {0.0, 0.5, 1.5, 3.0, 6.0};
  for (Leaf<S>& leaf : detail::CircuitAccess::leafs(circuit)) {
    leaf.frequency = frequencies[std::uniform_int_distribution<std::size_t>(0, 4)(rng)];
  }
}

template <Semiring S>
void adapt_quietly(ReactiveCircuit<S>& circuit, double bin_size, std::size_t bins) {
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(circuit.adapt(bin_size, bins).has_value());
  ::testing::internal::GetCapturedStdout();
}

/// With x = 0.43 and y = 0.28, the target after compiling, and after lifting the cause of f(a)
/// and each of four adaptations to leaf frequencies that change from one to the next.
template <Semiring S>
void expect_two_domains_keep(double expected) {
  Talvo<S> runtime = compile_ok<S>(kTwoDomains);
  EXPECT_NEAR(answer(runtime, "/t", {{"x", 0.43}, {"y", 0.28}}), expected, 1e-12);
  const auto circuit = runtime.circuit()->lock();
  ASSERT_EQ(circuit->leafs()[4].name, "f_cause_0(a)");
  ASSERT_TRUE(circuit->lift_leaf(4).has_value());
  const std::vector<std::vector<double>> rounds{{1.5, 1.5, 1.5, 0.5, 3, 3, 0.5, 1.5},
                                                {1.5, 3, 6, 6, 3, 0.5, 0, 6},
                                                {3, 6, 3, 6, 1.5, 6, 0, 6},
                                                {1.5, 0.5, 0.5, 3, 3, 3, 6, 1.5}};
  for (const std::vector<double>& frequencies : rounds) {
    for (std::size_t leaf = 0; leaf < frequencies.size(); ++leaf) {
      detail::CircuitAccess::leafs(*circuit)[leaf].frequency = frequencies[leaf];
    }
    adapt_quietly(*circuit, 2.5, 2);
    EXPECT_NEAR(circuit->full_update().at("/t")[0], expected, 1e-12);
  }
}

TEST(OpenCauses, ClosedCausesKeepTheirWeightThroughRestructuring) {
  // Per room, the worlds where f fails: the room off with its cause either way, or on with its
  // cause false. MaxProduct: max(0.57 * 0.7, 0.43 * 0.3) * max(0.72 * 0.7, 0.28 * 0.3);
  // Fuzzy: min(max(min(0.57, 0.7), min(0.43, 0.3)), max(min(0.72, 0.7), min(0.28, 0.3))).
  expect_two_domains_keep<MaxProduct>(0.399 * 0.504);
  expect_two_domains_keep<Fuzzy>(0.57);
}

/// Drops, lifts and adapts one compiled model at random, with a leaf value written now and then,
/// and compares its target after every step with that of a fresh compile given the same values.
template <Semiring S>
void expect_restructuring_keeps_answers(std::string_view model, const std::string& token) {
  for (std::uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Talvo<S> moved_model = compile_ok<S>(model);
    Talvo<S> fresh_model = compile_ok<S>(model);
    const auto moved = moved_model.circuit()->lock();
    const auto fresh = fresh_model.circuit()->lock();
    std::mt19937_64 rng(seed);
    const auto draw = [&](std::size_t low, std::size_t high) {
      return std::uniform_int_distribution<std::size_t>(low, high)(rng);
    };
    const std::size_t leaves = moved->leafs().size();
    for (int step = 0; step < 30 && moved->structure().node_count() < 500; ++step) {
      const auto leaf = static_cast<std::uint32_t>(draw(0, leaves - 1));
      const std::size_t kind = draw(0, 3);
      if (kind == 0) {
        ASSERT_TRUE(moved->drop_leaf(leaf).has_value());
      } else if (kind == 1) {
        ASSERT_TRUE(moved->lift_leaf(leaf).has_value());
      } else if (kind == 2) {
        set_frequencies(*moved, rng);
        adapt_quietly(*moved, 1.0, draw(0, 4));
      } else {
        const Value value{std::uniform_real_distribution<double>(0.0, 1.0)(rng)};
        const double now = step + 1.0;
        ASSERT_TRUE(leaf::update(*moved, leaf, value, now).has_value());
        ASSERT_TRUE(leaf::update(*fresh, leaf, value, now).has_value());
      }
      ASSERT_NEAR(moved->full_update().at(token)[0], fresh->full_update().at(token)[0], 1e-12)
          << "step " << step << " (" << kind << " of leaf " << leaf << ")";
    }
  }
}

TEST(OpenCauses, RestructuringKeepsTheAnswersOfAFreshCompile) {
  const std::string rooms = testing::rooms_model(3);
  expect_restructuring_keeps_answers<MaxProduct>(kTwoDomains, "/t");
  expect_restructuring_keeps_answers<Fuzzy>(kTwoDomains, "/t");
  expect_restructuring_keeps_answers<MaxProduct>(rooms, "/alarm");
  expect_restructuring_keeps_answers<Fuzzy>(rooms, "/alarm");
}

TEST(OpenCauses, EveryClosedCauseHasOneNodeThatItsProductsShare) {
  // Eight rooms: 3^8 - 2^8 models, each closing the causes of its rooms that are off.
  Talvo<MaxProduct> rooms = compile_ok<MaxProduct>(testing::rooms_model(8));
  EXPECT_EQ(rooms.circuit()->lock()->structure().node_count(), 9u);
}

TEST(OpenCauses, AModelsOwnAtomMeansItselfWhateverItsPrefix) {
  // The cause of room b is never open: warm(a) holds where x and its cause do, 0.3 * 0.6.
  for (const std::string ok : {"zok", "talvo_ok"}) {
    const std::string model = "x <- source(\"/x\", Probability).\nroom(a). room(b).\n" + ok +
                              "(a) if x.\nwarm(X) <- P(0.6) if room(X) and " + ok +
                              "(X).\nwarm(a) -> target(\"/w\").\n";
    EXPECT_NEAR(answer<MaxProduct>(model, "/w", {{"x", 0.3}}), 0.18, 1e-12) << ok;
    EXPECT_NEAR(answer<LogProb>(model, "/w", {{"x", 0.3}}), 0.18, 1e-12) << ok;
  }
}

TEST(OpenCauses, GradientsAgreeWithFiniteDifferences) {
  Talvo<ProbGradient> runtime = compile_ok<ProbGradient>(kDomainFromASource);
  constexpr double x = 0.7;
  constexpr double h = 0.01;  // above the update threshold, so that the leaves take the change
  const double below = answer(runtime, "/t", {{"x", x - h}});
  const double above = answer(runtime, "/t", {{"x", x + h}});
  answer(runtime, "/t", {{"x", x}});
  const auto circuit = runtime.circuit()->lock();
  const Gradients at = circuit->full_gradient_update()->at("/t");
  EXPECT_NEAR(at.probability, 0.65, 1e-12);
  // x enters through its leaf and its complement: d/dx = d/d(x) - d/d(-x).
  EXPECT_NEAR(at.gradients.at("x") - at.gradients.at("-x"), (above - below) / (2 * h), 1e-6);
  EXPECT_NEAR(at.gradients.at("-f_cause_0(a)"), x, 1e-12);
  EXPECT_EQ(at.gradients.at("f_cause_0(a)"), 0.0);
}

TEST(DerivedInputs, AnInputThatAClauseMayDeriveHoldsByItsDrawOrByTheClause) {
  constexpr std::string_view two_ways = R"(
r <- source("/r", Probability).
s <- source("/s", Probability).
r if s.
r -> target("/r").
)";
  // r holds by its own draw or by s: 1 - 0.7 * 0.5.
  EXPECT_NEAR(answer<LogProb>(two_ways, "/r", {{"r", 0.3}, {"s", 0.5}}), 0.65, 1e-12);
  EXPECT_EQ(answer<Boolean>(two_ways, "/r", {{"r", 0.0}, {"s", 0.5}}), 1.0);

  EXPECT_NEAR(answer<LogProb>("r <- source(\"/r\", Probability). r. h if r. h -> target(\"/h\").",
                              "/h", {{"r", 0.3}}),
              1.0, 1e-12);
  // A head with a variable derives t(b) only; t(a)'s draw does not weigh on it.
  EXPECT_NEAR(answer<LogProb>(R"(
t(a) <- source("/t", Probability).
q(a). q(b).
t(X) <- P(0.8) if q(X).
t(b) -> target("/t/b").
)",
                              "/t/b", {{"t(a)", 0.5}}),
              0.8, 1e-12);

  Talvo<LogProb> sky = compile_ok<LogProb>(R"(
{a, b} <- source("/c", Categorical).
s <- source("/s", Probability).
a if s.
t if a.
t -> target("/t").
)");
  const Value values[] = {Value{0.3}, Value{0.7}};
  ASSERT_TRUE(sky.categorical_writer("/c")->write(values).has_value());
  wait_for_leaves(sky, {{"a", 0.3}, {"b", 0.7}});
  EXPECT_NEAR(answer(sky, "/t", {{"s", 0.5}}), 1.0 - 0.7 * 0.5, 1e-12);
}

TEST(BooleanCauses, ACauseStrictlyBetweenZeroAndOneMayBeFalse) {
  constexpr std::string_view negated = "c <- P(0.5). t if not c. t -> target(\"/t\").";
  EXPECT_EQ(answer<Boolean>(negated, "/t"), 1.0);
  EXPECT_NEAR(answer<LogProb>(negated, "/t"), 0.5, 1e-12);
  EXPECT_EQ(answer<Boolean>("c <- P(1.0). t if not c. t -> target(\"/t\").", "/t"), 0.0);
  EXPECT_EQ(answer<Boolean>("c <- P(0.0). t if c. t -> target(\"/t\").", "/t"), 0.0);
}

TEST(InputTargets, ATargetThatIsASourceOrACategoryReportsItsProbability) {
  constexpr std::string_view rain =
      "rain <- source(\"/r\", Probability). rain -> target(\"/rain\").";
  EXPECT_NEAR(answer<LogProb>(rain, "/rain", {{"rain", 0.7}}), 0.7, 1e-12);
  EXPECT_EQ(answer<Boolean>(rain, "/rain", {{"rain", 0.0}}), 0.0);

  Talvo<Fuzzy> sky =
      compile_ok<Fuzzy>("{a, b} <- source(\"/s\", Categorical). a -> target(\"/a\").");
  const Value values[] = {Value{0.3}, Value{0.7}};
  ASSERT_TRUE(sky.categorical_writer("/s")->write(values).has_value());
  wait_for_leaves(sky, {{"a", 0.3}, {"b", 0.7}});
  EXPECT_NEAR(sky.circuit()->lock()->full_update().at("/a")[0], 0.3, 1e-12);
}

// Four sources, six causes of the alarm (two over conjunctions) and a cause with variables whose
// choice is open only where a source holds: twelve independent choices, a few thousand models.
constexpr std::string_view kManyModels = R"(
s0 <- source("/s/0", Probability).
s1 <- source("/s/1", Probability).
s2 <- source("/s/2", Probability).
s3 <- source("/s/3", Probability).
alarm <- P(0.9) if s0.
alarm <- P(0.8) if s1.
alarm <- P(0.7) if s2.
alarm <- P(0.6) if s3.
both if s0 and s1.
alarm <- P(0.5) if both.
alarm <- P(0.4) if s2 and s3.
hot(a) if s0.
hot(b) if s1.
warm(X) <- P(0.3) if hot(X).
alarm if warm(a).
alarm if warm(b).
alarm -> target("/alarm").
)";

TEST(ManyModels, ProductsAndValueAreThoseOfTheWorldsWhereTheTargetHolds) {
  struct Choice {
    std::string name;
    double p;
    int opened_by = -1;  // the choice whose truth opens this one, if any
  };
  const std::vector<Choice> choices{{"s0", 0.3},
                                    {"s1", 0.6},
                                    {"s2", 0.45},
                                    {"s3", 0.8},
                                    {"alarm_cause_0", 0.9},
                                    {"alarm_cause_1", 0.8},
                                    {"alarm_cause_2", 0.7},
                                    {"alarm_cause_3", 0.6},
                                    {"alarm_cause_4", 0.5},
                                    {"alarm_cause_5", 0.4},
                                    {"warm_cause_0(a)", 0.3, 0},
                                    {"warm_cause_0(b)", 0.3, 1}};
  double expected_value = 0.0;
  std::vector<std::vector<std::string>> expected_products;
  for (unsigned world = 0; world < (1u << choices.size()); ++world) {
    const auto on = [&](int i) { return ((world >> i) & 1u) != 0; };
    const bool alarm = (on(0) && on(4)) || (on(1) && on(5)) || (on(2) && on(6)) ||
                       (on(3) && on(7)) || (on(0) && on(1) && on(8)) || (on(2) && on(3) && on(9)) ||
                       (on(0) && on(10)) || (on(1) && on(11));
    if (!alarm) continue;
    double p = 1.0;
    for (std::size_t i = 0; i < choices.size(); ++i) p *= on(i) ? choices[i].p : 1.0 - choices[i].p;
    expected_value += p;
    // A choice that is not open is false in its one model, which stands for both outcomes and
    // holds no literal of it.
    std::vector<std::string> product;
    bool stands_for_another = false;
    for (std::size_t i = 0; i < choices.size(); ++i) {
      const bool open = choices[i].opened_by < 0 || on(choices[i].opened_by);
      stands_for_another = stands_for_another || (!open && on(i));
      if (open) product.push_back(on(i) ? choices[i].name : "-" + choices[i].name);
    }
    if (stands_for_another) continue;
    std::ranges::sort(product);
    expected_products.push_back(std::move(product));
  }
  std::ranges::sort(expected_products);

  Talvo<LogProb> runtime = compile_ok<LogProb>(kManyModels);
  EXPECT_EQ(testing::leaf_names(runtime).size(), 2 * choices.size());
  std::vector<std::vector<std::string>> products;
  {
    const auto names = testing::leaf_names(runtime);
    const auto circuit = runtime.circuit()->lock();
    const AlgebraicCircuit& node = circuit->structure().node(circuit->targets().at("/alarm"));
    for (const Minterm& minterm : node.minterms) {
      std::vector<std::string>& product = products.emplace_back();
      for (const std::size_t column : minterm) product.push_back(names[node.columns[column].id]);
      std::ranges::sort(product);
    }
  }
  std::ranges::sort(products);
  EXPECT_GT(products.size(), 2000u);
  EXPECT_EQ(products, expected_products);
  EXPECT_NEAR(answer(runtime, "/alarm", {{"s0", 0.3}, {"s1", 0.6}, {"s2", 0.45}, {"s3", 0.8}}),
              expected_value, 1e-12);
}

}  // namespace
}  // namespace talvo
