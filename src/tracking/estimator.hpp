#pragma once
// Change-frequency estimator of a leaf: a two-state Kalman filter over the interval between
// accepted changes (state: the interval in seconds and its drift per second).

#include <optional>

#include "tracking/kalman.hpp"

namespace talvo {

class FoCEstimator {
 public:
  /// `initial` is the first estimate of the interval between changes.
  explicit FoCEstimator(double initial);

  /// Feeds the timestamp of an accepted change; returns the estimated changes per second
  /// (0.0 on the first call, else within [0.01, 10000.0] unless not a number). Intervals are not
  /// checked: zero and negative ones go through the filter. Throws `Panic` when the residual
  /// covariance is singular.
  double update(double timestamp);

  /// F(dt), built anew on every use.
  static kalman::Transition transition(double dt);

  std::optional<double> last_timestamp;
  // Quantities of the last filter step.
  kalman::State predicted_state;
  kalman::Covariance predicted_covariance;
  // Element 0: the estimated interval between accepted changes (seconds), element 1 its drift.
  kalman::State state;
  kalman::Covariance covariance;
  kalman::Observation observation;
  kalman::Covariance process_noise;
  kalman::Measurement measurement_noise;
  kalman::Measurement innovation;
  kalman::Measurement innovation_covariance;
  kalman::Gain gain;
};

}  // namespace talvo
