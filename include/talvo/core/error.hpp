#pragma once
// Recoverable failures are returned as values: `Result<T>` holds either the result or an `Error`.

#include <expected>
#include <string>
#include <utility>

#include "talvo/core/panic.hpp"

namespace talvo {

/// A recoverable failure carrying the message the caller sees.
class Error {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  Error(const Error&) = default;
  Error(Error&&) noexcept = default;
  Error& operator=(const Error&) = default;
  Error& operator=(Error&&) noexcept = default;
  /// Defined in the library: inlined into a program, the release of the message in a discarded
  /// `Result` makes g++ 12 warn, wrongly, of freeing an object not on the heap in optimised builds.
  ~Error();

  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept { return message_.c_str(); }
  friend bool operator==(const Error&, const Error&) = default;

 private:
  std::string message_;
};

template <class T>
using Result = std::expected<T, Error>;

/// Shorthand for a failed result: `return fail("...")`.
inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected<Error>(Error(std::move(message)));
}

}  // namespace talvo
