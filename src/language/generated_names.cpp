#include "language/generated_names.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "language/matching.hpp"

namespace talvo::detail {
namespace {

/// "{predicate}#{counter}": the key of a cause's parameter group. The predicate is the head's
/// text before its first "(" (the whole head without one), taken as written.
std::string group_key(std::string_view head, std::size_t counter) {
  std::string key(atom_base(head));
  key += '#';
  key += std::to_string(counter);
  return key;
}

// A ground comparison is one atom compared one way with one constant as its name writes it, so
// that the thresholds 20 and 20.0 are one comparison while `n(k1, k2) > 2` and `n_k1(k2) > 2`,
// whose plain names meet, are two.
std::string comparison_key(const ComparisonLiteral& comparison) {
  std::string key = solver_atom(comparison.atom);
  key += '\0';
  key += canonical_comparison_name(comparison.atom, comparison.op, comparison.threshold);
  return key;
}

std::string plain_predicate(const ComparisonLiteral& comparison) {
  return parameterized_comparison_predicate(atom_base(comparison.atom), comparison.op,
                                            comparison.threshold);
}

/// Takes the predicate of every atom of the model that the compiler writes: inputs, the first
/// target, heads, compared atoms and the body literals that stand for no comparison.
void take_model_predicates(FreeNames& free, const std::vector<Clause>& clauses,
                           const std::vector<Source>& sources,
                           const std::vector<CategoricalSource>& categorical_sources,
                           const Target* first_target) {
  for (const Source& source : sources) free.take(source.atom);
  for (const CategoricalSource& source : categorical_sources) {
    for (const std::string& category : source.categories) free.take(category);
  }
  if (first_target != nullptr) free.take(first_target->atom);
  for (const Clause& clause : clauses) {
    free.take(clause.head);
    // As many literals as there are comparisons of a name stand for them; the model may write
    // the same text as an atom of its own besides.
    std::unordered_map<std::string_view, std::size_t> stand_ins;
    for (const ComparisonLiteral& comparison : clause.comparisons) {
      free.take(comparison.atom);
      ++stand_ins[comparison.name];
    }
    for (const std::string& literal : clause.literals) {
      const std::string_view atom = strip_negation(literal);
      if (const auto found = stand_ins.find(atom); found != stand_ins.end() && found->second > 0) {
        --found->second;
        continue;
      }
      free.take(atom);
    }
  }
}

}  // namespace

bool FreeNames::take(std::string_view name) {
  const std::string_view predicate = atom_base(name);
  if (std::ranges::any_of(
          prefixes_, [&](const std::string& prefix) { return predicate.starts_with(prefix); })) {
    return false;
  }
  return taken_.emplace(predicate).second;
}

std::string FreeNames::claim(std::string_view wanted) {
  std::string name(wanted);
  for (std::size_t n = 1; !take(name); ++n) name = std::string(wanted) + "_" + std::to_string(n);
  return name;
}

std::string FreeNames::claim_prefix(std::string_view wanted) {
  const std::string_view stem = wanted.substr(0, wanted.size() - 1);
  std::string prefix(wanted);
  for (std::size_t n = 1; !is_free_prefix(prefix); ++n) {
    prefix = std::string(stem) + "_" + std::to_string(n) + "_";
  }
  prefixes_.push_back(prefix);
  return prefix;
}

bool FreeNames::is_free_prefix(std::string_view prefix) const {
  const auto next = taken_.lower_bound(prefix);
  if (next != taken_.end() && next->starts_with(prefix)) return false;
  return std::ranges::none_of(prefixes_, [&](const std::string& claimed) {
    return claimed.starts_with(prefix) || prefix.starts_with(claimed);
  });
}

GeneratedNames::GeneratedNames(const std::vector<Clause>& clauses,
                               const std::vector<Source>& sources,
                               const std::vector<CategoricalSource>& categorical_sources,
                               const Target* first_target) {
  FreeNames free;
  take_model_predicates(free, clauses, sources, categorical_sources, first_target);

  // Comparison atoms (those of comparisons with variables as each numeric source grounds them)
  // and comparison predicates, in order of first use. Every plain name that meets nothing is
  // kept before any other is renamed, so that a renamed one cannot take it.
  struct Wanted {
    std::unordered_map<std::string, std::string>* names;
    std::string key;
    std::string plain;
  };
  std::vector<Wanted> wanted;
  const auto want = [&](std::unordered_map<std::string, std::string>& names, std::string key,
                        std::string plain) {
    if (names.emplace(key, plain).second)
      wanted.push_back({&names, std::move(key), std::move(plain)});
  };
  for (const Clause& clause : clauses) {
    for (const ComparisonLiteral& comparison : clause.comparisons) {
      if (!comparison.parameterized) {
        want(comparisons_, comparison_key(comparison),
             canonical_comparison_name(comparison.atom, comparison.op, comparison.threshold));
        continue;
      }
      want(predicates_, plain_predicate(comparison), plain_predicate(comparison));
      for (const Source& source : sources) {
        if (!is_numeric(source.dtype)) continue;
        if (const auto grounded = comparison.ground_for(source.atom)) {
          want(comparisons_, comparison_key(*grounded), grounded->name);
        }
      }
    }
  }
  std::vector<const Wanted*> renamed;
  for (const Wanted& name : wanted) {
    if (!free.take(name.plain)) renamed.push_back(&name);
  }
  for (const Wanted* name : renamed) (*name->names)[name->key] = free.claim(name->plain);

  // Causes, numbered per head text; a number whose name is taken is passed over. Cause names and
  // bases share one space: the ground cause `p_cause_0` of a head `p` would otherwise also read
  // as the cause base of `p(X)`.
  std::unordered_map<std::string_view, std::size_t> next;
  cause_numbers_.reserve(clauses.size());
  for (const Clause& clause : clauses) {
    if (!clause.probability) {
      cause_numbers_.push_back(0);
      continue;
    }
    const bool variable = has_variable_arg(clause.head);
    std::size_t& n = next[clause.head];
    while (!free.take(variable ? cause_atom_base_name(clause.head, n)
                               : cause_atom_name(clause.head, n))) {
      ++n;
    }
    cause_numbers_.push_back(n++);
  }

  // Parameter groups, one per clause, since each carries a `P(...)` of its own: the n-th
  // probabilistic clause of a predicate is keyed by the predicate and n, whatever names the
  // causes were given.
  std::unordered_map<std::string_view, std::size_t> clauses_of;
  group_keys_.reserve(clauses.size());
  for (const Clause& clause : clauses) {
    if (!clause.probability) {
      group_keys_.emplace_back();
      continue;
    }
    group_keys_.push_back(group_key(clause.head, clauses_of[atom_base(clause.head)]++));
  }

  // Hidden atoms are a prefix before an input's or a cause's atom; no other name begins with it.
  input_prefix_ = free.claim_prefix("talvo_in_");
  open_prefix_ = free.claim_prefix("talvo_open_");
  interval_prefix_ = free.claim_prefix("talvo_draw_");
}

std::string GeneratedNames::comparison_name(const ComparisonLiteral& comparison) const {
  if (const auto found = comparisons_.find(comparison_key(comparison)); found != comparisons_.end())
    return found->second;
  return canonical_comparison_name(comparison.atom, comparison.op, comparison.threshold);
}

std::string GeneratedNames::comparison_predicate(const ComparisonLiteral& comparison) const {
  std::string plain = plain_predicate(comparison);
  if (const auto found = predicates_.find(plain); found != predicates_.end()) return found->second;
  return plain;
}

std::string GeneratedNames::stand_in(const ComparisonLiteral& comparison) const {
  if (!comparison.parameterized) return comparison_name(comparison);
  return with_args_of(comparison_predicate(comparison), comparison.atom);
}

std::optional<ComparisonLiteral> GeneratedNames::ground_for(const ComparisonLiteral& comparison,
                                                            std::string_view atom) const {
  std::optional<ComparisonLiteral> grounded = comparison.ground_for(atom);
  if (grounded) grounded->name = comparison_name(*grounded);
  return grounded;
}

}  // namespace talvo::detail
