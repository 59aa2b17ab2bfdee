// The comparisons made on one density source are events on one draw of its number: a model weighs
// each interval between the sorted thresholds once. The expected values are worked out by hand
// from the normal distribution's cumulative function.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "language/talvo_fixtures.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo {
namespace {

using testing::compile_ok;

/// P(x < t) for x ~ Normal(mean, sd).
double below(double t, double mean, double sd) {
  return 0.5 * std::erfc((mean - t) / (sd * std::sqrt(2.0)));
}

/// Writes one normal distribution per slot to the density source `atom` and expects the target
/// `token` to read `expected` in its first slots once the reader has delivered them.
template <Semiring S>
void answer(Talvo<S>& runtime, const std::string& atom, const std::vector<double>& means,
            const std::vector<double>& sds, const std::string& token,
            const std::vector<double>& expected) {
  const Result<void> written = runtime.density_writer(atom).value().write("normal", {means, sds});
  EXPECT_TRUE(written.has_value());
  std::vector<double> read;
  const auto matches = [&] {
    read = runtime.circuit()->lock()->full_update().at(token).to_vector();
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (!(std::abs(read[i] - expected[i]) < 1e-6)) return false;
    }
    return true;
  };
  EXPECT_TRUE(testing::eventually(matches)) << token << " reads " << read[0];
}

TEST(OneDraw, ComparisonsOnOneSourceAgree) {
  const struct {
    const char* model;
    double mean, sd, expected;
  } cases[] = {
      // Either side of one threshold: certain, not 0.75 as two independent draws would give.
      {R"(x <- source("/x", Density).
humid if x > 70. dry if x < 70. either if humid. either if dry.
either -> target("/t").)",
       70.5, 5.0, 1.0},
      // No draw is both below 0 and above 1.
      {R"(x <- source("/x", Density).
t if x < 0 and x > 1.
t -> target("/t").)",
       0.5, 1.0, 0.0},
      {R"(x <- source("/x", Density).
t if x < 1 and not x < 0.
t -> target("/t").)",
       0.5, 1.0, below(1.0, 0.5, 1.0) - below(0.0, 0.5, 1.0)},
      // Comparisons with variables, grounded for the source, read its one draw too.
      {R"(x(k1) <- source("/x", Density).
room(k1).
warm(X) if x(X) > 2. cold(X) if x(X) < 1.
mild(X) if room(X) and not warm(X) and not cold(X).
mild(k1) -> target("/t").)",
       1.2, 0.8, below(2.0, 1.2, 0.8) - below(1.0, 1.2, 0.8)},
  };
  for (const auto& row : cases) {
    Talvo<LogProb> runtime = compile_ok<LogProb>(row.model);
    const std::string atom = runtime.sources().front().atom;
    answer(runtime, atom, {row.mean}, {row.sd}, "/t", {row.expected});
  }
}

// Thresholds 1, 2 and 3 cut the draw into four intervals; t holds in the first and the third.
constexpr const char* kThreeThresholds = R"(
x <- source("/x", Density).
t if x < 1.
t if x > 2 and not x > 3.
t -> target("/t").
)";

double three_thresholds(double mean, double sd) {
  return below(1.0, mean, sd) + below(3.0, mean, sd) - below(2.0, mean, sd);
}

TEST(OneDraw, GradientsAreThoseOfTheIntervals) {
  Talvo<ProbGradient> runtime = compile_ok<ProbGradient>(kThreeThresholds);
  answer(runtime, "x", {2.2}, {1.5}, "/t", {three_thresholds(2.2, 1.5)});
  // The target is the sum of the leaves of the intervals where it holds.
  const Gradients reported = runtime.circuit()->lock()->full_gradient_update().value().at("/t");
  const std::vector<std::string> names = runtime.manager().get_names();
  ASSERT_EQ(names.size(), 4u);
  for (std::size_t j = 0; j < names.size(); ++j) {
    EXPECT_EQ(reported.gradients.at(names[j]), j == 0 || j == 2 ? 1.0 : 0.0) << names[j];
  }
}

TEST(OneDraw, EachSlotDrawsFromItsOwnDistribution) {
  // Slot 0 weighs the intervals of its draw as one slot alone would.
  Talvo<LogProb> runtime = compile_ok<LogProb>(kThreeThresholds, 2);
  answer(runtime, "x", {2.2, 0.0}, {1.5, 0.5}, "/t",
         {three_thresholds(2.2, 1.5), three_thresholds(0.0, 0.5)});
  // One distribution for both slots still fills both.
  answer(runtime, "x", {2.5}, {0.5}, "/t",
         {three_thresholds(2.5, 0.5), three_thresholds(2.5, 0.5)});
}

TEST(OneDraw, ItsChannelTakesNoCategoricalWriter) {
  Talvo<LogProb> runtime = compile_ok<LogProb>(kThreeThresholds);
  const Result<CategoricalWriter> writer = runtime.categorical_writer("/x");
  ASSERT_FALSE(writer.has_value());
  EXPECT_EQ(writer.error().message(), "no categorical source reads the topic '/x'");
}

TEST(NormalTail, BeyondAboutEightDeviationsAComparisonIsFalse) {
  Talvo<Boolean> runtime = compile_ok<Boolean>(R"(
x <- source("/x", Density).
t if x > 7.
t -> target("/t").
)");
  // 7 deviations above the mean the tail still has some weight, 9 above it has none.
  answer(runtime, "x", {0.0}, {1.0}, "/t", {1.0});
  answer(runtime, "x", {-2.0}, {1.0}, "/t", {0.0});
}

}  // namespace
}  // namespace talvo
