#include "channels/ipc_writer.hpp"

#include <algorithm>
#include <cstddef>

#include "core/clock.hpp"
#include "core/panic.hpp"

namespace talvo {

double current_timestamp() {
  const std::optional<double> now = unix_timestamp();
  if (!now) throw Panic("Acquiring UNIX timestamp failed!");
  return *now;
}

void IpcWriter::write(Value value, std::optional<double> timestamp) const {
  const double stamp = timestamp ? *timestamp : current_timestamp();
  // Nobody serves the channel when the send fails; the value is dropped.
  (void)sender.send(ValueMessage{std::move(value), stamp});
}

void ProbabilityWriter::write(Value probabilities, std::optional<double> timestamp) const {
  writer_.write(std::move(probabilities), timestamp);
}

void BooleanWriter::write(bool value, std::optional<double> timestamp) const {
  writer_.write(Value{value ? 1.0 : 0.0}, timestamp);
}

void CategoricalWriter::write(std::span<const Value> categories,
                              std::optional<double> timestamp) const {
  std::size_t total = 0;
  for (const Value& category : categories) total += category.size();
  Value flat = Value::build(total, [&](std::span<double> out) {
    auto next = out.begin();
    for (const Value& category : categories) next = std::ranges::copy(category, next).out;
  });
  writer_.write(std::move(flat), timestamp);
}

void CategoricalWriter::write(Value flat, std::optional<double> timestamp) const {
  writer_.write(std::move(flat), timestamp);
}

}  // namespace talvo
