#pragma once
// Fan-out writers of numeric sources: one call sends one vector per comparison made on the
// source, each on the comparison's own channel and all with one timestamp. A write whose vectors
// the readers would drop is refused before anything is sent.

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/channels/ipc_writer.hpp"
#include "talvo/core/error.hpp"

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
  /// `accepted`: the lengths the readers of the comparisons' channels take.
  explicit NumberWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted = {})
      : entries_(std::move(entries)), accepted_(std::move(accepted)) {}

  /// A number of values `accepted` refuses is an error, and nothing is sent.
  Result<void> write(std::span<const double> values,
                     std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  std::vector<ComparisonSender> entries_;
  AcceptedLengths accepted_;
};

/// Sends, per comparison, the probability per slot that the comparison holds under one
/// distribution per slot: the cumulative probability for "<", its survival form for ">".
class DensityWriter {
 public:
  /// `accepted`: the lengths the readers of the comparisons' channels take.
  explicit DensityWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted = {})
      : entries_(std::move(entries)), accepted_(std::move(accepted)) {}

  /// `distribution` names the distribution ("normal", "lognormal", "exponential", "uniform") and
  /// `parameters` holds its parameter lists in order. An unknown name, too few lists, parameters
  /// that define no distribution or a number of slots `accepted` refuses is refused and nothing
  /// is sent.
  Result<void> write(std::string_view distribution,
                     const std::vector<std::vector<double>>& parameters,
                     std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  std::vector<ComparisonSender> entries_;
  AcceptedLengths accepted_;
};

}  // namespace talvo
