#include "talvo/tracking/kalman.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

namespace talvo::detail::kalman {
namespace {

auto near(const Vector2& expected) {
  return ::testing::Pointwise(::testing::DoubleNear(1e-12), expected);
}

// Position and velocity, one second per step, observed in position; worked by hand.
TEST(Kalman, OneStepOfAConstantVelocityModel) {
  constexpr Vector2 kPosition = {1.0, 0.0};
  const Prediction prior = predict({1.0, 2.0}, {{{1.0, 0.0}, {0.0, 1.0}}},
                                   {{{1.0, 1.0}, {0.0, 1.0}}}, {{{0.5, 0.0}, {0.0, 0.25}}});
  EXPECT_THAT(prior.state, near({3.0, 2.0}));
  EXPECT_THAT(prior.covariance[0], near({2.5, 1.0}));
  EXPECT_THAT(prior.covariance[1], near({1.0, 1.25}));

  const Innovation innovation = innovate(prior, 6.0, kPosition, 0.5);
  EXPECT_DOUBLE_EQ(innovation.residual, 3.0);
  EXPECT_DOUBLE_EQ(innovation.covariance, 3.0);

  const std::optional<Correction> posterior = correct(prior, innovation, kPosition);
  ASSERT_TRUE(posterior);
  EXPECT_THAT(posterior->gain, near({5.0 / 6.0, 1.0 / 3.0}));
  EXPECT_THAT(posterior->state, near({5.5, 3.0}));
  EXPECT_THAT(posterior->covariance[0], near({5.0 / 12.0, 1.0 / 6.0}));
  EXPECT_THAT(posterior->covariance[1], near({1.0 / 6.0, 11.0 / 12.0}));
}

TEST(Kalman, OnlyAnInnovationCovarianceOfExactlyZeroIsSingular) {
  constexpr Vector2 kPosition = {1.0, 0.0};
  const Prediction prior{{0.0, 0.0}, {{{1.0, 0.0}, {0.0, 1.0}}}};
  EXPECT_FALSE(correct(prior, {1.0, 0.0}, kPosition));
  EXPECT_FALSE(correct(prior, {1.0, -0.0}, kPosition));
  EXPECT_TRUE(correct(prior, {1.0, 1e-300}, kPosition));
  const auto not_a_number =
      correct(prior, {1.0, std::numeric_limits<double>::quiet_NaN()}, kPosition);
  ASSERT_TRUE(not_a_number);
  EXPECT_TRUE(std::isnan(not_a_number->state[0]));
}

}  // namespace
}  // namespace talvo::detail::kalman
