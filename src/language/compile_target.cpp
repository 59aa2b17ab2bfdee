#include "language/compile_target.hpp"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "circuit/circuit_access.hpp"
#include "language/compile_inputs.hpp"
#include "language/compile_rules.hpp"
#include "language/generated_names.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "language/runtime_access.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/core/panic.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo::detail {
namespace {

constexpr std::size_t kProductsPerBatch = 4096;

/// What the cause of a clause with a variable head stands for: its probability and the parameter
/// group its ground causes join.
struct VariableCause {
  double probability;
  std::string group;
};

/// Cause base name -> cause, for the probabilistic clauses whose head has a variable; a later
/// clause with the same base name replaces an earlier one.
std::unordered_map<std::string, VariableCause> variable_causes(const std::vector<Clause>& clauses,
                                                               const GeneratedNames& names) {
  std::unordered_map<std::string, VariableCause> causes;
  const std::vector<std::size_t>& numbers = names.cause_numbers();
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    const Clause& clause = clauses[i];
    if (!clause.probability || !has_variable_arg(clause.head)) continue;
    causes.insert_or_assign(cause_atom_base_name(clause.head, numbers[i]),
                            VariableCause{*clause.probability, names.group_keys()[i]});
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
  // Only the first occurrence of a literal can bring a ground cause not seen before.
  std::vector<bool> met(formula.code_count());
  std::unordered_set<std::string> seen;
  for (std::size_t i = 0; i < formula.size(); ++i) {
    for (const LiteralCode literal : formula.conjunction(i)) {
      if (met[literal]) continue;
      met[literal] = true;
      const Literal text = formula.text(literal);
      const std::size_t sign_end = text.find_first_not_of('-');
      if (sign_end == std::string::npos) continue;
      const std::string_view atom = std::string_view(text).substr(sign_end);
      const VariableCause* cause = cause_of(causes, atom);
      if (cause == nullptr || !seen.emplace(atom).second) continue;
      create_cause_leaves(runtime.manager(), std::string(atom),
                          Value(runtime.value_size(), cause->probability));
      RuntimeAccess::parameter_groups(runtime)[cause->group].emplace_back(atom);
    }
  }
}

/// Gives every leaf the gradient layout, one slot per leaf plus one; the circuit and the record
/// then batch that many slots.
template <Semiring S>
void lay_out_gradients(Talvo<S>& runtime) {
  const auto circuit = runtime.manager().reactive_circuit->lock();
  RuntimeAccess::set_value_size(runtime, CircuitAccess::lay_out_gradients(*circuit));
}

/// A ground cause whose choice was closed in a model: the place of the model's product in its
/// batch, and the cause's leaf and complement leaf.
struct ClosedCause {
  std::size_t product;
  std::uint32_t leaf;
  std::uint32_t complement;
};

/// Adds products to the target's node weighing every closed cause as the choice it stands for in
/// every world: one child per ground cause sums its leaf and its complement, and every product
/// that closes the cause reads that child. Each minterm is made whole, its children's columns
/// with its leaves, so that minterms lie in memory as compactly as those of a node without
/// children. Restructuring knows that a child read by several products is shared.
template <Semiring S>
class ClosedCauseWeights {
 public:
  /// Adds one minterm per product of `batch` to the node of `token` (made if it has none), with
  /// the columns of the causes that `closed` (in product order) reports closed in it.
  void add(ReactiveCircuit<S>& circuit, const std::string& token,
           const std::vector<std::vector<std::uint32_t>>& batch,
           const std::vector<ClosedCause>& closed) {
    if (!circuit.targets().contains(token)) {
      if (auto made = circuit.add_sum_product({}, token); !made) {
        throw Panic(made.error().message());
      }
    }
    const NodeIndex target = circuit.targets().at(token);
    auto cause = closed.begin();
    for (std::size_t product = 0; product < batch.size(); ++product) {
      children_.clear();
      for (; cause != closed.end() && cause->product == product; ++cause) {
        children_.push_back(column_of(circuit, target, *cause));
      }
      CircuitAccess::add_minterm(circuit, target, batch[product], children_);
    }
  }

 private:
  /// The target's column for the child of `cause`, made at the cause's first closing.
  std::size_t column_of(ReactiveCircuit<S>& circuit, NodeIndex target, const ClosedCause& cause) {
    if (const auto known = columns_.find(cause.leaf); known != columns_.end()) return known->second;
    AlgebraicCircuit either(circuit.value_size());
    either.add_sum_product({{cause.leaf}, {cause.complement}});
    const std::size_t column = CircuitAccess::add_child(circuit, target, std::move(either));
    columns_.emplace(cause.leaf, column);
    return column;
  }

  std::unordered_map<std::uint32_t, std::size_t> columns_;  // cause leaf -> the target's column
  std::vector<std::size_t> children_;                       // of one minterm
};

/// Turns conjunctions into products of leaf indices. A literal's leaf is the one its text names
/// exactly; a literal without a leaf (a derived atom, a false category) is left out, so a product
/// may be empty. A false ground cause of a head with variables counts only where its choice was
/// open: where its domain failed it was never chosen, and the model stands for both outcomes, so
/// it is left out of the product and reported as closed. An input that a clause may derive is
/// chosen by a hidden atom: that atom's literals stand for the input's leaves, and the input's own
/// atom is a derived one. What each literal of the formula stands for is worked out once, from its
/// text.
class ProductMaker {
 public:
  ProductMaker(const Dnf& formula, const std::unordered_map<std::string, std::uint32_t>& index,
               const std::unordered_map<std::string, VariableCause>& causes,
               const std::unordered_set<std::string>& derived, const GeneratedNames& names)
      : formula_(formula), roles_(formula.code_count()) {
    const std::string& open_prefix = names.open_cause_prefix();
    // Ground causes that a model can mark open, numbered in order of first mention.
    std::unordered_map<std::string, std::uint32_t> numbers;
    const auto number = [&](std::string_view cause) {
      const auto next = static_cast<std::uint32_t>(numbers.size());
      return numbers.try_emplace(std::string(cause), next).first->second;
    };
    for (LiteralCode literal = 0; literal < roles_.size(); ++literal) {
      const Literal text = formula.text(literal);
      Role& role = roles_[literal];
      if (const auto leaf = index.find(leaf_name(text, derived, names.input_choice_prefix()));
          leaf != index.end()) {
        role.leaf = leaf->second;
      }
      if (causes.empty()) continue;
      if (text.starts_with(open_prefix)) {
        role.opens = number(std::string_view(text).substr(open_prefix.size()));
      } else if (text.starts_with('-') &&
                 cause_of(causes, std::string_view(text).substr(1)) != nullptr) {
        role.counts_if_open = number(std::string_view(text).substr(1));
        if (const auto cause = index.find(text.substr(1)); cause != index.end()) {
          role.cause_leaf = cause->second;
        }
      }
    }
    opened_in_.assign(numbers.size(), kNever);
  }

  /// The name of the leaf that the literal `text` stands for, or "" for a derived input's own atom.
  static std::string leaf_name(const Literal& text, const std::unordered_set<std::string>& derived,
                               std::string_view input_prefix) {
    const std::size_t sign = text.starts_with('-') ? 1 : 0;
    const std::string_view atom = std::string_view(text).substr(sign);
    if (atom.starts_with(input_prefix)) {
      return text.substr(0, sign) + std::string(atom.substr(input_prefix.size()));
    }
    if (derived.contains(std::string(atom))) return {};
    return text;
  }

  /// Appends the product of the formula's `index`-th conjunction to `sum`, and the ground causes
  /// closed in it to `closed`, as its place in `sum` and their pair of leaves.
  void append(std::size_t index, std::vector<std::vector<std::uint32_t>>& sum,
              std::vector<ClosedCause>& closed) {
    const std::span<const LiteralCode> conjunction = formula_.conjunction(index);
    if (!opened_in_.empty()) {
      for (const LiteralCode literal : conjunction) {
        if (const std::uint32_t cause = roles_[literal].opens; cause != kNone) {
          opened_in_[cause] = index;
        }
      }
    }
    // The product is gathered here first, so that it is allocated once, at its final size.
    leaves_.clear();
    for (const LiteralCode literal : conjunction) {
      const Role& role = roles_[literal];
      if (role.counts_if_open != kNone && opened_in_[role.counts_if_open] != index) {
        if (role.cause_leaf != kNone && role.leaf != kNone) {
          closed.push_back({sum.size(), role.cause_leaf, role.leaf});
        }
        continue;
      }
      if (role.leaf != kNone) leaves_.push_back(role.leaf);
    }
    sum.emplace_back(leaves_.begin(), leaves_.end());
  }

 private:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  static constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

  struct Role {
    std::uint32_t leaf = kNone;            ///< the leaf that the literal's text names
    std::uint32_t opens = kNone;           ///< the ground cause whose choice a true open atom marks
    std::uint32_t counts_if_open = kNone;  ///< the false ground cause that counts only if open
    std::uint32_t cause_leaf = kNone;      ///< that ground cause's own leaf
  };

  const Dnf& formula_;
  std::vector<Role> roles_;             // per literal code
  std::vector<std::size_t> opened_in_;  // per ground cause, the last conjunction that opened it
  std::vector<std::uint32_t> leaves_;
};

/// Whether a leaf carries the name of the atom `atom`.
template <Semiring S>
bool names_a_leaf(Talvo<S>& runtime, std::string_view atom) {
  const std::vector<std::string> names = runtime.manager().get_names();
  return std::ranges::find(names, atom) != names.end();
}

}  // namespace

template <Semiring S>
void add_target_formula(Talvo<S>& runtime, Dnf formula, bool verbose) {
  const Target& target = runtime.targets().front();
  // The target holds in every model, so its literal is dropped; but a target that is itself an
  // input (a source, a category) keeps its leaf in every product.
  const std::string target_atom = solver_atom(target.atom);
  if (!names_a_leaf(runtime, target_atom)) formula.remove(target_atom);
  if (verbose) {
    std::cout << "Compiled Talvo for target atom " << target.atom << " into formula over "
              << formula.size() << " models\n"
              << std::flush;
  }
  const GeneratedNames names(runtime.clauses(), runtime.sources(), runtime.categorical_sources(),
                             &target);
  const auto causes = variable_causes(runtime.clauses(), names);
  create_variable_cause_leaves(runtime, formula, causes);
  // A new node takes the circuit's value_size, so the layout comes before the target's node.
  if constexpr (CompileRules<S>::lays_out_gradients) lay_out_gradients(runtime);

  ProductMaker products(
      formula, runtime.manager().index_map(), causes,
      derived_inputs(runtime.clauses(), runtime.sources(), runtime.categorical_sources()), names);
  const auto circuit = runtime.manager().reactive_circuit->lock();
  // The products go to the circuit in batches, so that beside the formula and the circuit's own
  // minterms only one batch of them is held. The first batch comes even when there are no models:
  // it gives the target its node.
  std::vector<std::vector<std::uint32_t>> batch;
  std::vector<ClosedCause> closed;
  ClosedCauseWeights<S> weights;
  std::size_t next = 0;
  do {
    batch.clear();
    closed.clear();
    for (; next < formula.size() && batch.size() < kProductsPerBatch; ++next) {
      products.append(next, batch, closed);
    }
    if constexpr (CompileRules<S>::weighs_closed_causes) {
      weights.add(*circuit, target.topic, batch, closed);
    } else if (auto added = circuit->add_sum_product(batch, target.topic); !added) {
      throw Panic(added.error().message());
    }
  } while (next < formula.size());
  // Minterms made whole are not counted among their leaves' dependents until this runs.
  if constexpr (CompileRules<S>::weighs_closed_causes) circuit->update_dependencies();
}

#define TALVO_INSTANTIATE_ADD_TARGET_FORMULA(S) \
  template void add_target_formula(Talvo<S>&, Dnf, bool);
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_ADD_TARGET_FORMULA)
#undef TALVO_INSTANTIATE_ADD_TARGET_FORMULA

}  // namespace talvo::detail
