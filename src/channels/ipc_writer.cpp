#include "talvo/channels/ipc_writer.hpp"

#include <algorithm>
#include <cstddef>
#include <string>

#include "talvo/circuit/leaf.hpp"
#include "talvo/core/clock.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

double current_timestamp() {
  const std::optional<double> now = unix_timestamp();
  if (!now) throw Panic("Acquiring UNIX timestamp failed!");
  return *now;
}

Result<void> AcceptedLengths::check(std::size_t length) const {
  if (rule_ == nullptr) {
    if (length > 0) return {};
    return fail("an empty value cannot be written: a leaf holds at least one entry");
  }
  if (rule_(length, value_size_)) return {};
  return fail("cannot write to source '" + source_ +
              "': " + detail::leaf_length_refused(length, value_size_).error().message());
}

Result<void> IpcWriter::write(Value value, std::optional<double> timestamp) const {
  if (Result<void> accepted_length = accepted.check(value.size()); !accepted_length) {
    return accepted_length;
  }
  const double stamp = timestamp ? *timestamp : current_timestamp();
  // Nobody serves the channel when the send fails; the value is dropped.
  (void)sender.send(ValueMessage{std::move(value), stamp});
  return {};
}

Result<void> ProbabilityWriter::write(Value probabilities, std::optional<double> timestamp) const {
  return writer_.write(std::move(probabilities), timestamp);
}

Result<void> BooleanWriter::write(bool value, std::optional<double> timestamp) const {
  return writer_.write(Value{value ? 1.0 : 0.0}, timestamp);
}

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

}  // namespace talvo
