#pragma once
// Solving an answer-set program with clingo: every stable model becomes one conjunction of the
// formula in disjunctive normal form.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "language/dnf.hpp"
#include "talvo/core/error.hpp"

namespace talvo::detail::asp {

/// Enumerates the stable models of `program` and returns one conjunction per model, in the order
/// the solver yields them: the model's true atoms (facts included), then the negations of its false
/// atoms, each part in the solver's order. A program without stable models gives an empty formula.
/// Each distinct atom is rendered as text once, however many models hold it.
///
/// Names the place behind a line of the program (numbered from 1) in the solver's messages.
using LineLocator = std::function<std::string(std::size_t program_line)>;

/// More than `max_models` models is an error value (absent: no limit); at most `max_models` + 1
/// conjunctions are held at any time. A program that the solver rejects (it does not parse or
/// ground) is an error value carrying the solver's messages, each place in the program named by
/// `locate` when given. Any other failure of the solver throws `Panic`. Nothing of the solver
/// outlives the call.
[[nodiscard]] Result<Dnf> solve(const std::string& program, std::optional<std::size_t> max_models,
                                const LineLocator& locate = {});

/// A line of the solver's messages about a program it rejects.
struct SolverLine {
  std::size_t program_line = 0;  ///< of the place it names, or of the line before; 0 for none
  std::string place;             ///< the solver's name of that place, empty when it names none
  std::string text;              ///< what follows the place
};

/// The solver's messages about a program it rejects, in the order of the program's lines.
struct Rejections {
  std::vector<SolverLine> lines;  ///< those of the first messages
  std::size_t unlisted = 0;       ///< the messages left out
};

/// Whether the solver parses and grounds `program`, without solving it: nothing when it does, its
/// messages when it does not. Any other failure of the solver throws `Panic`.
Rejections rejections(const std::string& program);

}  // namespace talvo::detail::asp
