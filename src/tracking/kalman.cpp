#include "talvo/tracking/kalman.hpp"

#include <cstddef>

namespace talvo::detail::kalman {
namespace {

Matrix2 times(const Matrix2& a, const Matrix2& b) {
  Matrix2 product;
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j) product[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j];
  }
  return product;
}

Matrix2 transposed(const Matrix2& m) {
  return {{{m[0][0], m[1][0]}, {m[0][1], m[1][1]}}};
}

}  // namespace

Prediction predict(const Vector2& state, const Matrix2& covariance, const Matrix2& transition,
                   const Matrix2& process_noise) {
  Prediction prior;
  for (std::size_t i = 0; i < 2; ++i) {
    prior.state[i] = transition[i][0] * state[0] + transition[i][1] * state[1];
  }
  prior.covariance = times(times(transition, covariance), transposed(transition));
  for (std::size_t i = 0; i < 2; ++i) {
    for (std::size_t j = 0; j < 2; ++j) prior.covariance[i][j] += process_noise[i][j];
  }
  return prior;
}

Innovation innovate(const Prediction& prediction, double measurement, const Vector2& observation,
                    double measurement_noise) {
  const Matrix2& p = prediction.covariance;
  const double h_p[] = {observation[0] * p[0][0] + observation[1] * p[1][0],
                        observation[0] * p[0][1] + observation[1] * p[1][1]};
  return {
      measurement - (observation[0] * prediction.state[0] + observation[1] * prediction.state[1]),
      h_p[0] * observation[0] + h_p[1] * observation[1] + measurement_noise};
}

std::optional<Correction> correct(const Prediction& prediction, const Innovation& innovation,
                                  const Vector2& observation) {
  if (innovation.covariance == 0.0) return std::nullopt;
  const double inverse = 1.0 / innovation.covariance;
  const Matrix2& p = prediction.covariance;
  Correction posterior;
  for (std::size_t i = 0; i < 2; ++i) {
    posterior.gain[i] = (p[i][0] * observation[0] + p[i][1] * observation[1]) * inverse;
    posterior.state[i] = prediction.state[i] + posterior.gain[i] * innovation.residual;
  }
  // K·H·P⁻, with K·H formed first.
  for (std::size_t i = 0; i < 2; ++i) {
    const double k_h[] = {posterior.gain[i] * observation[0], posterior.gain[i] * observation[1]};
    for (std::size_t j = 0; j < 2; ++j) {
      posterior.covariance[i][j] = p[i][j] - (k_h[0] * p[0][j] + k_h[1] * p[1][j]);
    }
  }
  return posterior;
}

}  // namespace talvo::detail::kalman
