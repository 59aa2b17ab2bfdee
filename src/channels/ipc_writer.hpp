#pragma once
// Writers that put values on a channel: the plain writer and the probability, boolean and
// categorical encodings over it. A write whose channel has no receiver is lost without an error.

#include <optional>
#include <span>

#include "channels/ipc_channel.hpp"
#include "core/value.hpp"

namespace talvo {

/// The wall clock as seconds since the UNIX epoch; aborts with "Acquiring UNIX timestamp failed!"
/// when the clock stands before the epoch.
double current_timestamp();

/// Sends value vectors on one value channel.
class IpcWriter {
 public:
  explicit IpcWriter(ValueSender sender) : sender(std::move(sender)) {}

  /// Sends `value` with the given timestamp, used unchanged, or else the current time.
  void write(Value value, std::optional<double> timestamp = std::nullopt) const;

  ValueSender sender;
};

/// Writes probability vectors as given.
class ProbabilityWriter {
 public:
  explicit ProbabilityWriter(ValueSender sender) : writer_(std::move(sender)) {}
  void write(Value probabilities, std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

/// Writes a truth value as the one-element vector [1.0] or [0.0].
class BooleanWriter {
 public:
  explicit BooleanWriter(ValueSender sender) : writer_(std::move(sender)) {}
  void write(bool value, std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

/// Writes the probabilities of all categories as one flat vector, category by category; the
/// categorical reader cuts it back into one stretch of `value_size` slots per category.
class CategoricalWriter {
 public:
  explicit CategoricalWriter(ValueSender sender) : writer_(std::move(sender)) {}
  /// `categories[j]` holds the slots of category j.
  void write(std::span<const Value> categories,
             std::optional<double> timestamp = std::nullopt) const;
  /// A vector already laid out category by category.
  void write(Value flat, std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

}  // namespace talvo
