#include "talvo/channels/writers.hpp"

#include <algorithm>
#include <cstddef>
#include <string>

#include "talvo/channels/distribution.hpp"

namespace talvo {

ProbabilityWriter::ProbabilityWriter(ValueSender sender, AcceptedLengths accepted)
    : writer_(std::move(sender), std::move(accepted)) {}

Result<void> ProbabilityWriter::write(Value probabilities, std::optional<double> timestamp) const {
  return writer_.write(std::move(probabilities), timestamp);
}

BooleanWriter::BooleanWriter(ValueSender sender, AcceptedLengths accepted)
    : writer_(std::move(sender), std::move(accepted)) {}

Result<void> BooleanWriter::write(bool value, std::optional<double> timestamp) const {
  return writer_.write(Value{value ? 1.0 : 0.0}, timestamp);
}

CategoricalWriter::CategoricalWriter(ValueSender sender) : writer_(std::move(sender)) {}

CategoricalWriter::CategoricalWriter(ValueSender sender, CategoricalLayout layout,
                                     std::string topic)
    : writer_(std::move(sender)), layout_(layout), topic_(std::move(topic)) {}

std::unexpected<Error> CategoricalWriter::refuse(const std::string& what) const {
  return fail("cannot write to the categorical source on '" + topic_ + "': " + what);
}

Result<void> CategoricalWriter::write(std::span<const Value> categories,
                                      std::optional<double> timestamp) const {
  if (layout_) {
    if (categories.size() != layout_->categories) {
      return refuse("it takes " + std::to_string(layout_->categories) + " categories, not " +
                    std::to_string(categories.size()));
    }
    for (std::size_t j = 0; j < categories.size(); ++j) {
      if (categories[j].size() == layout_->value_size) continue;
      return refuse("category " + std::to_string(j) + " has " +
                    std::to_string(categories[j].size()) + " entries, not " +
                    std::to_string(layout_->value_size));
    }
  }
  std::size_t total = 0;
  for (const Value& category : categories) total += category.size();
  Value flat = Value::build(total, [&](std::span<double> out) {
    auto next = out.begin();
    for (const Value& category : categories) next = std::ranges::copy(category, next).out;
  });
  return writer_.write(std::move(flat), timestamp);
}

Result<void> CategoricalWriter::write(Value flat, std::optional<double> timestamp) const {
  if (layout_ && flat.size() != layout_->categories * layout_->value_size) {
    return refuse("it takes " + std::to_string(layout_->categories) + " categories of " +
                  std::to_string(layout_->value_size) + " entries each, " +
                  std::to_string(layout_->categories * layout_->value_size) +
                  " entries in all, not " + std::to_string(flat.size()));
  }
  return writer_.write(std::move(flat), timestamp);
}

NumberWriter::NumberWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted)
    : entries_(std::move(entries)), accepted_(std::move(accepted)) {}

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

DensityWriter::DensityWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted,
                             std::optional<IntervalSender> intervals)
    : entries_(std::move(entries)),
      accepted_(std::move(accepted)),
      intervals_(std::move(intervals)) {
  if (!intervals_) return;
  // Interval j lies between the j-th and the (j+1)-th smallest threshold.
  std::vector<double>& thresholds = intervals_->thresholds;
  std::ranges::sort(thresholds);
  thresholds.erase(std::ranges::unique(thresholds).begin(), thresholds.end());
}

Value DensityWriter::interval_probabilities(const VectorDistribution& density) const {
  const std::vector<double>& thresholds = intervals_->thresholds;
  const std::size_t stretch = intervals_->slots;
  // One distribution serves every slot of a stretch; otherwise slot r reads distribution r.
  const bool broadcast = density.slots() == 1;
  std::vector<Value> below;
  below.reserve(thresholds.size());
  for (const double threshold : thresholds) below.push_back(density.cdf(threshold));
  return Value::build((thresholds.size() + 1) * stretch, [&](std::span<double> out) {
    for (std::size_t j = 0; j <= thresholds.size(); ++j) {
      for (std::size_t r = 0; r < stretch; ++r) {
        const std::size_t slot = broadcast ? 0 : r;
        const double upper = j < thresholds.size() ? below[j][slot] : 1.0;
        const double lower = j > 0 ? below[j - 1][slot] : 0.0;
        // The cumulative probabilities are approximated: no difference of them goes below 0.
        out[j * stretch + r] = std::max(0.0, upper - lower);
      }
    }
  });
}

Result<void> DensityWriter::write(std::string_view distribution,
                                  const std::vector<std::vector<double>>& parameters,
                                  std::optional<double> timestamp) const {
  const Result<VectorDistribution> density =
      VectorDistribution::from_parameters(distribution, parameters);
  if (!density) return std::unexpected(density.error());
  if (Result<void> accepted = accepted_.check(density->slots()); !accepted) return accepted;
  if (intervals_ && density->slots() != 1 && density->slots() < intervals_->slots) {
    return fail("a distribution of " + std::to_string(density->slots()) +
                " slots cannot fill intervals of " + std::to_string(intervals_->slots) +
                " entries");
  }
  const double stamp = timestamp ? *timestamp : current_timestamp();
  for (const ComparisonSender& entry : entries_) {
    Value probabilities =
        entry.greater ? density->survival(entry.threshold) : density->cdf(entry.threshold);
    (void)entry.sender.send(ValueMessage{std::move(probabilities), stamp});
  }
  if (intervals_) {
    (void)intervals_->sender.send(ValueMessage{interval_probabilities(*density), stamp});
  }
  return {};
}

}  // namespace talvo
