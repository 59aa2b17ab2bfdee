#pragma once
// A linear Kalman filter with two states and one measurement, written out on 2 x 2 arrays. Each
// step is a free function of the previous quantities, so the caller decides what it keeps between
// steps.

#include <array>
#include <optional>

namespace talvo::detail::kalman {

/// A vector of two entries, and a 2 x 2 matrix row by row.
using Vector2 = std::array<double, 2>;
using Matrix2 = std::array<Vector2, 2>;

/// The prior of one step: x⁻ and P⁻.
struct Prediction {
  Vector2 state;
  Matrix2 covariance;
};

/// How far a measurement lies from the prediction: y and S (both 1 x 1).
struct Innovation {
  double residual;
  double covariance;
};

/// The posterior of one step: K (one column), x and P.
struct Correction {
  Vector2 gain;
  Vector2 state;
  Matrix2 covariance;
};

/// x⁻ = F·x, P⁻ = F·P·Fᵀ + Q.
Prediction predict(const Vector2& state, const Matrix2& covariance, const Matrix2& transition,
                   const Matrix2& process_noise);

/// y = z − H·x⁻, S = H·P⁻·Hᵀ + R, with H one row.
Innovation innovate(const Prediction& prediction, double measurement, const Vector2& observation,
                    double measurement_noise);

/// K = P⁻·Hᵀ·S⁻¹, x = x⁻ + K·y, P = P⁻ − K·H·P⁻ (the plain form, not Joseph's); nothing when S is
/// exactly zero, as a pivot of its decomposition would be. An S that is not a number does not
/// count as singular.
std::optional<Correction> correct(const Prediction& prediction, const Innovation& innovation,
                                  const Vector2& observation);

}  // namespace talvo::detail::kalman
