#pragma once
// The first phase of compilation: every input of a model gets its leaves in the circuit and a
// channel with a reader thread that feeds them. Private to the compiler.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "circuit/category.hpp"
#include "talvo/channels/manager.hpp"
#include "talvo/circuit/semiring.hpp"
#include "talvo/core/value.hpp"

namespace talvo {

template <Semiring S>
class Talvo;

namespace detail {

/// Creates the cause leaf `name` holding `value` and its complement, in that order, with the
/// values a category of that name gives them, so that both are encoded as the semiring forms a
/// probability and its complement.
template <Semiring S>
void create_cause_leaves(Manager<S>& manager, std::string name, Value value) {
  Category<S> category(std::move(name), std::move(value));
  manager.create_leaf(category.leafs[0].name, category.leafs[0].get_value());
  manager.create_leaf(category.leafs[1].name, category.leafs[1].get_value());
}

/// Leaves, channels and reader threads, in this order: each source's leaf pairs (a probability
/// or boolean source's atom and its complement; one pair per distinct comparison of a number or
/// density source, recorded in `comparisons_by_source`), each categorical source's category
/// leaves, and the cause leaves of probabilistic clauses whose head has no variable (recorded in
/// `parameter_groups`). With `verbose` it prints the number of leaves made.
template <Semiring S>
void create_input_leaves(Talvo<S>& runtime, bool verbose);

#define TALVO_EXTERN_CREATE_INPUT_LEAVES(S) \
  extern template void create_input_leaves(Talvo<S>&, bool);
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_CREATE_INPUT_LEAVES)
#undef TALVO_EXTERN_CREATE_INPUT_LEAVES

}  // namespace detail
}  // namespace talvo
