#pragma once
// The typed writers: one class per kind of source, each turning what the caller has into value
// vectors. Probability, boolean and categorical writers send on the source's one channel through
// the plain writer; the fan-out writers of numeric sources send one vector per comparison made on
// the source, each on the comparison's own channel and all with one timestamp. A write whose
// vectors the readers would drop, or that holds what is no probability (no number), is refused
// before anything is sent; a write that nothing reads any more is an error.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/channels/ipc_sender.hpp"
#include "talvo/channels/ipc_writer.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

class VectorDistribution;

/// Writes probability vectors as given; an entry outside [0, 1] is refused.
class ProbabilityWriter {
 public:
  explicit ProbabilityWriter(ValueSender sender, AcceptedLengths accepted = {});
  [[nodiscard]] Result<void> write(Value probabilities,
                                   std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

/// Writes a truth value as the one-element vector [1.0] or [0.0].
class BooleanWriter {
 public:
  explicit BooleanWriter(ValueSender sender, AcceptedLengths accepted = {});
  [[nodiscard]] Result<void> write(bool value,
                                   std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

/// How a categorical reader cuts a message: one stretch of `value_size` slots per category.
struct CategoricalLayout {
  std::size_t categories = 0;
  std::size_t value_size = 0;
};

/// Writes the probabilities of all categories as one flat vector, category by category; the
/// categorical reader cuts it back into one stretch of `value_size` slots per category.
class CategoricalWriter {
 public:
  /// Any vector that is not empty: the reader's layout is not known.
  explicit CategoricalWriter(ValueSender sender);
  /// Exactly the categories of `layout`, each of its `value_size`, whose probabilities sum to 1
  /// within 1e-6 in every slot, scaled to sum to 1; refusals name `topic`.
  CategoricalWriter(ValueSender sender, CategoricalLayout layout, const std::string& topic);

  /// `categories[j]` holds the slots of category j.
  [[nodiscard]] Result<void> write(std::span<const Value> categories,
                                   std::optional<double> timestamp = std::nullopt) const;
  /// A vector already laid out category by category.
  [[nodiscard]] Result<void> write(Value flat,
                                   std::optional<double> timestamp = std::nullopt) const;

 private:
  std::unexpected<Error> refuse(const std::string& what) const;
  /// Sends what `detail::accept_categories` makes of the flat vector.
  [[nodiscard]] Result<void> send(Value flat, std::optional<double> timestamp) const;

  IpcWriter writer_;
  std::optional<CategoricalLayout> layout_;
};

namespace detail {

/// What a probability writer refuses of `probabilities`, found without sending anything.
[[nodiscard]] Result<void> check_probabilities(const AcceptedLengths& accepted,
                                               std::span<const double> probabilities);

/// What a categorical writer with `layout` sends of a vector laid out category by category: the
/// vector with each slot scaled to sum to exactly 1, or the refusal. Sends nothing itself.
[[nodiscard]] Result<Value> accept_categories(const AcceptedLengths& accepted,
                                              const std::optional<CategoricalLayout>& layout,
                                              Value flat);

}  // namespace detail

/// One comparison made on a numeric source: `value < threshold`, or `value > threshold` when
/// `greater` is set, fed on the comparison's channel.
struct ComparisonSender {
  double threshold = 0.0;
  bool greater = false;
  ValueSender sender;
};

/// Sends, per comparison, 1.0 in every slot where the comparison holds and 0.0 elsewhere. A slot
/// that is not a number is refused: it would satisfy neither side of any comparison.
class NumberWriter {
 public:
  /// `accepted`: the lengths the readers of the comparisons' channels take.
  explicit NumberWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted = {});

  /// A number of values `accepted` refuses is an error, and nothing is sent.
  [[nodiscard]] Result<void> write(std::span<const double> values,
                                   std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  std::vector<ComparisonSender> entries_;
  AcceptedLengths accepted_;
};

/// The intervals between the distinct `thresholds` of the comparisons on one density source, in
/// ascending order, fed as one message on `sender`: interval by interval, `slots` entries each.
struct IntervalSender {
  std::vector<double> thresholds;
  std::size_t slots = 1;
  ValueSender sender;
};

/// Sends, per comparison, the probability per slot that the comparison holds under one
/// distribution per slot: the cumulative probability for "<", its survival form for ">". With
/// intervals it also sends the probability per slot of each interval, so that comparisons which
/// read those describe one draw.
class DensityWriter {
 public:
  /// `accepted`: the lengths the readers of the comparisons' channels take.
  explicit DensityWriter(std::vector<ComparisonSender> entries, AcceptedLengths accepted = {},
                         std::optional<IntervalSender> intervals = std::nullopt);

  /// `distribution` names the distribution ("normal", "lognormal", "exponential", "uniform") and
  /// `parameters` holds its parameter lists in order. An unknown name, too few lists, parameters
  /// that define no distribution or a number of slots `accepted` refuses is refused and nothing
  /// is sent.
  [[nodiscard]] Result<void> write(std::string_view distribution,
                                   const std::vector<std::vector<double>>& parameters,
                                   std::optional<double> timestamp = std::nullopt) const;

  const std::vector<ComparisonSender>& entries() const noexcept { return entries_; }

 private:
  /// Interval by interval, the probability per slot that the draw lies in it.
  Value interval_probabilities(const VectorDistribution& density) const;

  std::vector<ComparisonSender> entries_;
  AcceptedLengths accepted_;
  std::optional<IntervalSender> intervals_;
};

}  // namespace talvo
