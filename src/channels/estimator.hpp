#pragma once
// Change-frequency estimator of a leaf: a two-state Kalman filter over the interval between
// accepted changes (state: the interval in seconds and its drift per second).

#include <optional>

#include <Eigen/Dense>

namespace talvo {

class FoCEstimator {
 public:
  /// `initial` is the first estimate of the interval between changes.
  explicit FoCEstimator(double initial);

  /// Feeds the timestamp of an accepted change; returns the estimated changes per second
  /// (0.0 on the first call, else within [0.01, 10000.0] unless not a number).
  double update(double timestamp);

  std::optional<double> last_timestamp;
  Eigen::Vector2d predicted_state;
  Eigen::Matrix2d predicted_covariance;
  Eigen::Vector2d state;
  Eigen::Matrix2d covariance;
  Eigen::Matrix<double, 1, 2> observation;
  Eigen::Matrix2d process_noise;
  Eigen::Matrix<double, 1, 1> measurement_noise;
  Eigen::Matrix<double, 1, 1> innovation;
  Eigen::Matrix<double, 1, 1> innovation_covariance;
  Eigen::Matrix<double, 2, 1> gain;

  /// F(dt), built anew on every use.
  static Eigen::Matrix2d transition(double dt);
};

}  // namespace talvo
