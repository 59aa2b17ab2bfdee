#pragma once
// Cycles through "not" among a model's rules. Where an atom depends on itself through "not"
// (`a if not b. b if not a.`, `a if not a.`), a world of the inputs may have several stable models
// or none; a semiring that adds up the stable models of the target would count that world more
// than once or lose it. The test goes by predicate and arity, as the rules are written, over every
// rule of the model: a rule that the target does not read still enters the program, and a world
// without a stable model there has none at all. A model without such a cycle is stratified: each
// world has exactly one stable model. Private to the compiler.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "language/matching.hpp"

namespace talvo::detail {

/// A cycle through "not": the first model line of its rules, and what to say of it there.
struct CycleThroughNot {
  std::size_t line;
  std::string message;
};

/// One entry per cycle through "not", naming the lines of the rules that form it and what each of
/// them reads; none when the model is stratified. `semiring` names the semiring the model is
/// compiled in.
std::vector<CycleThroughNot> cycles_through_not(const Statements& parsed,
                                                std::string_view semiring);

}  // namespace talvo::detail
