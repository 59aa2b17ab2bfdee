#pragma once
// Writers that put values on a channel: the plain writer and the probability, boolean and
// categorical encodings over it. Each refuses, where it is written, a vector that the reader of its
// channel would drop; a write whose channel has no receiver is lost without an error.

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

/// The wall clock as seconds since the UNIX epoch; aborts with "Acquiring UNIX timestamp failed!"
/// when the clock stands before the epoch.
double current_timestamp();

/// The lengths of the value vectors that the reader of a channel hands on to its leaves.
class AcceptedLengths {
 public:
  /// Any vector that is not empty, since no leaf holds an empty value: for a writer whose reader
  /// is not known.
  AcceptedLengths() = default;

  /// What a leaf of a circuit in `S` with `value_size` holds; refusals name `source`.
  template <Semiring S>
  static AcceptedLengths of_leaf(std::size_t value_size, std::string source) {
    return AcceptedLengths(&S::accepts_leaf, value_size, std::move(source));
  }

  /// Refuses a vector of `length` entries that the reader would drop.
  Result<void> check(std::size_t length) const;

 private:
  using Rule = bool (*)(std::size_t length, std::size_t value_size);
  AcceptedLengths(Rule rule, std::size_t value_size, std::string source)
      : rule_(rule), value_size_(value_size), source_(std::move(source)) {}

  Rule rule_ = nullptr;
  std::size_t value_size_ = 0;
  std::string source_;
};

/// Sends value vectors on one value channel.
class IpcWriter {
 public:
  explicit IpcWriter(ValueSender sender, AcceptedLengths accepted = {})
      : sender(std::move(sender)), accepted(std::move(accepted)) {}

  /// Sends `value` with the given timestamp, used unchanged, or else the current time. A length
  /// `accepted` refuses is an error and nothing is sent; a channel without a receiver is not.
  Result<void> write(Value value, std::optional<double> timestamp = std::nullopt) const;

  ValueSender sender;
  AcceptedLengths accepted;
};

/// Writes probability vectors as given.
class ProbabilityWriter {
 public:
  explicit ProbabilityWriter(ValueSender sender, AcceptedLengths accepted = {})
      : writer_(std::move(sender), std::move(accepted)) {}
  Result<void> write(Value probabilities, std::optional<double> timestamp = std::nullopt) const;

 private:
  IpcWriter writer_;
};

/// Writes a truth value as the one-element vector [1.0] or [0.0].
class BooleanWriter {
 public:
  explicit BooleanWriter(ValueSender sender, AcceptedLengths accepted = {})
      : writer_(std::move(sender), std::move(accepted)) {}
  Result<void> write(bool value, std::optional<double> timestamp = std::nullopt) const;

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
  explicit CategoricalWriter(ValueSender sender) : writer_(std::move(sender)) {}
  /// Exactly the categories of `layout`, each of its `value_size`; refusals name `topic`.
  CategoricalWriter(ValueSender sender, CategoricalLayout layout, std::string topic)
      : writer_(std::move(sender)), layout_(layout), topic_(std::move(topic)) {}

  /// `categories[j]` holds the slots of category j.
  Result<void> write(std::span<const Value> categories,
                     std::optional<double> timestamp = std::nullopt) const;
  /// A vector already laid out category by category.
  Result<void> write(Value flat, std::optional<double> timestamp = std::nullopt) const;

 private:
  std::unexpected<Error> refuse(const std::string& what) const;

  IpcWriter writer_;
  std::optional<CategoricalLayout> layout_;
  std::string topic_;
};

}  // namespace talvo
