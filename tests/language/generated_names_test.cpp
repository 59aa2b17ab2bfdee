// Models whose own atoms carry the names the compiler would make up for comparisons, causes,
// comparison predicates and hidden choices, or whose comparisons would share one made-up name:
// each input keeps a leaf of its own and the target its value. The expected values are worked
// out by hand over the worlds where the target holds.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <type_traits>
#include <vector>

#include "eventually.hpp"
#include "language/talvo_fixtures.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;

struct Written {
  std::string atom;
  bool number;  // a Number source; else a Probability source
  double value;
};

struct Case {
  const char* what;
  const char* model;
  std::vector<Written> written;
  double expected;
  /// In MaxProduct, where more than one choice is open in the best world: its weight.
  double best_world = std::nan("");
};

const std::vector<Case> kCases = {
    {"two comparisons whose plain names meet",
     R"(n(k1, k2) <- source("/n1", Number).
        n_k1(k2) <- source("/n2", Number).
        t if n(k1, k2) > 2 and not n_k1(k2) > 2.
        t -> target("/t").)",
     {{"n(k1, k2)", true, 3.0}, {"n_k1(k2)", true, 1.0}},
     1.0},
    // s and not w: 0.5 * (1 - 0.3).
    {"an atom named as a cause",
     R"(s <- source("/s", Probability).
        w_cause_0 if s.
        w <- P(0.3).
        t if w_cause_0 and not w.
        t -> target("/t").)",
     {{"s", false, 0.5}},
     0.35},
    // warm(k1) holds as temp(k1) > 2; the model's own predicate is s.
    {"a predicate named as a comparison predicate",
     R"(temp(k1) <- source("/t", Number).
        s <- source("/s", Probability).
        room(k1).
        talvo_temp_gt_2(k1) if s.
        warm(X) if room(X) and temp(X) > 2.
        t if warm(k1) and not talvo_temp_gt_2(k1).
        t -> target("/t").)",
     {{"temp(k1)", true, 3.0}, {"s", false, 0.579488}},
     0.420512},
    // s is drawn or derived from r; the model's own atom holds with r: s drawn and not r, 0.5 *
    // 0.6.
    {"an atom named as a hidden choice",
     R"(s <- source("/s", Probability).
        r <- source("/r", Probability).
        s if r.
        talvo_in_s if r.
        t if s and not talvo_in_s.
        t -> target("/t").)",
     {{"s", false, 0.5}, {"r", false, 0.4}},
     0.3},
    // Where q(a) fails the cause was never chosen, so it weighs nothing there: not q(a) and r.
    // The best such world takes the cause's likelier outcome: 0.4 * 0.4 * 0.7.
    {"an atom named as an open cause",
     R"(q(a) <- source("/q", Probability).
        r <- source("/r", Probability).
        p(X) <- P(0.7) if q(X).
        talvo_open_p_cause_0(a) if r.
        t if talvo_open_p_cause_0(a) and not q(a).
        t -> target("/t").)",
     {{"q(a)", false, 0.6}, {"r", false, 0.4}},
     0.16,
     0.112},
};

template <class S>
class GeneratedNames : public ::testing::Test {};

using Semirings = ::testing::Types<LogProb, MaxProduct>;
TYPED_TEST_SUITE(GeneratedNames, Semirings, SemiringNames);

TYPED_TEST(GeneratedNames, NoneMeetsAnAtomOfTheModelOrAnotherMadeUpName) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Talvo<TypeParam> runtime = compile_ok<TypeParam>(c.model);
    for (const Written& w : c.written) {
      if (w.number) {
        const double value[] = {w.value};
        ASSERT_TRUE(runtime.number_writer(w.atom)->write(value).has_value());
      } else {
        ASSERT_TRUE(runtime.probability_writer(w.atom)->write(Value{w.value}).has_value());
      }
    }
    const double expected = std::is_same_v<TypeParam, MaxProduct> && !std::isnan(c.best_world)
                                ? c.best_world
                                : c.expected;
    double answer = -1.0;
    testing::eventually([&] {
      answer = testing::update_target(runtime, "/t").value_or(answer);
      return std::abs(answer - expected) < 1e-9;
    });
    EXPECT_NEAR(answer, expected, 1e-9);
  }
}

}  // namespace
}  // namespace talvo
