#include "talvo/core/clock.hpp"

#include <chrono>
#include <cstdint>

namespace talvo {

std::optional<double> unix_timestamp() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
  if (ns < 0) return std::nullopt;
  const auto seconds = static_cast<std::uint64_t>(ns / 1'000'000'000);
  const auto nanos = static_cast<std::uint32_t>(ns % 1'000'000'000);
  return static_cast<double>(seconds) + static_cast<double>(nanos) / 1000000000.0;
}

}  // namespace talvo
