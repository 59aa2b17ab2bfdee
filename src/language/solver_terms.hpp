#pragma once
// Arguments as the solver evaluates them. The solver reads an argument written as a sum or
// difference of whole numbers as the number it comes to (`1+1` is `2`, in 32 bits that wrap
// around as the solver's do), and signs before a constant as one sign or none (`--a` is `a`), so
// that `p(1+1)` and `p(2)` are one atom. Part of the statement front end: no <expected>.

#include <optional>
#include <string>
#include <string_view>

namespace talvo::detail {

/// The argument `term` as the solver writes it once evaluated: a sum or difference of whole
/// numbers (each optionally preceded by minus signs), or minus signs before one constant. Nothing
/// for any other term, such as one with a variable, arithmetic on a constant, or a mistake the
/// solver reports itself.
std::optional<std::string> evaluated_term(std::string_view term);

/// Whether the solver reads `word` as a constant or a predicate's name: underscores, a lower-case
/// ASCII letter, then ASCII letters, digits, underscores and primes.
bool is_constant(std::string_view word);

}  // namespace talvo::detail
