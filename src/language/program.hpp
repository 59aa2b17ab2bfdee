#pragma once
// The answer-set program of a model: every input a free choice, the categories of a categorical
// source exactly one, the clauses as rules, and the first target required.

#include <string>
#include <vector>

#include "language/concepts.hpp"

namespace talvo {

/// The program text for clingo: choices of the used sources and of the comparison atoms,
/// categorical choices, comparison-predicate rules, clause rules with their causes, and the target
/// constraint.
std::string generate_program(const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const Target& first_target,
                             const ComparisonsBySource& comparisons_by_source);

}  // namespace talvo
