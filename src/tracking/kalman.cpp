#include "tracking/kalman.hpp"

namespace talvo::kalman {

Prediction predict(const State& state, const Covariance& covariance, const Transition& transition,
                   const Covariance& process_noise) {
  return {transition * state, transition * covariance * transition.transpose() + process_noise};
}

Innovation innovate(const Prediction& prediction, const Measurement& measurement,
                    const Observation& observation, const Measurement& measurement_noise) {
  return {measurement - observation * prediction.state,
          observation * prediction.covariance * observation.transpose() + measurement_noise};
}

std::optional<Measurement> invert(const Measurement& matrix) {
  const Eigen::PartialPivLU<Measurement> lu(matrix);
  if ((lu.matrixLU().diagonal().array() == 0.0).any()) return std::nullopt;
  return lu.inverse();
}

std::optional<Correction> correct(const Prediction& prediction, const Innovation& innovation,
                                  const Observation& observation) {
  const auto inverse = invert(innovation.covariance);
  if (!inverse) return std::nullopt;
  const Gain gain = prediction.covariance * observation.transpose() * *inverse;
  return Correction{gain, prediction.state + gain * innovation.residual,
                    prediction.covariance - gain * observation * prediction.covariance};
}

}  // namespace talvo::kalman
