#pragma once
// The answer-set program of a model: every input a free choice, the categories of a categorical
// source exactly one, the clauses as rules, and the first target required.

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "language/matching.hpp"
#include "talvo/language/concepts.hpp"

namespace talvo::detail {

/// The statement that wrote a line of the program: its form and its place in that form's list.
struct LineOrigin {
  StatementForm form;
  std::size_t index;
};

/// The inputs (probability and boolean source atoms, categories; as the solver writes them) whose
/// atom some clause may derive: the clause's head is that atom, or an atom of its predicate with
/// a variable argument. The categories of a categorical source are all in it or none.
std::unordered_set<std::string> derived_inputs(
    const std::vector<Clause>& clauses, const std::vector<Source>& sources,
    const std::vector<CategoricalSource>& categorical_sources);

/// The program text for clingo: choices of the used sources and of the comparison atoms,
/// categorical choices, comparison-predicate rules, clause rules with their causes, and the target
/// constraint. With `origins`, it receives the statement behind each line of the text, in order.
std::string generate_program(const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const Target& first_target,
                             const ComparisonsBySource& comparisons_by_source,
                             std::vector<LineOrigin>* origins = nullptr);

}  // namespace talvo::detail
