#pragma once
// Change-frequency estimator of a leaf: a two-state Kalman filter over the interval between
// accepted changes (state: the interval in seconds and its drift per second).

#include <optional>

#include "talvo/tracking/kalman.hpp"

namespace talvo {

using detail::kalman::Matrix2;
using detail::kalman::Vector2;

class FoCEstimator {
 public:
  /// `initial` is the first estimate of the interval between changes.
  explicit FoCEstimator(double initial);

  /// Feeds the timestamp of an accepted change; returns the estimated changes per second
  /// (0.0 until the first filter step, then within [0.01, 10000.0]). Zero and negative intervals
  /// go through the filter. A timestamp that is not finite changes no estimate: the last one is
  /// returned, and the next interval is measured from the last finite timestamp. So does a step
  /// the filter cannot take (an interval too long for its numbers, a singular residual
  /// covariance), after which the next interval is measured from this timestamp. Never throws.
  double update(double timestamp);

  /// F(dt), built anew on every use.
  static Matrix2 transition(double dt);

  std::optional<double> last_timestamp;
  // Quantities of the last filter step.
  Vector2 predicted_state{};
  Matrix2 predicted_covariance{};
  // Element 0: the estimated interval between accepted changes (seconds), element 1 its drift.
  Vector2 state;
  Matrix2 covariance;
  Vector2 observation;  ///< H, one row
  Matrix2 process_noise;
  double measurement_noise;
  double innovation = 0.0;
  double innovation_covariance = 0.0;
  Vector2 gain{};         ///< K, one column
  double estimate = 0.0;  ///< the last filter step's result; 0.0 before the first
};

}  // namespace talvo
