#pragma once
// Timestamps: seconds since the UNIX epoch as a double.

#include <optional>

namespace talvo {

/// The wall clock as seconds plus nanoseconds / 1e9 since the epoch; nothing when the clock stands
/// before the epoch.
std::optional<double> unix_timestamp();

}  // namespace talvo
