#pragma once
// The plain writer: it puts value vectors on one channel, refusing where it is written a vector
// that the reader of its channel would drop, and reporting a write that nothing will read. The
// typed writers of sources are built on it.

#include <cstddef>
#include <optional>
#include <string>

#include "talvo/channels/ipc_sender.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

/// The wall clock as seconds since the UNIX epoch; aborts with "Acquiring UNIX timestamp failed!"
/// when the clock stands before the epoch.
double current_timestamp();

/// The lengths of the value vectors that the reader of a channel hands on to its leaves, and what
/// refusals of a write to that channel name.
class AcceptedLengths {
 public:
  /// Any vector that is not empty, since no leaf holds an empty value: for a writer whose reader
  /// is not known.
  AcceptedLengths() = default;

  /// Any vector that is not empty; refusals name `input`, as in "the categorical source on '/c'".
  explicit AcceptedLengths(std::string input) : input_(std::move(input)) {}

  /// What a leaf of a circuit in `S` with `value_size` holds; refusals name `source`.
  template <Semiring S>
  static AcceptedLengths of_leaf(std::size_t value_size, std::string source) {
    return AcceptedLengths(&S::accepts_leaf, value_size, "source '" + source + "'");
  }

  /// The same for the leaves the reader of `channel` feeds; refusals name the channel.
  template <Semiring S>
  static AcceptedLengths of_channel(std::size_t value_size, const std::string& channel) {
    return AcceptedLengths(&S::accepts_leaf, value_size, "the channel '" + channel + "'");
  }

  /// Refuses a vector of `length` entries that the reader would drop.
  [[nodiscard]] Result<void> check(std::size_t length) const;

  /// A write refused because of `why`, naming the input when it is known.
  std::unexpected<Error> refuse(const std::string& why) const;

  /// A write refused because nothing reads the channel any more: its model is gone.
  std::unexpected<Error> refuse_unread() const;

 private:
  using Rule = bool (*)(std::size_t length, std::size_t value_size);
  AcceptedLengths(Rule rule, std::size_t value_size, std::string input)
      : rule_(rule), value_size_(value_size), input_(std::move(input)) {}

  Rule rule_ = nullptr;
  std::size_t value_size_ = 0;
  std::string input_;
};

/// Sends value vectors on one value channel.
class IpcWriter {
 public:
  explicit IpcWriter(ValueSender sender, AcceptedLengths accepted = {});

  /// Sends `value` with the given timestamp, used unchanged, or else the current time. A length
  /// `accepted` refuses is an error and nothing is sent; so is a channel without a receiver.
  [[nodiscard]] Result<void> write(Value value,
                                   std::optional<double> timestamp = std::nullopt) const;

  ValueSender sender;
  AcceptedLengths accepted;
};

}  // namespace talvo
