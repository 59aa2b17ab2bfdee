#include "language/draw_intervals.hpp"

#include <algorithm>
#include <iterator>

#include "language/matching.hpp"
#include "language/text.hpp"

namespace talvo::detail {
namespace {

/// The position of `threshold` among the ascending `thresholds`.
std::size_t position_of(double threshold, const std::vector<double>& thresholds) {
  return static_cast<std::size_t>(
      std::distance(thresholds.begin(), std::ranges::lower_bound(thresholds, threshold)));
}

}  // namespace

bool draws_intervals(Dtype dtype, const std::vector<ComparisonEntry>& comparisons) {
  return dtype == Dtype::Density && comparisons.size() > 1;
}

std::vector<double> interval_thresholds(const std::vector<ComparisonEntry>& comparisons) {
  std::vector<double> thresholds;
  thresholds.reserve(comparisons.size());
  for (const ComparisonEntry& comparison : comparisons) thresholds.push_back(comparison.threshold);
  std::ranges::sort(thresholds);
  thresholds.erase(std::ranges::unique(thresholds).begin(), thresholds.end());
  return thresholds;
}

std::string interval_atom(std::string_view prefix, std::string_view atom,
                          const std::vector<double>& thresholds, std::size_t j) {
  std::string name(prefix);
  if (j > 0) name += "gt_" + threshold_text(thresholds[j - 1]);
  if (j > 0 && j < thresholds.size()) name += '_';
  if (j < thresholds.size()) name += "lt_" + threshold_text(thresholds[j]);
  name += '(';
  name += solver_atom(atom);
  name += ')';
  return name;
}

std::string interval_program(std::string_view prefix, std::string_view atom,
                             const std::vector<ComparisonEntry>& comparisons) {
  const std::vector<double> thresholds = interval_thresholds(comparisons);
  std::vector<std::string> intervals;
  for (std::size_t j = 0; j <= thresholds.size(); ++j) {
    intervals.push_back(interval_atom(prefix, atom, thresholds, j));
  }
  std::string program = "1 { " + text::join(intervals, " ; ") + " } 1.\n";
  for (const ComparisonEntry& comparison : comparisons) {
    // Below the i-th threshold lie intervals 0 to i, above it the intervals after i.
    const std::size_t i = position_of(comparison.threshold, thresholds);
    const std::size_t first = comparison.greater ? i + 1 : 0;
    const std::size_t end = comparison.greater ? intervals.size() : i + 1;
    for (std::size_t j = first; j < end; ++j) {
      program += comparison.name;
      program += " :- ";
      program += intervals[j];
      program += ".\n";
    }
  }
  return program;
}

}  // namespace talvo::detail
