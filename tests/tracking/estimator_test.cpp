#include "talvo/tracking/estimator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>

namespace talvo {
namespace {

constexpr double kTolerance = 1e-6;

/// Entry by entry within the tolerance.
void expect_near(const Matrix2& actual, const Matrix2& expected) {
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j) EXPECT_NEAR(actual[i][j], expected[i][j], kTolerance);
  }
}

TEST(FoCEstimator, FirstUpdateOnlyRecordsTheTime) {
  FoCEstimator estimator(2.5);
  EXPECT_EQ(estimator.update(1000.0), 0.0);
  EXPECT_EQ(estimator.last_timestamp, 1000.0);
  EXPECT_EQ(estimator.state, (Vector2{2.5, 0.0}));
  EXPECT_EQ(estimator.covariance, (Matrix2{{{30.0, 0.0}, {0.0, 100.0}}}));
  EXPECT_EQ(estimator.predicted_state, (Vector2{0.0, 0.0}));
  EXPECT_EQ(estimator.gain, (Vector2{0.0, 0.0}));
}

TEST(FoCEstimator, OneSecondIntervalStep) {
  FoCEstimator estimator(0.0);
  estimator.update(10.0);
  const double frequency = estimator.update(11.0);

  EXPECT_EQ(estimator.last_timestamp, 11.0);
  EXPECT_EQ(estimator.predicted_state, (Vector2{0.0, 0.0}));
  expect_near(estimator.predicted_covariance, {{{130.05, 101.0}, {101.0, 120.0}}});
  EXPECT_NEAR(estimator.innovation, 1.0, kTolerance);
  EXPECT_NEAR(estimator.innovation_covariance, 130.1, kTolerance);
  EXPECT_NEAR(estimator.gain[0], 130.05 / 130.1, kTolerance);
  EXPECT_NEAR(estimator.gain[1], 101.0 / 130.1, kTolerance);
  EXPECT_NEAR(estimator.state[0], 0.999616, kTolerance);
  EXPECT_NEAR(estimator.state[1], 0.776326, kTolerance);
  EXPECT_NEAR(frequency, 1.000384, kTolerance);
  EXPECT_DOUBLE_EQ(frequency, 1.0 / estimator.state[0]);

  // Plain covariance update: P = P⁻ − K·H·P⁻, with H = [1 0].
  const Matrix2& prior = estimator.predicted_covariance;
  Matrix2 expected;
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j)
      expected[i][j] = prior[i][j] - estimator.gain[i] * prior[0][j];
  }
  expect_near(estimator.covariance, expected);
}

TEST(FoCEstimator, EstimatedIntervalIsClamped) {
  FoCEstimator same_time(0.0);
  same_time.update(5.0);
  EXPECT_DOUBLE_EQ(same_time.update(5.0), 10000.0);
  EXPECT_EQ(same_time.state[0], 0.0001);

  FoCEstimator long_wait(0.0);
  long_wait.update(0.0);
  EXPECT_DOUBLE_EQ(long_wait.update(150.0), 0.01);
  EXPECT_EQ(long_wait.state[0], 100.0);
}

TEST(FoCEstimator, StaysWithinFrequencyRangeOverIrregularIntervals) {
  FoCEstimator estimator(0.0);
  const double timestamps[] = {0.0, 0.5, 0.5, 3.0, 2.0, 400.0, 400.001, 399.0, 1e6, -5.0};
  estimator.update(timestamps[0]);
  for (double t : timestamps) {
    const double frequency = estimator.update(t);
    EXPECT_GE(frequency, 0.01) << t;
    EXPECT_LE(frequency, 10000.0) << t;
  }
}

TEST(FoCEstimator, NegativeIntervalsGoThroughTheFilter) {
  FoCEstimator estimator(0.0);
  estimator.update(10.0);
  const double frequency = estimator.update(9.0);
  EXPECT_EQ(estimator.last_timestamp, 9.0);
  EXPECT_EQ(estimator.innovation, -1.0);
  EXPECT_EQ(estimator.predicted_covariance[0][1], -99.0);  // F(−1)·P·F(−1)ᵀ + Q
  EXPECT_DOUBLE_EQ(frequency, 10000.0);                    // x[0] < 0 is clamped
}

TEST(FoCEstimator, ATimestampTheFilterCannotTakeChangesNoEstimate) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double unusable : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e160}) {
    FoCEstimator estimator(0.0);
    double frequency = 0.0;
    for (double t = 0.0; t <= 3.0; ++t) frequency = estimator.update(t);
    const FoCEstimator before = estimator;
    EXPECT_EQ(estimator.update(unusable), frequency) << unusable;
    EXPECT_EQ(estimator.state, before.state) << unusable;
    EXPECT_EQ(estimator.covariance, before.covariance) << unusable;
    // Back at the regular clock, changes once a second come out at once a second.
    for (double t = 4.0; t <= 40.0; ++t) frequency = estimator.update(t);
    EXPECT_NEAR(frequency, 1.0, 1e-3) << unusable;
  }
  // Not recorded as the first change either.
  FoCEstimator fresh(0.0);
  EXPECT_EQ(fresh.update(inf), 0.0);
  EXPECT_EQ(fresh.update(1.0), 0.0);
  EXPECT_FALSE(std::isnan(fresh.update(2.0)));
}

TEST(FoCEstimator, ASingularResidualCovarianceChangesNoEstimate) {
  FoCEstimator estimator(0.0);
  estimator.update(1.0);
  const double frequency = estimator.update(2.0);
  // With dt = 0, P⁻[0][0] = P[0][0] + 0.05 = −0.05, so S = P⁻[0][0] + R = 0 exactly.
  estimator.covariance = Matrix2{{{-0.1, 0.0}, {0.0, 0.0}}};
  const FoCEstimator before = estimator;
  EXPECT_EQ(estimator.update(2.0), frequency);
  EXPECT_EQ(estimator.state, before.state);
  EXPECT_EQ(estimator.covariance, before.covariance);
  EXPECT_EQ(estimator.innovation_covariance, before.innovation_covariance);
}

}  // namespace
}  // namespace talvo
