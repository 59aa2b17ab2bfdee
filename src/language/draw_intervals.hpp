#pragma once
// A density source gives, per batch slot, the distribution of one number; every comparison made
// on it is an event on that same draw. With several comparisons the draw's inputs are therefore
// the intervals between their sorted thresholds: exactly one of them holds the draw, and each
// comparison holds in the intervals on its side. A draw equal to a threshold has probability 0,
// so the open intervals cover every outcome. Private to the compiler.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/language/concepts.hpp"

namespace talvo::detail {

/// Whether the comparisons on a source of data type `dtype` are compiled as the intervals of one
/// draw: those of a density source that has more than one. A single comparison stays an input of
/// its own, and so do the comparisons of a number source, whose values are 0 or 1 and agree.
bool draws_intervals(Dtype dtype, const std::vector<ComparisonEntry>& comparisons);

/// The distinct thresholds of `comparisons` in ascending order: m of them bound m + 1 intervals.
std::vector<double> interval_thresholds(const std::vector<ComparisonEntry>& comparisons);

/// The atom of interval `j` of the draw of `atom`, between `thresholds[j - 1]` and
/// `thresholds[j]` (unbounded at the ends): its bounds after the interval prefix `prefix`, with
/// the source's atom as argument. For `talvo_draw_`, `hum` and {60, 70}: `talvo_draw_lt_60(hum)`,
/// `talvo_draw_gt_60_lt_70(hum)` and `talvo_draw_gt_70(hum)`. The prefix begins no other name,
/// the bounds tell the interval and the argument the source, so no two such atoms meet.
std::string interval_atom(std::string_view prefix, std::string_view atom,
                          const std::vector<double>& thresholds, std::size_t j);

/// The program lines of the draw of `atom`: a choice of exactly one interval, then for each
/// comparison in order one rule per interval on its side that makes the comparison atom true.
std::string interval_program(std::string_view prefix, std::string_view atom,
                             const std::vector<ComparisonEntry>& comparisons);

}  // namespace talvo::detail
