#include "talvo/channels/writers.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "core/number_text.hpp"
#include "talvo/channels/distribution.hpp"

namespace talvo {

namespace {

/// A probability is a number in [0, 1]; a comparison of not-a-number is false both ways, so the
/// test fails for it too.
bool is_probability(double p) {
  return p >= 0.0 && p <= 1.0;
}

std::string not_a_probability(const std::string& slot, double p) {
  return slot + " is " + detail::number_text(p) + "; a probability is a number in [0, 1]";
}

// How far the categories of a slot may sum from 1, by rounding in the caller's arithmetic, before
// a write is refused.
constexpr double kCategoricalTolerance = 1e-6;

// A numeric source's values reach the circuit only through comparisons: with none, a write would
// change nothing.
constexpr const char* kNoComparison =
    "no comparison in the model reads it, so a write would change nothing";

// Sends one vector per comparison, all with one timestamp. Every comparison is fed even where
// another's channel has lost its reader; such a write is reported.
template <class Probabilities>
Result<void> fan_out(const std::vector<ComparisonSender>& entries, const AcceptedLengths& accepted,
                     std::optional<double> timestamp, Probabilities&& probabilities) {
  const double stamp = timestamp ? *timestamp : current_timestamp();
  bool unread = false;
  for (const ComparisonSender& entry : entries) {
    unread |= !entry.sender.send(ValueMessage{probabilities(entry), stamp}).has_value();
  }
  if (unread) return accepted.refuse_unread();
  return {};
}

}  // namespace

ProbabilityWriter::ProbabilityWriter(ValueSender sender, AcceptedLengths accepted)
    : writer_(std::move(sender), std::move(accepted)) {}

Result<void> detail::check_probabilities(const AcceptedLengths& accepted,
                                         std::span<const double> probabilities) {
  for (std::size_t i = 0; i < probabilities.size(); ++i) {
    if (is_probability(probabilities[i])) continue;
    return accepted.refuse(not_a_probability("slot " + std::to_string(i), probabilities[i]));
  }
  return accepted.check(probabilities.size());
}

Result<void> ProbabilityWriter::write(Value probabilities, std::optional<double> timestamp) const {
  if (Result<void> checked = detail::check_probabilities(writer_.accepted, probabilities); !checked)
    return checked;
  return writer_.write(std::move(probabilities), timestamp);
}

BooleanWriter::BooleanWriter(ValueSender sender, AcceptedLengths accepted)
    : writer_(std::move(sender), std::move(accepted)) {}

Result<void> BooleanWriter::write(bool value, std::optional<double> timestamp) const {
  return writer_.write(Value{value ? 1.0 : 0.0}, timestamp);
}

CategoricalWriter::CategoricalWriter(ValueSender sender) : writer_(std::move(sender)) {}

CategoricalWriter::CategoricalWriter(ValueSender sender, CategoricalLayout layout,
                                     const std::string& topic)
    : writer_(std::move(sender), AcceptedLengths("the categorical source on '" + topic + "'")),
      layout_(layout) {}

std::unexpected<Error> CategoricalWriter::refuse(const std::string& what) const {
  return writer_.accepted.refuse(what);
}

Result<Value> detail::accept_categories(const AcceptedLengths& accepted,
                                        const std::optional<CategoricalLayout>& layout,
                                        Value flat) {
  const auto refuse = [&](const std::string& what) { return accepted.refuse(what); };
  if (layout && flat.size() != layout->categories * layout->value_size) {
    return refuse("it takes " + std::to_string(layout->categories) + " categories of " +
                  std::to_string(layout->value_size) + " entries each, " +
                  std::to_string(layout->categories * layout->value_size) +
                  " entries in all, not " + std::to_string(flat.size()));
  }
  // Without the layout the slots of a category are not known: only the entries are checked.
  const std::size_t slots = layout ? layout->value_size : 0;
  for (std::size_t k = 0; k < flat.size(); ++k) {
    if (is_probability(flat[k])) continue;
    return refuse(not_a_probability(
        slots == 0 ? "entry " + std::to_string(k)
                   : "category " + std::to_string(k / slots) + " slot " + std::to_string(k % slots),
        flat[k]));
  }
  // In each slot the categories exclude each other and one of them holds.
  std::vector<double> sums(slots, 0.0);
  for (std::size_t i = 0; i < slots; ++i) {
    for (std::size_t k = i; k < flat.size(); k += slots) sums[i] += flat[k];
    if (std::abs(sums[i] - 1.0) <= kCategoricalTolerance) continue;
    return refuse("slot " + std::to_string(i) + ": the categories sum to " +
                  detail::number_text(sums[i]) + ", not 1");
  }
  // A slot accepted within the tolerance is scaled to sum to 1, so that no world weighs more or
  // less than the whole.
  if (Result<void> checked = accepted.check(flat.size()); !checked) {
    return std::unexpected(checked.error());
  }
  if (std::ranges::any_of(sums, [](double sum) { return sum != 1.0; })) {
    flat = Value::build(flat.size(), [&](std::span<double> out) {
      for (std::size_t k = 0; k < out.size(); ++k) out[k] = flat[k] / sums[k % slots];
    });
  }
  return flat;
}

Result<void> CategoricalWriter::send(Value flat, std::optional<double> timestamp) const {
  Result<Value> accepted = detail::accept_categories(writer_.accepted, layout_, std::move(flat));
  if (!accepted) return std::unexpected(accepted.error());
  return writer_.write(std::move(*accepted), timestamp);
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
  return send(std::move(flat), timestamp);
}

Result<void> CategoricalWriter::write(Value flat, std::optional<double> timestamp) const {
  return send(std::move(flat), timestamp);
}

NumberWriter::NumberWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted)
    : entries_(std::move(entries)), accepted_(std::move(accepted)) {}

Result<void> NumberWriter::write(std::span<const double> values,
                                 std::optional<double> timestamp) const {
  if (entries_.empty()) return accepted_.refuse(kNoComparison);
  if (Result<void> accepted = accepted_.check(values.size()); !accepted) return accepted;
  // Every comparison with not-a-number is false, so its slot would be neither below nor above
  // any threshold.
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isnan(values[i])) continue;
    return accepted_.refuse("slot " + std::to_string(i) + " is not a number");
  }
  return fan_out(entries_, accepted_, timestamp, [&](const ComparisonSender& entry) {
    const double t = entry.threshold;
    return entry.greater ? Value::map(values, [t](double v) { return v > t ? 1.0 : 0.0; })
                         : Value::map(values, [t](double v) { return v < t ? 1.0 : 0.0; });
  });
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
  if (entries_.empty() && !intervals_) return accepted_.refuse(kNoComparison);
  const Result<VectorDistribution> density =
      VectorDistribution::from_parameters(distribution, parameters);
  if (!density) return accepted_.refuse(density.error().message());
  if (Result<void> accepted = accepted_.check(density->slots()); !accepted) return accepted;
  if (intervals_ && density->slots() != 1 && density->slots() < intervals_->slots) {
    return accepted_.refuse("a distribution of " + std::to_string(density->slots()) +
                            " slots cannot fill intervals of " + std::to_string(intervals_->slots) +
                            " entries");
  }
  const double stamp = timestamp ? *timestamp : current_timestamp();
  Result<void> sent = fan_out(entries_, accepted_, stamp, [&](const ComparisonSender& entry) {
    return entry.greater ? density->survival(entry.threshold) : density->cdf(entry.threshold);
  });
  if (intervals_ &&
      !intervals_->sender.send(ValueMessage{interval_probabilities(*density), stamp})) {
    return accepted_.refuse_unread();
  }
  return sent;
}

}  // namespace talvo
