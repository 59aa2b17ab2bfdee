#pragma once
// The last phase of compilation: the stable models of the first target become its sum of products
// over leaf indices in the circuit. Private to the compiler.

#include "talvo/circuit/semiring.hpp"
#include "language/dnf.hpp"

namespace talvo {

template <Semiring S>
class Talvo;

namespace detail {

/// Removes the first target's atom from `formula`; creates the leaves of the ground causes of
/// clauses whose head has variables, on first sight in formula order, and records them in
/// `parameter_groups`; lays the leaves out as gradient vectors where the semiring asks for it;
/// and adds one product per stable model under the first target's channel name. A literal that
/// names no leaf is left out of its product. With `verbose` it prints the number of models.
template <Semiring S>
void add_target_formula(Talvo<S>& runtime, Dnf formula, bool verbose);

#define TALVO_EXTERN_ADD_TARGET_FORMULA(S) \
  extern template void add_target_formula(Talvo<S>&, Dnf, bool);
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_ADD_TARGET_FORMULA)
#undef TALVO_EXTERN_ADD_TARGET_FORMULA

}  // namespace detail
}  // namespace talvo
