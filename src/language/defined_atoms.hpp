#pragma once
// Which atoms of a model something can make true. A body literal or a target whose atom nothing
// defines is a typo in practice (`wet if rian.` holds with probability 0 forever), so compile
// refuses it. Private to the compiler.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "language/matching.hpp"

namespace talvo::detail {

/// Why nothing makes an atom true.
enum class Undefined {
  Atom,              ///< no source, category or clause head has its predicate and arity
  NumericSource,     ///< it is a `Number` or `Density` source, read only through comparisons
  UnreadComparison,  ///< a comparison on an atom that no `Number` or `Density` source grounds
};

/// An atom that a statement uses and nothing defines.
struct UndefinedUse {
  std::size_t line;  ///< the model line of the statement, from 1
  std::string atom;  ///< as written (for a comparison, the compared atom)
  Undefined why;
};

/// The predicate and arity of an atom as the solver tells atoms apart: `t(a, b)` is "t/2", and
/// `p()` is "p/0".
std::string atom_signature(std::string_view atom);

/// Every body literal, comparison and target atom of `parsed` that nothing can make true, in
/// statement order. The test is by predicate and arity, as the solver's own, so that a literal
/// whose arguments differ from those of every head (`p(2)` against `p(1+1)`) is never refused.
std::vector<UndefinedUse> undefined_uses(const Statements& parsed);

}  // namespace talvo::detail
