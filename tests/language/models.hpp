#pragma once
// The two models the language tests share: a ground garden and a room with a variable head.

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

}  // namespace talvo::testing
