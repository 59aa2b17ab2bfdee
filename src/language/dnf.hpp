#pragma once
// The formula in disjunctive normal form that solving gives: one conjunction of literals per stable
// model, in the order the solver found them.

#include <string>
#include <string_view>
#include <vector>

namespace talvo {

/// A literal is an atom as the solver renders it (`wet`, `warm_cause_0(k1)`), with a leading "-"
/// when the atom is false in the model.
using Literal = std::string;

/// The literals of one stable model: its true atoms, then the negations of its false atoms.
using Conjunction = std::vector<Literal>;

/// A disjunction of conjunctions, one per stable model.
struct Dnf {
  std::vector<Conjunction> conjunctions;

  /// Removes `atom` in both polarities from every conjunction, keeping the order of the other
  /// literals. Only one leading "-" is taken as negation, so "--atom" stays. A conjunction that
  /// becomes empty stays in the formula: there is still one conjunction per model.
  void remove(std::string_view atom);

  friend bool operator==(const Dnf&, const Dnf&) = default;
};

}  // namespace talvo
