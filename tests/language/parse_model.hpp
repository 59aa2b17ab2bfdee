#pragma once
// Test helper: reads a model's statements the way compilation does, and records the comparisons
// made on its numeric sources.

#include <set>
#include <string_view>
#include <vector>

#include "talvo/language/concepts.hpp"
#include "language/matching.hpp"

namespace talvo::testing {

enum class Form { Categorical, Source, Target, Clause, None };

struct ParsedModel {
  std::vector<Clause> clauses;
  std::vector<Source> sources;
  std::vector<CategoricalSource> categorical_sources;
  std::vector<Target> targets;
  std::vector<Form> forms;  // one per statement, in text order
};

inline ParsedModel parse_model(std::string_view text) {
  ParsedModel model;
  for (const std::string& statement : detail::split_statements(detail::read_model_lines(text))) {
    if (auto c = CategoricalSource::from_str(statement)) {
      model.categorical_sources.push_back(std::move(*c));
      model.forms.push_back(Form::Categorical);
    } else if (auto s = Source::from_str(statement)) {
      model.sources.push_back(std::move(*s));
      model.forms.push_back(Form::Source);
    } else if (auto t = Target::from_str(statement)) {
      model.targets.push_back(std::move(*t));
      model.forms.push_back(Form::Target);
    } else if (auto cl = Clause::from_str(statement)) {
      model.clauses.push_back(std::move(*cl));
      model.forms.push_back(Form::Clause);
    } else {
      model.forms.push_back(Form::None);
    }
  }
  return model;
}

// The distinct comparisons on each numeric source, in order of first use.
inline ComparisonsBySource comparisons_of(const ParsedModel& model) {
  ComparisonsBySource by_source;
  for (const Source& source : model.sources) {
    if (source.dtype != Dtype::Number && source.dtype != Dtype::Density) continue;
    std::vector<ComparisonEntry> entries;
    std::set<std::string> seen;
    for (const Clause& clause : model.clauses) {
      for (const ComparisonLiteral& comparison : clause.comparisons) {
        std::optional<ComparisonLiteral> candidate;
        if (comparison.parameterized) {
          candidate = comparison.ground_for(source.atom);
        } else if (comparison.atom == source.atom) {
          candidate = comparison;
        }
        if (candidate && seen.insert(candidate->name).second) {
          entries.push_back({candidate->threshold, candidate->op == '>', candidate->name});
        }
      }
    }
    by_source[source.atom] = std::move(entries);
  }
  return by_source;
}

}  // namespace talvo::testing
