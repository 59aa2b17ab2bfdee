#include "language/defined_atoms.hpp"

#include <algorithm>
#include <unordered_set>

#include "language/solver_terms.hpp"

namespace talvo::detail {
namespace {

/// Whether a numeric source gives the comparison its values, so that the program chooses its
/// generated atom: a ground comparison on the source's own atom, or one with variables that
/// grounds for a source with arguments.
bool reads_source(const ComparisonLiteral& comparison, const std::vector<Source>& sources) {
  const std::string rendered = solver_atom(comparison.atom);
  return std::ranges::any_of(sources, [&](const Source& source) {
    if (!is_numeric(source.dtype)) return false;
    if (comparison.parameterized) {
      return comparison.ground_for(source.atom).has_value() && args_of(source.atom).has_value();
    }
    return solver_atom(source.atom) == rendered;
  });
}

/// Whether the solver reads `atom`'s predicate as a name. Other text is a syntax error that the
/// solver reports in its own words.
bool is_solver_name(std::string_view atom) {
  return is_constant(atom_base(atom));
}

}  // namespace

std::string atom_signature(std::string_view atom) {
  const std::string rendered = solver_atom(atom);
  std::size_t arity = 0;
  if (const auto args = args_of(rendered)) {
    arity = args->size() == 1 && args->front().empty() ? 0 : args->size();
  }
  return std::string(atom_base(rendered)) + "/" + std::to_string(arity);
}

std::vector<UndefinedUse> undefined_uses(const Statements& parsed) {
  std::unordered_set<std::string> defined;
  std::unordered_set<std::string> numeric;
  for (const Source& source : parsed.sources) {
    (is_numeric(source.dtype) ? numeric : defined).insert(atom_signature(source.atom));
  }
  for (const CategoricalSource& source : parsed.categorical_sources) {
    for (const std::string& category : source.categories) defined.insert(atom_signature(category));
  }
  std::vector<UndefinedUse> found;
  // Comparisons that no source reads, by generated name; their literals are reported as such.
  std::unordered_set<std::string> unread;
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    const Clause& clause = parsed.clauses[i];
    defined.insert(atom_signature(clause.head));
    for (const ComparisonLiteral& comparison : clause.comparisons) {
      if (reads_source(comparison, parsed.sources)) {
        defined.insert(atom_signature(comparison.name));
      } else if (unread.insert(comparison.name).second) {
        found.push_back({parsed.lines.clauses[i], comparison.atom, Undefined::UnreadComparison});
      }
    }
  }

  const auto check = [&](std::size_t line, std::string_view atom) {
    const std::string key = atom_signature(atom);
    if (defined.contains(key) || !is_solver_name(atom)) return;
    found.push_back({line, std::string(atom),
                     numeric.contains(key) ? Undefined::NumericSource : Undefined::Atom});
  };
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    for (const std::string& literal : parsed.clauses[i].literals) {
      const std::string_view atom = strip_negation(literal);
      if (!unread.contains(std::string(atom))) check(parsed.lines.clauses[i], atom);
    }
  }
  for (std::size_t i = 0; i < parsed.targets.size(); ++i) {
    check(parsed.lines.targets[i], parsed.targets[i].atom);
  }
  return found;
}

}  // namespace talvo::detail
