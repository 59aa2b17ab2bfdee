#include "tracking/estimator.hpp"

#include "core/panic.hpp"
#include "tracking/kalman.hpp"

namespace talvo {

namespace {

// The estimated interval is kept between 0.1 ms and 100 s, so the frequency stays within
// [0.01, 10000] changes per second.
constexpr double kShortestInterval = 0.0001;
constexpr double kLongestInterval = 100.0;

kalman::State column(const Vector2& v) {
  return {v[0], v[1]};
}
kalman::Observation row(const Vector2& v) {
  return kalman::Observation{{v[0], v[1]}};
}
kalman::Covariance matrix(const Matrix2& m) {
  return kalman::Covariance{{m[0][0], m[0][1]}, {m[1][0], m[1][1]}};
}
kalman::Measurement scalar(double x) {
  return kalman::Measurement{x};
}

template <class Column>
Vector2 plain(const Column& v) {
  return {v(0), v(1)};
}
Matrix2 plain_matrix(const kalman::Covariance& m) {
  return {{{m(0, 0), m(0, 1)}, {m(1, 0), m(1, 1)}}};
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
  if (!last_timestamp) {
    last_timestamp = timestamp;
    return 0.0;
  }
  const double dt = timestamp - *last_timestamp;
  last_timestamp = timestamp;

  const auto prediction = kalman::predict(column(state), matrix(covariance), matrix(transition(dt)),
                                          matrix(process_noise));
  predicted_state = plain(prediction.state);
  predicted_covariance = plain_matrix(prediction.covariance);

  const auto measured =
      kalman::innovate(prediction, scalar(dt), row(observation), scalar(measurement_noise));
  innovation = measured.residual(0, 0);
  innovation_covariance = measured.covariance(0, 0);

  const auto correction = kalman::correct(prediction, measured, row(observation));
  if (!correction) throw Panic("Failed to invert Kalman residual covariance matrix");
  gain = plain(correction->gain);
  state = plain(correction->state);
  covariance = plain_matrix(correction->covariance);

  // Written as comparisons so that an interval that is not a number passes unchanged.
  if (state[0] < kShortestInterval) {
    state[0] = kShortestInterval;
  } else if (state[0] > kLongestInterval) {
    state[0] = kLongestInterval;
  }
  return 1.0 / state[0];
}

}  // namespace talvo
