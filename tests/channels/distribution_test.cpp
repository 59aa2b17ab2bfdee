#include "talvo/channels/distribution.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
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

VectorDistribution made(VectorDistribution::Variant variant) {
  return VectorDistribution::make(std::move(variant)).value();
}

TEST(NormalDistribution, ApproximationFigures) {
  const VectorDistribution d = made(Normal{{0.0, 10.0}, {1.0, 2.0}});
  EXPECT_THAT(entries(d.cdf(0.0))[0], DoubleEq(0.5000000005));
  EXPECT_THAT(entries(d.cdf(1.0))[0], DoubleEq(0.8413447361676363));
  EXPECT_THAT(entries(d.cdf(-1.0))[0], DoubleEq(0.15865526383236372));
  // The second slot has its own mean and deviation: one deviation above is 12.0.
  EXPECT_THAT(entries(d.cdf(12.0))[1], DoubleEq(0.8413447361676363));
  EXPECT_THAT(entries(d.survival(1.0))[0], DoubleEq(0.15865526383236372));
  EXPECT_EQ(entries(d.survival(1.0))[0], 1.0 - entries(d.cdf(1.0))[0]);
}

TEST(NormalDistribution, AOneEntryListHoldsForEverySlot) {
  const VectorDistribution d = made(Normal{{0.0, 1.0, 2.0}, {1.0}});
  EXPECT_EQ(d.slots(), 3u);
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(DoubleEq(0.8413447361676363), DoubleEq(0.5000000005),
                                               DoubleEq(0.15865526383236372)));
  EXPECT_EQ(made(Normal{{0.0}, {1.0, 1.0}}).survival(0.0).size(), 2u);
}

TEST(LogNormalDistribution, ZerosUpToZero) {
  const VectorDistribution d = made(LogNormal{{0.0, 1.0, 2.0}, {1.0}});
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(-4.0)), ElementsAre(0.0, 0.0, 0.0));
  EXPECT_THAT(entries(d.survival(0.0)), ElementsAre(1.0, 1.0, 1.0));
  // At the median it is the normal's centre; one deviation of the logarithm above, the normal's.
  EXPECT_THAT(entries(d.cdf(1.0))[0], DoubleEq(0.5000000005));
  EXPECT_THAT(entries(d.cdf(std::exp(1.0))),
              ElementsAre(DoubleEq(0.8413447361676363), DoubleEq(0.5000000005),
                          DoubleEq(0.15865526383236372)));
}

TEST(ExponentialDistribution, Probabilities) {
  const VectorDistribution d = made(Exponential{{1.0, 2.0}});
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(DoubleNear(1.0 - std::exp(-1.0), 1e-15),
                                               DoubleNear(1.0 - std::exp(-2.0), 1e-15)));
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(1e6)), ElementsAre(1.0, 1.0));
}

TEST(UniformDistribution, Probabilities) {
  const VectorDistribution d = made(Uniform{{0.0, 1.0}, {2.0, 3.0}});
  EXPECT_THAT(entries(d.cdf(0.0)), ElementsAre(0.0, 0.0));
  EXPECT_THAT(entries(d.cdf(0.5)), ElementsAre(0.25, 0.0));
  EXPECT_THAT(entries(d.cdf(1.0)), ElementsAre(0.5, 0.0));
  EXPECT_THAT(entries(d.cdf(1.5)), ElementsAre(0.75, 0.25));
  EXPECT_THAT(entries(d.cdf(2.0)), ElementsAre(1.0, 0.5));
  EXPECT_THAT(entries(d.survival(0.5)), ElementsAre(0.75, 1.0));
}

TEST(VectorDistribution, NotANumberThresholdGivesNotANumberSlots) {
  for (const VectorDistribution& d : {made(Normal{{0.0}, {1.0}}), made(LogNormal{{0.0}, {1.0}}),
                                      made(Exponential{{1.0}}), made(Uniform{{0.0}, {1.0}})}) {
    EXPECT_THAT(entries(d.cdf(kNaN)), ElementsAre(IsNan())) << d.variant().index();
    EXPECT_THAT(entries(d.survival(kNaN)), ElementsAre(IsNan())) << d.variant().index();
  }
}

TEST(VectorDistribution, RefusesParametersThatDefineNoDistribution) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    std::vector<std::vector<double>> lists;
    const char* message;
  } refused[] = {
      {"normal",
       {{0.0, 1.0}, {1.0, 0.0}},
       "Normal: stds[1] is 0; a standard deviation must be positive and finite"},
      {"normal",
       {{0.0}, {-1.0}},
       "Normal: stds[0] is -1; a standard deviation must be positive and finite"},
      {"normal", {{kNaN}, {1.0}}, "Normal: means[0] is nan; a mean must be finite"},
      {"normal",
       {{0.0, 1.0, 2.0}, {1.0, 1.0}},
       "Normal: stds has 2 entries but means has 3; a list holds one entry per slot, or one entry "
       "for every slot"},
      {"normal", {{}, {1.0}}, "Normal: means is empty"},
      {"lognormal",
       {{0.0}, {inf}},
       "LogNormal: log_stds[0] is inf; a standard deviation of the logarithm must be positive and "
       "finite"},
      {"lognormal",
       {{-inf}, {1.0}},
       "LogNormal: log_means[0] is -inf; a mean of the logarithm must be finite"},
      {"exponential",
       {{1.0, -0.5}},
       "Exponential: rates[1] is -0.5; a rate must be positive and finite"},
      {"exponential", {{0.0}}, "Exponential: rates[0] is 0; a rate must be positive and finite"},
      {"uniform",
       {{0.0, 2.0}, {1.0, 2.0}},
       "Uniform: lows[1] is 2 and highs[1] is 2; a low bound must be below its high bound"},
      {"uniform",
       {{3.0}, {1.0, 4.0}},
       "Uniform: lows[0] is 3 and highs[0] is 1; a low bound must be below its high bound"},
      {"uniform", {{0.0}, {kNaN}}, "Uniform: highs[0] is nan; a bound must be finite"},
  };
  for (const auto& row : refused) {
    const auto result = VectorDistribution::from_parameters(row.name, row.lists);
    ASSERT_FALSE(result.has_value()) << row.message;
    EXPECT_EQ(result.error().message(), row.message);
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
