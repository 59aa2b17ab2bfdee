#pragma once
// Binning and partitioning of change frequencies: values are sorted into bins by upper
// boundaries, and the occupied bins are numbered from the highest one down.

#include <cstddef>
#include <span>
#include <vector>

namespace talvo::detail::clustering {

/// For each value, the position of the first boundary at or above it, in the boundary list
/// extended by the largest finite double; with n boundaries the bins are 0 to n. A value that
/// finds no bin (not a number, or positive infinity) gets no entry, so the result may be shorter
/// than `values`. Boundaries are scanned in list order, ascending or not.
std::vector<std::size_t> binning(std::span<const double> values,
                                 std::span<const double> boundaries);

/// For each entry of `binning(values, boundaries)`: 0 for the highest occupied bin, 1 for the next
/// lower occupied one, and so on, without gaps for empty bins. No values give an empty partition.
std::vector<std::size_t> partitioning(std::span<const double> values,
                                      std::span<const double> boundaries);

}  // namespace talvo::detail::clustering
