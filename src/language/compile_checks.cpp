#include "language/compile_checks.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/number_text.hpp"
#include "language/defined_atoms.hpp"
#include "language/negation_cycles.hpp"
#include "language/regex.hpp"
#include "language/text.hpp"

namespace talvo::detail {
namespace {

/// The mistakes found so far, each with the model line it is about.
class Findings {
 public:
  /// A mistake said once already of the same line (an atom used twice there) is not repeated.
  void add(std::size_t line, std::string message) {
    std::pair<std::size_t, std::string> finding(line,
                                                "line " + std::to_string(line) + ": " + message);
    if (std::ranges::find(found_, finding) == found_.end()) found_.push_back(std::move(finding));
  }

  std::optional<Error> error() {
    if (found_.empty()) return std::nullopt;
    std::ranges::stable_sort(found_, {}, &std::pair<std::size_t, std::string>::first);
    std::string text;
    for (std::size_t i = 0; i < found_.size() && i < kListedMistakes; ++i) {
      if (!text.empty()) text += '\n';
      text += found_[i].second;
    }
    if (found_.size() > kListedMistakes) {
      text += '\n';
      text += unlisted_mistakes(found_.size() - kListedMistakes);
    }
    return Error(std::move(text));
  }

 private:
  std::vector<std::pair<std::size_t, std::string>> found_;
};

}  // namespace

/// Statements and atoms are quoted up to this many bytes, so that a long one cannot swamp the
/// message.
constexpr std::size_t kQuotedBytes = 100;

std::string quoted(std::string_view text) {
  std::string out = "\"";
  if (text.size() <= kQuotedBytes) {
    out += text;
    out += '"';
    return out;
  }
  std::size_t cut = kQuotedBytes;
  while (cut > 0 && text::is_continuation_byte(text[cut])) --cut;
  out += text.substr(0, cut);
  out += "...\" (" + std::to_string(text.size()) + " bytes)";
  return out;
}

namespace {

/// A source statement whatever word names its type.
constexpr std::string_view kAnySourceRegex = R"re((?x)
  <- \s*+ source \s*+ \( \s*+ " [^"]*+ " \s*+ , \s*+ (?<dtype> \w++ ) \s*+ \)
)re";

/// A `P(...)` whose probability is not written as 0 or 1, a point and digits.
constexpr std::string_view kMisspeltProbabilityRegex = R"re((?x)
  <- \s*+ P \s*+ \( (?! \s*+ [01] \. [0-9]++ \s*+ \) )
)re";

/// A comparison with an operator the language does not have.
constexpr std::string_view kMisspeltComparisonRegex =
    R"re((?x) (?: [<>] = | =< | => | == | != ))re";

/// Why no statement form reads `statement`, when it is a near miss.
std::string unread_reason(std::string_view statement) {
  static const Regex misspelt_probability(kMisspeltProbabilityRegex);
  if (misspelt_probability.find(statement)) {
    return ": a probability is written as 0 or 1, a point and digits, such as P(0.9) or P(1.0)";
  }
  static const Regex misspelt_comparison(kMisspeltComparisonRegex);
  if (misspelt_comparison.find(statement)) {
    return ": a comparison is \"<\" or \">\" with a number; there is no \">=\", \"<=\" or \"=\"";
  }
  static const Regex any_source(kAnySourceRegex);
  const auto match = any_source.find(statement);
  if (!match) return {};
  const std::string_view dtype = *match->group("dtype");
  if (dtype == "Categorical" || std::ranges::find(kDtypeNames, dtype) != std::end(kDtypeNames)) {
    return {};
  }
  return ": the source type " + quoted(dtype) +
         " is none of Probability, Density, Number, Boolean (Categorical for a braced list)";
}

/// The solver grounds a term recursively, one level per operation: deeper terms would overflow
/// its stack (more so under a sanitizer). No model needs terms near this depth.
constexpr std::size_t kMaxTermOperations = 1000;

/// Mistakes of the atom's own text: a first letter that makes it a variable, a term deeper than
/// the solver grounds.
void check_atom(Findings& findings, std::size_t line, std::string_view atom) {
  const std::string_view word = atom.substr(std::min(atom.find_first_not_of('_'), atom.size()));
  if (text::starts_with_uppercase(word)) {
    findings.add(line, "the atom " + quoted(atom) +
                           " begins with an upper-case letter, which makes it a variable: an "
                           "atom begins with a lower-case letter");
  }
  for (const std::string& arg : args_of(atom).value_or(std::vector<std::string>{})) {
    const auto operations = static_cast<std::size_t>(
        std::ranges::count_if(arg, [](char c) { return c == '+' || c == '-'; }));
    if (operations > kMaxTermOperations) {
      findings.add(line, "the argument " + quoted(arg) + " nests " + std::to_string(operations) +
                             " operations; a term may nest at most " +
                             std::to_string(kMaxTermOperations));
    }
  }
}

void check_atoms(Findings& findings, const Statements& parsed) {
  for (std::size_t i = 0; i < parsed.sources.size(); ++i) {
    check_atom(findings, parsed.lines.sources[i], parsed.sources[i].atom);
  }
  for (std::size_t i = 0; i < parsed.categorical_sources.size(); ++i) {
    for (const std::string& category : parsed.categorical_sources[i].categories) {
      check_atom(findings, parsed.lines.categorical_sources[i], category);
    }
  }
  for (std::size_t i = 0; i < parsed.targets.size(); ++i) {
    check_atom(findings, parsed.lines.targets[i], parsed.targets[i].atom);
  }
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    const Clause& clause = parsed.clauses[i];
    const std::size_t line = parsed.lines.clauses[i];
    check_atom(findings, line, clause.head);
    // A comparison stands in the literals under its generated name; its atom is the one written.
    std::unordered_set<std::string_view> generated;
    for (const ComparisonLiteral& comparison : clause.comparisons) {
      check_atom(findings, line, comparison.atom);
      generated.insert(comparison.name);
    }
    for (const std::string& literal : clause.literals) {
      if (!generated.contains(literal)) check_atom(findings, line, strip_negation(literal));
    }
  }
}

/// A model answers one target; a second would be kept without effect.
void check_targets(Findings& findings, const Statements& parsed) {
  for (std::size_t i = 1; i < parsed.targets.size(); ++i) {
    findings.add(parsed.lines.targets[i], "a second target: a model answers one target, and line " +
                                              std::to_string(parsed.lines.targets.front()) +
                                              " already gives it");
  }
}

/// In a model with a target, an atom that nothing can make true would quietly answer 0. A
/// statement that no form reads may be what defines it, so it is told alone.
void check_defined(Findings& findings, const Statements& parsed) {
  if (parsed.targets.empty() || !parsed.unread.empty()) return;
  for (const UndefinedUse& use : undefined_uses(parsed)) {
    switch (use.why) {
      case Undefined::Atom:
        findings.add(use.line, "nothing defines " + quoted(use.atom) +
                                   ": no source, category, fact or rule makes it true");
        break;
      case Undefined::NumericSource:
        findings.add(use.line, quoted(use.atom) +
                                   " is a Number or Density source: a body reads it only through "
                                   "a comparison with a number (\"<\" or \">\"), and alone it "
                                   "is never true");
        break;
      case Undefined::UnreadComparison:
        findings.add(use.line, "the comparison on " + quoted(use.atom) +
                                   " reads no Number or Density source, so it never holds");
        break;
    }
  }
}

/// Remembers the first line of each name; a name met again is reported with that line.
class FirstUse {
 public:
  /// The line on which `name` was met before, if it was.
  std::optional<std::size_t> met(const std::string& name, std::size_t line) {
    const auto [first, inserted] = lines_.try_emplace(name, line);
    if (inserted) return std::nullopt;
    return first->second;
  }

 private:
  std::unordered_map<std::string, std::size_t> lines_;
};

}  // namespace

std::string unlisted_mistakes(std::size_t count) {
  return "... and " + std::to_string(count) + " more";
}

std::optional<Error> check_text(std::string_view text) {
  const std::size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return std::nullopt;
  const auto line = std::ranges::count(text.substr(0, nul), '\n') + 1;
  return Error("line " + std::to_string(line) + ": the model text holds a NUL byte");
}

std::optional<Error> check_statements(const Statements& parsed,
                                      std::optional<std::string_view> adds_up_stable_models) {
  Findings findings;
  for (const UnreadText& unread : parsed.unread) {
    findings.add(unread.line,
                 unread.ends_statement
                     ? "no statement form reads " + quoted(unread.text) + unread_reason(unread.text)
                     : "the statement " + quoted(unread.text) + " has no closing full stop");
  }

  // Each input atom names leaves and each channel feeds one reader: neither may be given twice.
  FirstUse atoms;
  FirstUse topics;
  const auto input = [&](const std::string& atom, std::size_t line) {
    if (const auto first = atoms.met(solver_atom(atom), line)) {
      findings.add(line, "the input atom " + quoted(atom) + " is already declared on line " +
                             std::to_string(*first));
    }
  };
  const auto channel = [&](const std::string& topic, std::size_t line) {
    if (const auto first = topics.met(topic, line)) {
      findings.add(line, "the channel " + quoted(topic) +
                             " already feeds the source declared on line " +
                             std::to_string(*first));
    }
  };
  // In the order of the model's lines, so that the first declaration is the one kept.
  struct Input {
    std::size_t line;
    const Source* source;
    const CategoricalSource* categorical;
  };
  std::vector<Input> inputs;
  for (std::size_t i = 0; i < parsed.sources.size(); ++i) {
    inputs.push_back({parsed.lines.sources[i], &parsed.sources[i], nullptr});
  }
  for (std::size_t i = 0; i < parsed.categorical_sources.size(); ++i) {
    inputs.push_back(
        {parsed.lines.categorical_sources[i], nullptr, &parsed.categorical_sources[i]});
  }
  std::ranges::stable_sort(inputs, {}, &Input::line);
  for (const Input& in : inputs) {
    if (in.source != nullptr) {
      input(in.source->atom, in.line);
      channel(in.source->topic, in.line);
      continue;
    }
    if (in.categorical->categories.empty()) {
      findings.add(in.line, "the categorical source on " + quoted(in.categorical->topic) +
                                " has no categories");
    }
    for (const std::string& category : in.categorical->categories) input(category, in.line);
    channel(in.categorical->topic, in.line);
  }

  // The grammar writes a probability as 0 or 1 and decimals: only one above 1 is no probability.
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    const Clause& clause = parsed.clauses[i];
    if (!clause.probability || *clause.probability <= 1.0) continue;
    findings.add(parsed.lines.clauses[i], "the probability " + number_text(*clause.probability) +
                                              " of " + quoted(clause.head) + " is above 1");
  }
  check_atoms(findings, parsed);
  check_targets(findings, parsed);
  check_defined(findings, parsed);
  // A model without a target adds up nothing.
  if (adds_up_stable_models && !parsed.targets.empty()) {
    for (CycleThroughNot& cycle : cycles_through_not(parsed, *adds_up_stable_models)) {
      findings.add(cycle.line, std::move(cycle.message));
    }
  }
  return findings.error();
}

}  // namespace talvo::detail
