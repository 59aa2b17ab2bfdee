#include "language/talvo_formula.hpp"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/panic.hpp"
#include "language/compile_rules.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "language/talvo.hpp"
#include "language/talvo_setup.hpp"

namespace talvo::compiler {
namespace {

/// What the cause of a clause with a variable head stands for: its probability and the parameter
/// group its ground causes join.
struct VariableCause {
  double probability;
  std::string group;
};

/// Cause base name -> cause, for the probabilistic clauses whose head has a variable; a later
/// clause with the same base name replaces an earlier one.
std::unordered_map<std::string, VariableCause> variable_causes(const std::vector<Clause>& clauses) {
  std::unordered_map<std::string, VariableCause> causes;
  const std::vector<std::size_t> numbers = cause_numbers(clauses);
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    const Clause& clause = clauses[i];
    if (!clause.probability || !has_variable_arg(clause.head)) continue;
    causes.insert_or_assign(cause_atom_base_name(clause.head, numbers[i]),
                            VariableCause{*clause.probability, group_key(clause.head, numbers[i])});
  }
  return causes;
}

/// The cause whose ground instance `atom` is: the one whose base name is `atom` itself or `atom`'s
/// text before "(" when `atom` has arguments.
const VariableCause* cause_of(const std::unordered_map<std::string, VariableCause>& causes,
                              std::string_view atom) {
  const auto found = causes.find(std::string(atom_base(atom)));
  return found == causes.end() ? nullptr : &found->second;
}

/// One pair of leaves per ground cause of a variable head, in the order the ground causes first
/// appear in the formula, whichever their polarity there.
template <Semiring S>
void create_variable_cause_leaves(Talvo<S>& runtime, const Dnf& formula,
                                  const std::unordered_map<std::string, VariableCause>& causes) {
  if (causes.empty()) return;
  std::unordered_set<std::string> seen;
  for (const Conjunction& conjunction : formula.conjunctions) {
    for (const Literal& literal : conjunction) {
      const std::size_t sign_end = literal.find_first_not_of('-');
      if (sign_end == std::string::npos) continue;
      const std::string_view atom = std::string_view(literal).substr(sign_end);
      const VariableCause* cause = cause_of(causes, atom);
      if (cause == nullptr || !seen.emplace(atom).second) continue;
      create_cause_leaves(runtime.manager, std::string(atom),
                          Value(runtime.value_size, cause->probability));
      runtime.parameter_groups[cause->group].emplace_back(atom);
    }
  }
}

/// Gives every leaf the gradient layout: its probability in slot 0 and its own seed at slot
/// index + 1 of a vector of one slot per leaf plus one. The circuit and the record then batch
/// that many slots. Estimators, frequencies and dependents stay as they are.
template <Semiring S>
void lay_out_gradients(Talvo<S>& runtime) {
  std::size_t leaves = 0;
  {
    const auto circuit = runtime.manager.reactive_circuit->lock();
    leaves = circuit->leafs.size();
  }
  runtime.value_size = leaves + 1;
  const auto circuit = runtime.manager.reactive_circuit->lock();
  circuit->value_size = leaves + 1;
  for (std::size_t index = 0; index < circuit->leafs.size(); ++index) {
    Leaf<S>& leaf = circuit->leafs[index];
    Value probability(leaves + 1, 0.0);
    probability.mutable_span()[0] = leaf.value[0];
    leaf.value = S::encode_leaf_vec(probability.span(), index);
  }
}

/// One product per conjunction, in formula order: the leaves of its literals, looked up exactly as
/// written; a literal without a leaf (a derived atom, a false category) is left out, so a product
/// may be empty. A false ground cause of a head with variables counts only where its choice was
/// open: where its domain failed it was never chosen, and the model stands for both outcomes.
std::vector<std::vector<std::uint32_t>> products_of(
    const Dnf& formula, const std::unordered_map<std::string, std::uint32_t>& index,
    const std::unordered_map<std::string, VariableCause>& causes) {
  std::vector<std::vector<std::uint32_t>> sum;
  sum.reserve(formula.conjunctions.size());
  // Each product is gathered here first, so that it is allocated once, at its final size.
  std::vector<std::uint32_t> leaves;
  std::unordered_set<std::string_view> open;
  for (const Conjunction& conjunction : formula.conjunctions) {
    leaves.clear();
    open.clear();
    if (!causes.empty()) {
      for (const Literal& literal : conjunction) {
        if (literal.starts_with(kOpenCausePrefix)) {
          open.insert(std::string_view(literal).substr(kOpenCausePrefix.size()));
        }
      }
    }
    for (const Literal& literal : conjunction) {
      if (!causes.empty() && literal.starts_with('-')) {
        const std::string_view atom = std::string_view(literal).substr(1);
        if (cause_of(causes, atom) != nullptr && !open.contains(atom)) continue;
      }
      if (const auto leaf = index.find(literal); leaf != index.end())
        leaves.push_back(leaf->second);
    }
    sum.emplace_back(leaves.begin(), leaves.end());
  }
  return sum;
}

/// Whether a leaf carries the name of the atom `atom`.
template <Semiring S>
bool names_a_leaf(Talvo<S>& runtime, std::string_view atom) {
  const std::vector<std::string> names = runtime.manager.get_names();
  return std::ranges::find(names, atom) != names.end();
}

}  // namespace

template <Semiring S>
void add_target_formula(Talvo<S>& runtime, Dnf formula, bool verbose) {
  const Target& target = runtime.targets.front();
  // The target holds in every model, so its literal is dropped; but a target that is itself an
  // input (a source, a category) keeps its leaf in every product.
  const std::string target_atom = solver_atom(target.atom);
  if (!names_a_leaf(runtime, target_atom)) formula.remove(target_atom);
  if (verbose) {
    std::cout << "Compiled Talvo for target atom " << target.atom << " into formula over "
              << formula.conjunctions.size() << " models\n"
              << std::flush;
  }
  const auto causes = variable_causes(runtime.clauses);
  create_variable_cause_leaves(runtime, formula, causes);
  // A new node takes the circuit's value_size, so the layout comes before the target's node.
  if constexpr (CompileRules<S>::lays_out_gradients) lay_out_gradients(runtime);

  const auto sum = products_of(formula, runtime.manager.index_map(), causes);
  const auto circuit = runtime.manager.reactive_circuit->lock();
  if (auto added = circuit->add_sum_product(sum, target.topic); !added) {
    throw Panic(added.error().message());
  }
}

#define TALVO_INSTANTIATE_ADD_TARGET_FORMULA(S) \
  template void add_target_formula(Talvo<S>&, Dnf, bool);
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_ADD_TARGET_FORMULA)
#undef TALVO_INSTANTIATE_ADD_TARGET_FORMULA

}  // namespace talvo::compiler
