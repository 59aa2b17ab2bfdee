#pragma once
// Solving an answer-set program with clingo: every stable model becomes one conjunction of the
// formula in disjunctive normal form.

#include <cstddef>
#include <optional>
#include <string>

#include "core/error.hpp"
#include "language/dnf.hpp"

namespace talvo::asp {

/// Enumerates the stable models of `program` and returns one conjunction per model, in the order
/// the solver yields them: the model's true atoms (facts included), then the negations of its false
/// atoms, each part in the solver's order. A program without stable models gives an empty formula.
/// Each distinct atom is rendered as text once, however many models hold it.
///
/// More than `max_models` models is an error value (absent: no limit); at most `max_models` + 1
/// conjunctions are held at any time. A failure of the solver itself, including a program that
/// does not parse or ground, throws `Panic`. Nothing of the solver outlives the call.
Result<Dnf> solve(const std::string& program, std::optional<std::size_t> max_models);

}  // namespace talvo::asp
