#include "talvo/channels/writers.hpp"

#include <cstddef>

#include "talvo/channels/distribution.hpp"

namespace talvo {

Result<void> NumberWriter::write(std::span<const double> values,
                                 std::optional<double> timestamp) const {
  if (Result<void> accepted = accepted_.check(values.size()); !accepted) return accepted;
  const double stamp = timestamp ? *timestamp : current_timestamp();
  for (const ComparisonSender& entry : entries_) {
    const double t = entry.threshold;
    Value indicator = entry.greater
                          ? Value::map(values, [t](double v) { return v > t ? 1.0 : 0.0; })
                          : Value::map(values, [t](double v) { return v < t ? 1.0 : 0.0; });
    (void)entry.sender.send(ValueMessage{std::move(indicator), stamp});
  }
  return {};
}

Result<void> DensityWriter::write(std::string_view distribution,
                                  const std::vector<std::vector<double>>& parameters,
                                  std::optional<double> timestamp) const {
  const Result<VectorDistribution> density =
      VectorDistribution::from_parameters(distribution, parameters);
  if (!density) return std::unexpected(density.error());
  if (Result<void> accepted = accepted_.check(density->slots()); !accepted) return accepted;
  const double stamp = timestamp ? *timestamp : current_timestamp();
  for (const ComparisonSender& entry : entries_) {
    Value probabilities =
        entry.greater ? density->survival(entry.threshold) : density->cdf(entry.threshold);
    (void)entry.sender.send(ValueMessage{std::move(probabilities), stamp});
  }
  return {};
}

}  // namespace talvo
