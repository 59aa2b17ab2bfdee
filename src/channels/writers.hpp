#pragma once
// Fan-out writers of numeric sources: one call sends one vector per comparison made on the
// source, each on the comparison's own channel and all with one timestamp.

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "channels/ipc_channel.hpp"
#include "core/error.hpp"

namespace talvo {

/// One comparison made on a numeric source: `value < threshold`, or `value > threshold` when
/// `greater` is set, fed on the comparison's channel.
struct ComparisonSender {
  double threshold = 0.0;
  bool greater = false;
  ValueSender sender;
};

/// Sends, per comparison, 1.0 in every slot where the comparison holds and 0.0 elsewhere (a slot
/// that is not a number satisfies no comparison).
class NumberWriter {
 public:
  explicit NumberWriter(std::vector<ComparisonSender> entries) : entries_(std::move(entries)) {}

  void write(std::span<const double> values, std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  std::vector<ComparisonSender> entries_;
};

/// Sends, per comparison, the probability per slot that the comparison holds under one
/// distribution per slot: the cumulative probability for "<", its survival form for ">".
class DensityWriter {
 public:
  explicit DensityWriter(std::vector<ComparisonSender> entries) : entries_(std::move(entries)) {}

  /// `distribution` names the distribution ("normal", "lognormal", "exponential", "uniform") and
  /// `parameters` holds its parameter lists in order. An unknown name or too few lists is
  /// refused and nothing is sent.
  Result<void> write(std::string_view distribution,
                     const std::vector<std::vector<double>>& parameters,
                     std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  std::vector<ComparisonSender> entries_;
};

}  // namespace talvo
