#include "language/compile_inputs.hpp"

#include <iostream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "language/draw_intervals.hpp"
#include "language/generated_names.hpp"
#include "language/matching.hpp"
#include "language/runtime_access.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo::detail {
namespace {

std::string complement_name(std::string_view name) {
  std::string complement = "-";
  complement += name;
  return complement;
}

/// The distinct comparisons that the clauses make on the numeric source `atom`, in order of
/// first use: comparisons with variables grounded for it, ground ones written on the same atom as
/// the solver reads it (`t(a, b)` is `t(a,b)`). Two comparisons with the same generated name
/// (thresholds 20 and 20.0) are one.
std::vector<ComparisonLiteral> comparisons_on(const std::string& atom,
                                              const std::vector<Clause>& clauses,
                                              const GeneratedNames& names) {
  std::vector<ComparisonLiteral> found;
  std::unordered_set<std::string> seen;
  const std::string rendered = solver_atom(atom);
  for (const Clause& clause : clauses) {
    for (const ComparisonLiteral& comparison : clause.comparisons) {
      std::optional<ComparisonLiteral> candidate;
      if (comparison.parameterized) {
        candidate = names.ground_for(comparison, atom);
      } else if (solver_atom(comparison.atom) == rendered) {
        candidate = comparison;
      }
      if (candidate && seen.insert(candidate->name).second) found.push_back(std::move(*candidate));
    }
  }
  return found;
}

/// One leaf per interval of the draw of a density source, in ascending order, fed as one message
/// laid out interval by interval on the source's own channel: the comparisons on the source then
/// all read one draw.
template <Semiring S>
void create_interval_leaves(Manager<S>& manager, const Source& source,
                            const std::vector<double>& thresholds, std::string_view prefix) {
  std::vector<std::uint32_t> leaves;
  for (std::size_t j = 0; j <= thresholds.size(); ++j) {
    leaves.push_back(
        manager.create_leaf(interval_atom(prefix, source.atom, thresholds, j), Value(1, 0.0)));
  }
  manager.read_categorical(source.topic, std::move(leaves));
}

template <Semiring S>
void create_source_leaves(Talvo<S>& runtime, const Source& source, const GeneratedNames& names) {
  Manager<S>& manager = runtime.manager();
  switch (source.dtype) {
    case Dtype::Probability:
    case Dtype::Boolean: {
      // Named as the solver writes the atom, so that the models' literals find the leaves.
      const std::string name = solver_atom(source.atom);
      const std::uint32_t leaf = manager.create_leaf(name, Value(runtime.value_size(), 0.0));
      const std::uint32_t complement =
          manager.create_leaf(complement_name(name), Value(runtime.value_size(), 1.0));
      manager.read_dual(leaf, complement, source.topic);
      return;
    }
    case Dtype::Number:
    case Dtype::Density: {
      // A numeric source has no leaf of its own: its values reach the circuit as the indicator or
      // probability vectors of its comparisons, one entry long.
      std::vector<ComparisonEntry> entries;
      for (ComparisonLiteral& comparison : comparisons_on(source.atom, runtime.clauses(), names)) {
        entries.push_back({comparison.threshold, comparison.op == '>', std::move(comparison.name)});
      }
      if (draws_intervals(source.dtype, entries)) {
        create_interval_leaves(manager, source, interval_thresholds(entries),
                               names.interval_prefix());
      } else {
        for (const ComparisonEntry& entry : entries) {
          const std::uint32_t leaf = manager.create_leaf(entry.name, Value(1, 0.0));
          const std::uint32_t complement =
              manager.create_leaf(complement_name(entry.name), Value(1, 1.0));
          manager.read_dual(leaf, complement, entry.name);
        }
      }
      RuntimeAccess::comparisons_by_source(runtime).insert_or_assign(source.atom,
                                                                     std::move(entries));
      return;
    }
    case Dtype::Categorical:
      // Categorical inputs are a statement form of their own; a source never carries this type.
      return;
  }
}

template <Semiring S>
void create_category_leaves(Talvo<S>& runtime, const CategoricalSource& source) {
  std::vector<std::uint32_t> leaves;
  leaves.reserve(source.categories.size());
  for (const std::string& category : source.categories) {
    leaves.push_back(
        runtime.manager().create_leaf(solver_atom(category), Value(runtime.value_size(), 0.0)));
  }
  runtime.manager().read_categorical(source.topic, std::move(leaves));
}

/// Cause leaves of the probabilistic clauses whose head has no variable.
template <Semiring S>
void create_ground_cause_leaves(Talvo<S>& runtime, const GeneratedNames& names) {
  const std::vector<std::size_t>& numbers = names.cause_numbers();
  for (std::size_t i = 0; i < runtime.clauses().size(); ++i) {
    const Clause& clause = runtime.clauses()[i];
    if (!clause.probability || has_variable_arg(clause.head)) continue;
    std::string cause = cause_atom_name(clause.head, numbers[i]);
    create_cause_leaves(runtime.manager(), cause, Value(runtime.value_size(), *clause.probability));
    RuntimeAccess::parameter_groups(runtime)[names.group_keys()[i]].push_back(std::move(cause));
  }
}

}  // namespace

template <Semiring S>
void create_input_leaves(Talvo<S>& runtime, bool verbose) {
  const GeneratedNames names(runtime.clauses(), runtime.sources(), runtime.categorical_sources(),
                             runtime.targets().empty() ? nullptr : &runtime.targets().front());
  for (const Source& source : runtime.sources()) create_source_leaves(runtime, source, names);
  for (const CategoricalSource& source : runtime.categorical_sources()) {
    create_category_leaves(runtime, source);
  }
  create_ground_cause_leaves(runtime, names);
  if (verbose) {
    const auto circuit = runtime.manager().reactive_circuit->lock();
    std::cout << "Talvo setup with " << circuit->leafs().size() << " source signals\n"
              << std::flush;
  }
}

#define TALVO_INSTANTIATE_CREATE_INPUT_LEAVES(S) template void create_input_leaves(Talvo<S>&, bool);
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_CREATE_INPUT_LEAVES)
#undef TALVO_INSTANTIATE_CREATE_INPUT_LEAVES

}  // namespace talvo::detail
