#include "tracking/clustering.hpp"

#include <algorithm>
#include <limits>
#include <set>
#include <unordered_map>

namespace talvo::detail::clustering {

std::vector<std::size_t> binning(std::span<const double> values,
                                 std::span<const double> boundaries) {
  std::vector<double> extended(boundaries.begin(), boundaries.end());
  extended.push_back(std::numeric_limits<double>::max());

  std::vector<std::size_t> bins;
  bins.reserve(values.size());
  for (const double value : values) {
    const auto found =
        std::ranges::find_if(extended, [value](double boundary) { return boundary >= value; });
    if (found != extended.end()) bins.push_back(found - extended.begin());
  }
  return bins;
}

std::vector<std::size_t> partitioning(std::span<const double> values,
                                      std::span<const double> boundaries) {
  const std::vector<std::size_t> bins = binning(values, boundaries);
  if (bins.empty()) return {};

  const std::set<std::size_t> occupied(bins.begin(), bins.end());
  std::unordered_map<std::size_t, std::size_t> rank;
  for (const std::size_t bin : occupied) rank.emplace(bin, rank.size());
  const std::size_t top = occupied.size() - 1;

  std::vector<std::size_t> partition;
  partition.reserve(bins.size());
  for (const std::size_t bin : bins) partition.push_back(top - rank.at(bin));
  return partition;
}

}  // namespace talvo::detail::clustering
