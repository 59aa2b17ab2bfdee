#pragma once
// The last phase of compilation: the stable models of the first target become its sum of products
// over leaf indices in the circuit. Private to the compiler.

#include "circuit/semiring.hpp"
#include "language/dnf.hpp"

namespace talvo {

template <Semiring S>
class Talvo;

namespace compiler {

/// Removes the first target's atom from `formula`; creates the leaves of the ground causes of
/// clauses whose head has variables, on first sight in formula order, and records them in
/// `parameter_groups`; lays the leaves out as gradient vectors where the semiring asks for it;
/// and adds one product per stable model under the first target's channel name. A literal that
/// names no leaf is left out of its product. With `verbose` it prints the number of models.
template <Semiring S>
void add_target_formula(Talvo<S>& runtime, Dnf formula, bool verbose);

extern template void add_target_formula(Talvo<LogProb>&, Dnf, bool);
extern template void add_target_formula(Talvo<MaxProduct>&, Dnf, bool);
extern template void add_target_formula(Talvo<Fuzzy>&, Dnf, bool);
extern template void add_target_formula(Talvo<Boolean>&, Dnf, bool);
extern template void add_target_formula(Talvo<ProbGradient>&, Dnf, bool);

}  // namespace compiler
}  // namespace talvo
