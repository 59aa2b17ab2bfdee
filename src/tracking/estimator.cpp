#include "talvo/tracking/estimator.hpp"

#include "talvo/core/panic.hpp"

namespace talvo {

namespace {

// The estimated interval is kept between 0.1 ms and 100 s, so the frequency stays within
// [0.01, 10000] changes per second.
constexpr double kShortestInterval = 0.0001;
constexpr double kLongestInterval = 100.0;

}  // namespace

FoCEstimator::FoCEstimator(double initial)
    : state{initial, 0.0},
      covariance{{{30.0, 0.0}, {0.0, 100.0}}},
      observation{1.0, 0.0},
      process_noise{{{0.05, 1.0}, {1.0, 20.0}}},
      measurement_noise(0.05) {}

Matrix2 FoCEstimator::transition(double dt) {
  return {{{1.0, dt}, {0.0, 1.0}}};
}

double FoCEstimator::update(double timestamp) {
  if (!last_timestamp) {
    last_timestamp = timestamp;
    return 0.0;
  }
  const double dt = timestamp - *last_timestamp;
  last_timestamp = timestamp;

  const auto prediction = detail::kalman::predict(state, covariance, transition(dt), process_noise);
  predicted_state = prediction.state;
  predicted_covariance = prediction.covariance;

  const auto measured = detail::kalman::innovate(prediction, dt, observation, measurement_noise);
  innovation = measured.residual;
  innovation_covariance = measured.covariance;

  const auto correction = detail::kalman::correct(prediction, measured, observation);
  if (!correction) throw Panic("Failed to invert Kalman residual covariance matrix");
  gain = correction->gain;
  state = correction->state;
  covariance = correction->covariance;

  // Written as comparisons so that an interval that is not a number passes unchanged.
  if (state[0] < kShortestInterval) {
    state[0] = kShortestInterval;
  } else if (state[0] > kLongestInterval) {
    state[0] = kLongestInterval;
  }
  return 1.0 / state[0];
}

}  // namespace talvo
