#pragma once
// The answer-set program of a model: every input a free choice, the categories of a categorical
// source exactly one, the clauses as rules, and the first target required.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "language/concepts.hpp"
#include "language/matching.hpp"

namespace talvo {

/// Prefix of the atoms that tell where the cause of a head with variables was open to choice.
inline constexpr std::string_view kOpenCausePrefix = "talvo_open_";

/// The atom that holds in a model exactly when the choice of the ground cause `cause` (for
/// example `warm_cause_0(k1)`) was open there, i.e. its domain held: `talvo_open_warm_cause_0(k1)`.
std::string open_cause_atom(std::string_view cause);

/// The statement that wrote a line of the program: its form and its place in that form's list.
struct LineOrigin {
  StatementForm form;
  std::size_t index;
};

/// The program text for clingo: choices of the used sources and of the comparison atoms,
/// categorical choices, comparison-predicate rules, clause rules with their causes, and the target
/// constraint. With `origins`, it receives the statement behind each line of the text, in order.
std::string generate_program(const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const Target& first_target,
                             const ComparisonsBySource& comparisons_by_source,
                             std::vector<LineOrigin>* origins = nullptr);

}  // namespace talvo
