#include "tracking/kalman.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace talvo::kalman {
namespace {

TEST(KalmanInvert, ReportsOnlyAnExactlyZeroPivot) {
  EXPECT_FALSE(invert(Measurement{0.0}).has_value());
  EXPECT_FALSE(invert(Measurement{-0.0}).has_value());

  const auto tiny = invert(Measurement{1e-300});
  ASSERT_TRUE(tiny.has_value());
  EXPECT_DOUBLE_EQ((*tiny)(0, 0), 1e300);
  EXPECT_EQ((*invert(Measurement{4.0}))(0, 0), 0.25);

  const auto nan = invert(Measurement{std::numeric_limits<double>::quiet_NaN()});
  ASSERT_TRUE(nan.has_value());
  EXPECT_TRUE(std::isnan((*nan)(0, 0)));
}

TEST(KalmanStep, ExactMeasurementWithTrustedSensorIsAdopted) {
  const Prediction prior = predict(State(1.0, 2.0), Covariance::Identity(),
                                   Transition{{1.0, 0.5}, {0.0, 1.0}}, Covariance::Zero());
  EXPECT_EQ(prior.state, State(2.0, 2.0));
  EXPECT_EQ(prior.covariance, (Covariance{{1.25, 0.5}, {0.5, 1.0}}));

  const Observation h{{1.0, 0.0}};
  const Innovation measured = innovate(prior, Measurement{3.0}, h, Measurement{0.0});
  EXPECT_EQ(measured.residual(0, 0), 1.0);
  EXPECT_EQ(measured.covariance(0, 0), 1.25);

  // Without measurement noise the corrected interval equals the measurement and loses its variance.
  const auto posterior = correct(prior, measured, h);
  ASSERT_TRUE(posterior.has_value());
  EXPECT_DOUBLE_EQ(posterior->state(0), 3.0);
  EXPECT_NEAR(posterior->covariance(0, 0), 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(posterior->gain(1), 0.4);
}

}  // namespace
}  // namespace talvo::kalman
