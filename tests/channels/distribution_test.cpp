#include "channels/distribution.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace talvo {
namespace {

using ::testing::DoubleEq;
using ::testing::DoubleNear;
using ::testing::ElementsAre;
using ::testing::IsNan;

using Normal = VectorDistribution::Normal;
using LogNormal = VectorDistribution::LogNormal;
using Exponential = VectorDistribution::Exponential;
using Uniform = VectorDistribution::Uniform;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> entries(const Value& value) {
  return value.to_vector();
}

TEST(NormalDistribution, ApproximationFigures) {
  const VectorDistribution d(Normal{{0.0, 10.0}, {1.0, 2.0}});
  EXPECT_THAT(entries(d.cdf(0.0))[0], DoubleEq(0.5000000005));
  EXPECT_THAT(entries(d.cdf(1.0))[0], DoubleEq(0.8413447361676363));
  EXPECT_THAT(entries(d.cdf(-1.0))[0], DoubleEq(0.15865526383236372));
  // The second slot has its own mean and deviation: one deviation above is 12.0.
  EXPECT_THAT(entries(d.cdf(12.0))[1], DoubleEq(0.8413447361676363));
  EXPECT_THAT(entries(d.survival(1.0))[0], DoubleEq(0.15865526383236372));
  EXPECT_EQ(entries(d.survival(1.0))[0], 1.0 - entries(d.cdf(1.0))[0]);
}

TEST(NormalDistribution, ZeroDeviationIsAStepWithNotANumberAtTheMean) {
  const VectorDistribution d(Normal{{2.0}, {0.0}});
  EXPECT_THAT(entries(d.cdf(2.5)), ElementsAre(1.0));
  EXPECT_THAT(entries(d.cdf(1.5)), ElementsAre(0.0));
  EXPECT_THAT(entries(d.cdf(2.0)), ElementsAre(IsNan()));
}

TEST(NormalDistribution, ShorterListSetsTheLength) {
  EXPECT_EQ(VectorDistribution(Normal{{0.0, 1.0, 2.0}, {1.0}}).cdf(0.0).size(), 1u);
  EXPECT_EQ(VectorDistribution(Normal{{0.0}, {1.0, 1.0}}).survival(0.0).size(), 1u);
}

TEST(LogNormalDistribution, ZerosAsLongAsTheMeansUpToZero) {
  const VectorDistribution d(LogNormal{{0.0, 1.0, 2.0}, {1.0}});
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(-4.0)), ElementsAre(0.0, 0.0, 0.0));
  EXPECT_THAT(entries(d.survival(0.0)), ElementsAre(1.0, 1.0, 1.0));
  // Above zero the shorter list sets the length; at the median it is the normal's centre.
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(DoubleEq(0.5000000005)));
  EXPECT_THAT(entries(d.cdf(std::exp(1.0))), ElementsAre(DoubleEq(0.8413447361676363)));
}

TEST(ExponentialDistribution, Probabilities) {
  const VectorDistribution d(Exponential{{1.0, 0.0}});
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(DoubleNear(1.0 - std::exp(-1.0), 1e-15), 0.0));
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(1e6)), ElementsAre(1.0, 0.0));
}

TEST(UniformDistribution, Probabilities) {
  const VectorDistribution d(Uniform{{0.0, 1.0}, {2.0, 1.0}});
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(0.5)), ElementsAre(0.25, 0.0));
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(0.5, 0.0));  // equal bounds: 0.0 up to the bound
  EXPECT_THAT(entries(d.cdf(1.5)), ElementsAre(0.75, 1.0));
  EXPECT_THAT(entries(d.cdf(2.0)), ElementsAre(1.0, 1.0));
  EXPECT_THAT(entries(d.survival(0.5)), ElementsAre(0.75, 1.0));
}

TEST(VectorDistribution, NotANumberThresholdGivesNotANumberSlots) {
  for (const VectorDistribution& d :
       {VectorDistribution(Normal{{0.0}, {1.0}}), VectorDistribution(LogNormal{{0.0}, {1.0}}),
        VectorDistribution(Exponential{{1.0}}), VectorDistribution(Uniform{{0.0}, {1.0}})}) {
    EXPECT_THAT(entries(d.cdf(kNaN)), ElementsAre(IsNan())) << d.variant().index();
    EXPECT_THAT(entries(d.survival(kNaN)), ElementsAre(IsNan())) << d.variant().index();
  }
}

TEST(VectorDistribution, ReadsNameAndParameterLists) {
  const auto normal =
      VectorDistribution::from_parameters("NorMal", {{0.0, 1.0}, {1.0, 2.0}, {9.0}});
  ASSERT_TRUE(normal.has_value());
  const auto& parameters = std::get<Normal>(normal->variant());
  EXPECT_THAT(entries(parameters.means), ElementsAre(0.0, 1.0));
  EXPECT_THAT(entries(parameters.stds), ElementsAre(1.0, 2.0));

  EXPECT_EQ(VectorDistribution::from_parameters("LOGNORMAL", {{0.0}, {1.0}})->variant().index(),
            1u);
  EXPECT_EQ(VectorDistribution::from_parameters("exponential", {{2.0}})->variant().index(), 2u);
  const auto uniform = VectorDistribution::from_parameters("Uniform", {{0.0}, {4.0}});
  ASSERT_TRUE(uniform.has_value());
  EXPECT_THAT(entries(uniform->cdf(1.0)), ElementsAre(0.25));
}

TEST(VectorDistribution, RefusesUnknownNamesAndMissingLists) {
  const auto message = [](std::string_view name, const std::vector<std::vector<double>>& lists) {
    const auto result = VectorDistribution::from_parameters(name, lists);
    return result.has_value() ? std::string("no error") : result.error().message();
  };
  EXPECT_EQ(message("gamma", {{1.0}}),
            "Unknown distribution 'gamma'. Supported: normal, lognormal, exponential, uniform");
  EXPECT_EQ(message("Ñormal", {{1.0}, {1.0}}),
            "Unknown distribution 'Ñormal'. Supported: normal, lognormal, exponential, uniform");
  EXPECT_EQ(message("normal", {{1.0}}), "Normal requires [[means], [stds]]");
  EXPECT_EQ(message("lognormal", {}), "LogNormal requires [[log_means], [log_stds]]");
  EXPECT_EQ(message("exponential", {}), "Exponential requires [[rates]]");
  EXPECT_EQ(message("uniform", {{0.0}}), "Uniform requires [[lows], [highs]]");
}

}  // namespace
}  // namespace talvo
