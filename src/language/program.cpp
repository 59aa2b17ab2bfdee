#include "language/program.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "language/draw_intervals.hpp"
#include "language/generated_names.hpp"
#include "language/matching.hpp"
#include "language/text.hpp"

namespace talvo::detail {
namespace {

// Whether some body uses the source atom: the literal itself, or one of its predicate with a
// variable argument. A literal with other constant arguments does not count.
bool is_used(std::string_view atom, const std::vector<Clause>& clauses) {
  const std::string rendered = solver_atom(atom);
  for (const Clause& clause : clauses) {
    for (const std::string& literal : clause.literals) {
      const std::string_view stripped = strip_negation(literal);
      if (solver_atom(stripped) == rendered) return true;
      if (atom_base(stripped) == atom_base(atom) && has_variable_arg(stripped)) return true;
    }
  }
  return false;
}

// Whether a clause with the head `head` can make `atom` true: the same atom, or a head of its
// predicate with a variable argument.
bool may_derive(std::string_view head, std::string_view atom) {
  return solver_atom(head) == atom ||
         (atom_base(head) == atom_base(atom) && has_variable_arg(head));
}

// The variables among the arguments of `atom`.
std::unordered_set<std::string> variables_of(std::string_view atom) {
  std::unordered_set<std::string> variables;
  if (const auto args = args_of(atom)) {
    for (const std::string& arg : *args) {
      if (text::starts_with_uppercase(arg)) variables.insert(arg);
    }
  }
  return variables;
}

// Whether the positive literals among `domain` bind every variable of `head`, so that the
// solver can ground a choice over them.
bool binds_head(std::string_view head, const std::vector<std::string>& domain) {
  std::unordered_set<std::string> bound;
  for (const std::string& literal : domain) {
    if (strip_negation(literal) != literal) continue;
    bound.merge(variables_of(literal));
  }
  return std::ranges::all_of(variables_of(head),
                             [&](const std::string& variable) { return bound.contains(variable); });
}

/// The atom an input is chosen by: the input's own atom, or, where a clause may derive that atom
/// too, a hidden atom that only the choice makes true.
std::string chosen_atom(std::string_view atom, const std::unordered_set<std::string>& derived,
                        const GeneratedNames& names) {
  const std::string rendered = solver_atom(atom);
  return derived.contains(rendered) ? names.input_choice(rendered) : std::string(atom);
}

/// For an input chosen by a hidden atom, the rule that makes the input's atom true with it.
void append_input_rule(std::string& program, std::string_view atom,
                       const std::unordered_set<std::string>& derived,
                       const GeneratedNames& names) {
  const std::string rendered = solver_atom(atom);
  if (!derived.contains(rendered)) return;
  program += atom;
  program += " :- ";
  program += names.input_choice(rendered);
  program += ".\n";
}

/// `{atom}.`, or `{atom} :- domain.` when the choice is restricted to a domain.
void append_choice(std::string& program, std::string_view atom,
                   const std::vector<std::string>& domain = {}) {
  program += '{';
  program += atom;
  program += '}';
  if (!domain.empty()) {
    program += " :- ";
    program += text::join(domain, ", ");
  }
  program += ".\n";
}

void append_rest(std::string& program, const std::vector<std::string>& literals) {
  for (const std::string& literal : literals) {
    program += ", ";
    program += literal;
  }
  program += ".\n";
}

/// Traces each line of the program back to the statement that wrote it.
class LineTracer {
 public:
  explicit LineTracer(std::vector<LineOrigin>* origins) : origins_(origins) {}

  /// The lines that `program` gained since the last call were written by statement `index` of
  /// the form `form`.
  void written_by(const std::string& program, StatementForm form, std::size_t index) {
    if (origins_ == nullptr) return;
    for (; traced_ < program.size(); ++traced_) {
      if (program[traced_] == '\n') origins_->push_back({form, index});
    }
  }

 private:
  std::vector<LineOrigin>* origins_;
  std::size_t traced_ = 0;
};

void append_sources(std::string& program, LineTracer& tracer, const std::vector<Clause>& clauses,
                    const std::vector<Source>& sources, const Target& first_target,
                    const ComparisonsBySource& comparisons_by_source,
                    const std::unordered_set<std::string>& derived, const GeneratedNames& names) {
  const std::string target = solver_atom(first_target.atom);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const Source& source = sources[i];
    if (is_numeric(source.dtype)) {
      // The numeric atom itself never enters the program: only its comparisons (and the intervals
      // of a density source's draw) do.
      const auto entries = comparisons_by_source.find(source.atom);
      if (entries == comparisons_by_source.end()) continue;
      if (draws_intervals(source.dtype, entries->second)) {
        program += interval_program(names.interval_prefix(), source.atom, entries->second);
      } else {
        for (const ComparisonEntry& entry : entries->second) append_choice(program, entry.name);
      }
    } else if (is_used(source.atom, clauses) || solver_atom(source.atom) == target) {
      // A source that is itself the target is chosen too, or the target could never hold.
      append_choice(program, chosen_atom(source.atom, derived, names));
      append_input_rule(program, source.atom, derived, names);
    }
    tracer.written_by(program, StatementForm::Source, i);
  }
}

void append_categorical_choices(std::string& program, LineTracer& tracer,
                                const std::vector<CategoricalSource>& categorical_sources,
                                const std::unordered_set<std::string>& derived,
                                const GeneratedNames& names) {
  for (std::size_t i = 0; i < categorical_sources.size(); ++i) {
    const std::vector<std::string>& categories = categorical_sources[i].categories;
    std::vector<std::string> chosen;
    for (const std::string& category : categories) {
      chosen.push_back(chosen_atom(category, derived, names));
    }
    program += "1 { ";
    program += text::join(chosen, " ; ");
    program += " } 1.\n";
    for (const std::string& category : categories) {
      append_input_rule(program, category, derived, names);
    }
    tracer.written_by(program, StatementForm::CategoricalSource, i);
  }
}

// A comparison with variables holds exactly when one of its groundings for a numeric source does.
void append_comparison_rules(std::string& program, LineTracer& tracer,
                             const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                             const GeneratedNames& names) {
  std::unordered_set<std::string> emitted;
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    for (const ComparisonLiteral& comparison : clauses[i].comparisons) {
      if (!comparison.parameterized) continue;
      const std::string predicate = names.comparison_predicate(comparison);
      for (const Source& source : sources) {
        if (!is_numeric(source.dtype)) continue;
        const auto grounded = names.ground_for(comparison, source.atom);
        if (!grounded) continue;
        const auto args = args_of(source.atom);
        if (!args) continue;
        std::string rule =
            predicate + "(" + text::join(*args, ", ") + ") :- " + grounded->name + ".\n";
        if (emitted.insert(rule).second) program += rule;
      }
    }
    tracer.written_by(program, StatementForm::Clause, i);
  }
}

void append_clauses(std::string& program, LineTracer& tracer, const std::vector<Clause>& clauses,
                    const std::vector<Source>& sources, const GeneratedNames& names) {
  std::unordered_set<std::string_view> source_bases;
  for (const Source& source : sources) source_bases.insert(atom_base(source.atom));
  const std::vector<std::size_t>& numbers = names.cause_numbers();

  for (std::size_t i = 0; i < clauses.size(); ++i) {
    const Clause& clause = clauses[i];
    if (!clause.probability) {
      program += clause.to_asp();
      tracer.written_by(program, StatementForm::Clause, i);
      continue;
    }
    std::string cause;
    std::vector<std::string> domain;
    if (!has_variable_arg(clause.head)) {
      cause = cause_atom_name(clause.head, numbers[i]);
    } else {
      // The cause of a head with variables is chosen over the domain its body gives: the
      // literals that are neither source atoms nor comparisons with variables. A comparison is
      // known by the atom that stands for it, never by a prefix: the model's own atoms may begin
      // with anything.
      const auto head_args = args_of(clause.head);
      cause = cause_atom_base_name(clause.head, numbers[i]) + "(" +
              (head_args ? text::join(*head_args, ", ") : std::string()) + ")";
      std::unordered_set<std::string_view> comparisons;
      for (const ComparisonLiteral& comparison : clause.comparisons) {
        if (comparison.parameterized) comparisons.insert(comparison.name);
      }
      for (const std::string& literal : clause.literals) {
        const std::string_view stripped = strip_negation(literal);
        if (source_bases.contains(atom_base(stripped)) || comparisons.contains(stripped)) continue;
        domain.push_back(literal);
      }
      // Where those literals leave a head variable unbound, the choice ranges over the whole
      // body: which of its literals hold is what makes the choice open.
      if (!binds_head(clause.head, domain)) domain = clause.literals;
    }
    append_choice(program, cause, domain);
    if (!domain.empty()) {
      // Where the domain fails, the cause is false without having been chosen; this atom tells
      // the models in which its choice was open.
      program += names.open_cause(cause);
      program += " :- ";
      program += text::join(domain, ", ");
      program += ".\n";
    }
    program += clause.head;
    program += " :- ";
    program += cause;
    append_rest(program, clause.literals);
    tracer.written_by(program, StatementForm::Clause, i);
  }
}

}  // namespace

std::unordered_set<std::string> derived_inputs(
    const std::vector<Clause>& clauses, const std::vector<Source>& sources,
    const std::vector<CategoricalSource>& categorical_sources) {
  std::unordered_set<std::string> derived;
  const auto note = [&](const std::string& atom) {
    const std::string rendered = solver_atom(atom);
    if (std::ranges::any_of(
            clauses, [&](const Clause& clause) { return may_derive(clause.head, rendered); })) {
      derived.insert(rendered);
    }
  };
  for (const Source& source : sources) {
    if (!is_numeric(source.dtype)) note(source.atom);
  }
  for (const CategoricalSource& source : categorical_sources) {
    const std::size_t before = derived.size();
    for (const std::string& category : source.categories) note(category);
    // One hidden choice among the categories: all of them or none.
    if (derived.size() != before) {
      for (const std::string& category : source.categories) derived.insert(solver_atom(category));
    }
  }
  return derived;
}

std::string generate_program(const std::vector<Clause>& clauses, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const Target& first_target,
                             const ComparisonsBySource& comparisons_by_source,
                             std::vector<LineOrigin>* origins) {
  std::string program;
  LineTracer tracer(origins);
  const std::unordered_set<std::string> derived =
      derived_inputs(clauses, sources, categorical_sources);
  const GeneratedNames names(clauses, sources, categorical_sources, &first_target);
  append_sources(program, tracer, clauses, sources, first_target, comparisons_by_source, derived,
                 names);
  append_categorical_choices(program, tracer, categorical_sources, derived, names);
  append_comparison_rules(program, tracer, clauses, sources, names);
  append_clauses(program, tracer, clauses, sources, names);
  program += ":- not ";
  program += first_target.atom;
  program += ".\n";
  tracer.written_by(program, StatementForm::Target, 0);
  return program;
}

}  // namespace talvo::detail
