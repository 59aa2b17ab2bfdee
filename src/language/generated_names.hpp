#pragma once
// The names the compiler makes up: comparison atoms (also channel and leaf names), comparison
// predicates, cause names and bases, and the hidden atoms that choose inputs and mark open causes.
// Each must differ from every predicate of the model's text and from every other made-up name, or
// an atom of the model would stand for an input, or two inputs for one. A name that meets nothing
// keeps its plain form; one that would meet another is made unique by a counter. Part of the
// statement front end: no <expected>.

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "talvo/language/concepts.hpp"

namespace talvo::detail {

/// Hands out names that no name taken before has: names are compared by predicate (the text
/// before "("), so `p_cause_0` and `p_cause_0(a)` meet.
class FreeNames {
 public:
  /// Takes `name` if its predicate is free and begins with no claimed prefix; whether it was.
  bool take(std::string_view name);

  /// `wanted` (a name without arguments) if it is free, else the first free one of `wanted_1`,
  /// `wanted_2`, ...; taken.
  std::string claim(std::string_view wanted);

  /// A prefix that begins no name taken so far, `wanted` (ending in "_") if it can, else with a
  /// counter before its last "_": `talvo_in_1_`. Atoms made by putting it before any text differ
  /// from every name taken before and from the atoms of any other prefix claimed.
  std::string claim_prefix(std::string_view wanted);

 private:
  bool is_free_prefix(std::string_view prefix) const;

  std::set<std::string, std::less<>> taken_;  // predicates, ordered to find those of a prefix
  std::vector<std::string> prefixes_;
};

/// Every name the compiler makes for one model, worked out from its statements alone, so that
/// each phase of compilation finds the same names. Of the targets only the first enters the
/// program; `first_target` is null when the model has none.
class GeneratedNames {
 public:
  GeneratedNames(const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                 const std::vector<CategoricalSource>& categorical_sources,
                 const Target* first_target);

  /// The name of the atom that stands for the comparison `comparison` written on the ground atom
  /// it carries.
  std::string comparison_name(const ComparisonLiteral& comparison) const;

  /// The predicate that stands for the comparison `comparison` with variables.
  std::string comparison_predicate(const ComparisonLiteral& comparison) const;

  /// The comparison `comparison` as it stands in a body: its ground atom's name, or its predicate
  /// with the compared atom's arguments.
  std::string stand_in(const ComparisonLiteral& comparison) const;

  /// `ComparisonLiteral::ground_for`, named as here.
  std::optional<ComparisonLiteral> ground_for(const ComparisonLiteral& comparison,
                                              std::string_view atom) const;

  /// Per clause, the number of its cause: the probabilistic clauses of each exact head text are
  /// numbered from 0 in order, passing over a number whose cause name (ground head) or base
  /// (head with variables) is taken (a plain clause gets 0).
  const std::vector<std::size_t>& cause_numbers() const { return cause_numbers_; }

  /// Per clause, the key of its cause's parameter group, or "" for a plain clause: the n-th
  /// probabilistic clause of a predicate (counted from 0 in statement order, whatever its head's
  /// arguments) is keyed "{predicate}#{n}", so each has a key of its own.
  const std::vector<std::string>& group_keys() const { return group_keys_; }

  /// The hidden atom that chooses the input `atom` (as the solver writes it): `talvo_in_t(a)`.
  std::string input_choice(std::string_view atom) const {
    return input_prefix_ + std::string(atom);
  }
  const std::string& input_choice_prefix() const { return input_prefix_; }

  /// The atom that holds where the choice of the ground cause `cause` was open:
  /// `talvo_open_warm_cause_0(k1)`.
  std::string open_cause(std::string_view cause) const { return open_prefix_ + std::string(cause); }
  const std::string& open_cause_prefix() const { return open_prefix_; }

  /// What the atoms of the intervals of a density source's draw begin with: `talvo_draw_`.
  const std::string& interval_prefix() const { return interval_prefix_; }

 private:
  std::unordered_map<std::string, std::string> comparisons_;  // by comparison_key
  std::unordered_map<std::string, std::string> predicates_;   // by predicate_key
  std::vector<std::size_t> cause_numbers_;
  std::vector<std::string> group_keys_;
  std::string input_prefix_;
  std::string open_prefix_;
  std::string interval_prefix_;
};

}  // namespace talvo::detail
