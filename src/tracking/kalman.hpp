#pragma once
// A linear Kalman filter with two states and one measurement, on fixed-size matrices. Each step is
// a free function of the previous quantities, so the caller decides what it keeps between steps.

#include <Eigen/Dense>
#include <optional>

namespace talvo::kalman {

using State = Eigen::Vector2d;
using Covariance = Eigen::Matrix2d;
using Transition = Eigen::Matrix2d;
using Observation = Eigen::Matrix<double, 1, 2>;
/// Measurements, innovations and their covariances are 1 x 1.
using Measurement = Eigen::Matrix<double, 1, 1>;
using Gain = Eigen::Matrix<double, 2, 1>;

/// The prior of one step: x⁻ and P⁻.
struct Prediction {
  State state;
  Covariance covariance;
};

/// How far a measurement lies from the prediction: y and S.
struct Innovation {
  Measurement residual;
  Measurement covariance;
};

/// The posterior of one step: K, x and P.
struct Correction {
  Gain gain;
  State state;
  Covariance covariance;
};

/// x⁻ = F·x, P⁻ = F·P·Fᵀ + Q.
Prediction predict(const State& state, const Covariance& covariance, const Transition& transition,
                   const Covariance& process_noise);

/// y = z − H·x⁻, S = H·P⁻·Hᵀ + R.
Innovation innovate(const Prediction& prediction, const Measurement& measurement,
                    const Observation& observation, const Measurement& measurement_noise);

/// The inverse of `matrix` by LU decomposition with partial pivoting; nothing when a pivot is
/// exactly zero. A pivot that is not a number does not count as singular.
std::optional<Measurement> invert(const Measurement& matrix);

/// K = P⁻·Hᵀ·S⁻¹, x = x⁻ + K·y, P = P⁻ − K·H·P⁻ (the plain form, not Joseph's); nothing when S is
/// singular.
std::optional<Correction> correct(const Prediction& prediction, const Innovation& innovation,
                                  const Observation& observation);

}  // namespace talvo::kalman
