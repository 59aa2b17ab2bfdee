#include "talvo/tracking/estimator.hpp"

#include <cmath>

namespace talvo {

namespace {

// The estimated interval is kept between 0.1 ms and 100 s, so the frequency stays within
// [0.01, 10000] changes per second.
constexpr double kShortestInterval = 0.0001;
constexpr double kLongestInterval = 100.0;

bool finite(const detail::kalman::Vector2& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]);
}

bool finite(const detail::kalman::Prediction& prediction,
            const detail::kalman::Innovation& measured,
            const detail::kalman::Correction& correction) {
  return finite(prediction.state) && finite(prediction.covariance[0]) &&
         finite(prediction.covariance[1]) && std::isfinite(measured.residual) &&
         std::isfinite(measured.covariance) && finite(correction.gain) &&
         finite(correction.state) && finite(correction.covariance[0]) &&
         finite(correction.covariance[1]);
}

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
  // A timestamp that is no finite number measures no interval, and would leave the filter at
  // not-a-number for good.
  if (!std::isfinite(timestamp)) return estimate;
  if (!last_timestamp) {
    last_timestamp = timestamp;
    return 0.0;
  }
  const double dt = timestamp - *last_timestamp;
  last_timestamp = timestamp;

  const auto prediction = detail::kalman::predict(state, covariance, transition(dt), process_noise);
  const auto measured = detail::kalman::innovate(prediction, dt, observation, measurement_noise);
  const auto correction = detail::kalman::correct(prediction, measured, observation);
  // A step the filter cannot take is passed over the same way, and estimating goes on from this
  // timestamp: an interval so long that the step overflows (some 1e154 s), or a residual
  // covariance that is singular, which intervals chosen to cancel the filter's numbers reach.
  // Whatever a writer stamps, the leaf takes its value and no reader fails under the lock.
  if (!correction || !finite(prediction, measured, *correction)) return estimate;

  predicted_state = prediction.state;
  predicted_covariance = prediction.covariance;
  innovation = measured.residual;
  innovation_covariance = measured.covariance;
  gain = correction->gain;
  state = correction->state;
  covariance = correction->covariance;

  // Written as comparisons so that an interval that is not a number passes unchanged.
  if (state[0] < kShortestInterval) {
    state[0] = kShortestInterval;
  } else if (state[0] > kLongestInterval) {
    state[0] = kLongestInterval;
  }
  estimate = 1.0 / state[0];
  return estimate;
}

}  // namespace talvo
