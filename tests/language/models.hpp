#pragma once
// The models the language tests and benchmarks share: a ground garden, a room with a variable
// head, and rooms whose heating is on by a source each.

#include <cstddef>
#include <string>
#include <string_view>

namespace talvo::testing {

/// Rain, a sprinkler, a temperature and the sky feed whether the garden is wet.
inline constexpr std::string_view kGardenModel = R"(
# weather inputs
rain <- source("/weather/rain", Probability).
temp <- source("/weather/temp", Number).
sprinkler <- source("/garden/sprinkler", Boolean).
{sunny, cloudy} <- source("/sky", Categorical).
wet <- P(0.9) if rain.
wet if sprinkler and not sunny.
hot if temp > 25.
wet -> target("/garden/wet").
)";

/// A cause with a variable head and a comparison with a variable, grounded for one room.
inline constexpr std::string_view kRoomModel = R"(
temp(k1) <- source("/room/k1/temp", Number).
room(k1).
warm(X) <- P(0.8) if room(X) and temp(X) > 20.
warm(k1) -> target("/room/k1/warm").
)";

/// `rooms` rooms k1, k2, ..., each on by a probability source of its own; a room that is on may
/// be warm, and any warm room sets off the alarm. A room that is off closes the choice of its
/// cause, so every model where some rooms are off stands for both outcomes of their causes.
inline std::string rooms_model(std::size_t rooms) {
  std::string text;
  for (std::size_t i = 1; i <= rooms; ++i) {
    const std::string k = std::to_string(i);
    text += "x" + k + " <- source(\"/rooms/" + k + "\", Probability).\n";
    text += "on(k" + k + ") if x" + k + ".\n";
    text += "room(k" + k + ").\n";
  }
  text += "warm(X) <- P(0.8) if room(X) and on(X).\n";
  text += "alarm if warm(X).\n";
  text += "alarm -> target(\"/alarm\").\n";
  return text;
}

}  // namespace talvo::testing
