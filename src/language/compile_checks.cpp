#include "language/compile_checks.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/number_text.hpp"
#include "language/asp.hpp"
#include "language/defined_atoms.hpp"
#include "language/negation_cycles.hpp"
#include "language/program.hpp"
#include "language/regex.hpp"
#include "language/text.hpp"

namespace talvo::detail {
namespace {

/// The mistakes found so far, each with the model line it is about.
class Findings {
 public:
  /// A mistake said once already of the same line (an atom used twice there) is not repeated.
  void add(std::size_t line, const std::string& message) {
    add_text(line, "line " + std::to_string(line) + ": " + message);
  }

  /// The solver's messages about the model, each on the model line it names; one that names no
  /// line of the model comes last.
  void add(const asp::Rejections& rejections, const std::vector<std::size_t>& model_lines) {
    for (const asp::SolverLine& solver_line : rejections.lines) {
      const std::size_t program_line = solver_line.program_line;
      if (program_line == 0 || program_line > model_lines.size()) {
        add_text(std::numeric_limits<std::size_t>::max(), "program: " + solver_line.text);
      } else {
        add(model_lines[program_line - 1], solver_line.text);
      }
    }
    unlisted_ += rejections.unlisted;
  }

  /// The lines on which a mistake was found.
  std::unordered_set<std::size_t> lines() const {
    std::unordered_set<std::size_t> lines;
    for (const auto& [line, text] : found_) lines.insert(line);
    return lines;
  }

  bool empty() const { return found_.empty(); }

  std::optional<Error> error() {
    if (found_.empty()) return std::nullopt;
    std::ranges::stable_sort(found_, {}, &std::pair<std::size_t, std::string>::first);
    std::string text;
    for (std::size_t i = 0; i < found_.size() && i < kListedMistakes; ++i) {
      if (!text.empty()) text += '\n';
      text += found_[i].second;
    }
    const std::size_t unlisted =
        unlisted_ + (found_.size() > kListedMistakes ? found_.size() - kListedMistakes : 0);
    if (unlisted > 0) {
      text += '\n';
      text += unlisted_mistakes(unlisted);
    }
    return Error(std::move(text));
  }

 private:
  void add_text(std::size_t line, std::string text) {
    std::pair<std::size_t, std::string> finding(line, std::move(text));
    if (std::ranges::find(found_, finding) == found_.end()) found_.push_back(std::move(finding));
  }

  std::vector<std::pair<std::size_t, std::string>> found_;
  std::size_t unlisted_ = 0;
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

/// The word called after an arrow: `source` or `P` after "<-", `target` after "->".
constexpr std::string_view kArrowCallRegex = R"re((?x)
  (?<arrow> <- | -> ) \s*+ (?<word> \w++ ) \s*+ \(
)re";

/// A channel name in quotes after `source(` or `target(`.
constexpr std::string_view kChannelRegex = R"re((?x)
  \b (?: source | target ) \s*+ \( \s*+ " (?<topic> [^"]*+ ) "
)re";

/// Where a body begins: after the word "if", or after ":-".
constexpr std::string_view kBodyRegex = R"re((?x)
  \A [^"]*? (?<keyword> \b if \b | :- ) (?<body> .*+ )
)re";

/// Whether `body` holds a comma outside the parentheses of an atom's arguments.
bool joins_by_comma(std::string_view body) {
  int depth = 0;
  for (const char c : body) {
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth <= 0) return true;
  }
  return false;
}

/// Why no statement form reads `statement`, when it is a near miss: what each form it nearly is
/// wants there.
std::string unread_reason(std::string_view statement) {
  std::vector<std::string> wants;
  static const Regex misspelt_probability(kMisspeltProbabilityRegex);
  if (misspelt_probability.find(statement)) {
    wants.emplace_back(
        "a probability is written as 0 or 1, a point and digits, such as P(0.9) or P(1.0)");
  }
  static const Regex misspelt_comparison(kMisspeltComparisonRegex);
  if (misspelt_comparison.find(statement)) {
    wants.emplace_back(
        "a comparison is \"<\" or \">\" with a number; there is no \">=\", \"<=\" or \"=\"");
  }
  static const Regex arrow_call(kArrowCallRegex);
  if (const auto call = arrow_call.find(statement)) {
    const std::string_view word = *call->group("word");
    if (*call->group("arrow") == "<-" && word != "source" && word != "P") {
      wants.push_back("after \"<-\" comes source(\"/topic\", Type) or P(probability), not " +
                      quoted(word));
    } else if (*call->group("arrow") == "->" && word != "target") {
      wants.push_back("after \"->\" comes target(\"/topic\"), not " + quoted(word));
    }
  }
  static const Regex channel(kChannelRegex);
  if (const auto named = channel.find(statement)) {
    const std::string_view topic = *named->group("topic");
    if (!topic.starts_with('/')) {
      wants.push_back("a channel name begins with \"/\": write " +
                      quoted("/" + std::string(topic)));
    }
  }
  static const Regex body(kBodyRegex);
  if (const auto found = body.find(statement)) {
    if (*found->group("keyword") == ":-")
      wants.emplace_back("a body begins with \"if\", not \":-\"");
    if (joins_by_comma(*found->group("body"))) {
      wants.emplace_back("the literals of a body are joined by \"and\", not \",\"");
    }
  }
  static const Regex any_source(kAnySourceRegex);
  if (const auto match = any_source.find(statement)) {
    const std::string_view dtype = *match->group("dtype");
    if (dtype != "Categorical" && std::ranges::find(kDtypeNames, dtype) == std::end(kDtypeNames)) {
      wants.push_back("the source type " + quoted(dtype) +
                      " is none of Probability, Density, Number, Boolean (Categorical for a "
                      "braced list)");
    }
  }
  if (wants.empty()) return {};
  std::string reason;
  for (const std::string& want : wants) reason += (reason.empty() ? ": " : "; ") + want;
  return reason;
}

/// The solver grounds a term recursively, one level per operation: deeper terms would overflow
/// its stack (more so under a sanitizer). No model needs terms near this depth.
constexpr std::size_t kMaxTermOperations = 1000;

/// The characters of `text` beyond ASCII, each named once: `"é" (U+00E9)`, or `the byte 0xE9` for
/// a byte that is no character.
std::string non_ascii(std::string_view text) {
  std::vector<std::string_view> named;
  std::string listed;
  for (std::size_t pos = 0; pos < text.size();) {
    const text::CodePoint c = text::decode_at(text, pos);
    const std::string_view written = text.substr(pos, c.length);
    pos += c.length;
    if (c.value < 0x80 || std::ranges::find(named, written) != named.end()) continue;
    named.push_back(written);
    if (!listed.empty()) listed += ", ";
    char code[16];
    if (c.value == text::kReplacement && c.length == 1) {
      std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned char>(written.front()));
      listed += "the byte " + std::string(code);
    } else {
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c.value));
      listed += quoted(written) + " (" + code + ")";
    }
  }
  return listed;
}

/// Text of an atom or literal that the solver cannot read: it reads ASCII only.
void check_ascii(Findings& findings, std::size_t line, std::string_view what,
                 std::string_view text) {
  const std::string characters = non_ascii(text);
  if (characters.empty()) return;
  findings.add(line, std::string(what) + " " + quoted(text) + " holds " + characters +
                         ": the solver reads atoms written in ASCII only");
}

/// Mistakes of the atom's own text: a first letter that makes it a variable, characters the
/// solver does not read, a term deeper than the solver grounds.
void check_atom(Findings& findings, std::size_t line, std::string_view atom) {
  const std::string_view word = atom.substr(std::min(atom.find_first_not_of('_'), atom.size()));
  if (text::starts_with_uppercase(word)) {
    findings.add(line, "the atom " + quoted(atom) +
                           " begins with an upper-case letter, which makes it a variable: an "
                           "atom begins with a lower-case letter");
  }
  check_ascii(findings, line, "the atom", atom);
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
      if (generated.contains(literal)) continue;
      const std::string_view atom = strip_negation(literal);
      check_atom(findings, line, atom);
      // The white space after a "not" goes to the solver as written.
      if (non_ascii(atom).empty()) check_ascii(findings, line, "the literal", literal);
    }
  }
}

/// The variables among the arguments of `atom`: the words that begin, after any "_", with an
/// upper-case letter, and "_" alone; each once, in the order written.
std::vector<std::string_view> argument_variables(std::string_view atom) {
  std::vector<std::string_view> variables;
  const std::size_t open = atom.find('(');
  if (open == std::string_view::npos) return variables;
  const std::string_view args = atom.substr(open + 1);
  for (std::size_t pos = 0; pos < args.size();) {
    std::size_t end = pos;
    while (end < args.size()) {
      const text::CodePoint c = text::decode_at(args, end);
      if (c.value != '_' && !text::is_alphanumeric(c.value)) break;
      end += c.length;
    }
    if (end == pos) {
      pos += text::decode_at(args, pos).length;
      continue;
    }
    const std::string_view word = args.substr(pos, end - pos);
    const std::string_view after = word.substr(std::min(word.find_first_not_of('_'), word.size()));
    if ((after.empty() || text::starts_with_uppercase(after)) &&
        std::ranges::find(variables, word) == variables.end()) {
      variables.push_back(word);
    }
    pos = end;
  }
  return variables;
}

/// A model answers one target, and that is one ground atom: a second target would be kept
/// without effect, and a target with a variable names no one atom.
void check_targets(Findings& findings, const Statements& parsed) {
  for (std::size_t i = 0; i < parsed.targets.size(); ++i) {
    const std::vector<std::string_view> variables = argument_variables(parsed.targets[i].atom);
    if (variables.empty()) continue;
    std::string named;
    for (const std::string_view variable : variables) {
      named += named.empty() ? " " : ", ";
      named += variable;
    }
    findings.add(parsed.lines.targets[i],
                 "the target " + quoted(parsed.targets[i].atom) + " holds the variable" +
                     (variables.size() > 1 ? "s" : "") + named + ": a target is one ground atom");
  }
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

/// The statements of `all` on lines without a mistake, with their lines.
template <class Statement>
void keep_sound(const std::unordered_set<std::size_t>& faulty, const std::vector<Statement>& all,
                const std::vector<std::size_t>& lines, std::vector<Statement>& kept,
                std::vector<std::size_t>& kept_lines) {
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (faulty.contains(lines[i])) continue;
    kept.push_back(all[i]);
    kept_lines.push_back(lines[i]);
  }
}

/// The solver's account of the statements on the lines where no mistake was found, so that what
/// it does not read or cannot ground there (an unsafe variable) comes back with the rest. The
/// solver never sees a line with a mistake: it would only say the same again, or worse (a term
/// too deep for it).
void check_with_solver(Findings& findings, const Statements& parsed) {
  const std::unordered_set<std::size_t> faulty = findings.lines();
  Statements sound;
  keep_sound(faulty, parsed.sources, parsed.lines.sources, sound.sources, sound.lines.sources);
  keep_sound(faulty, parsed.categorical_sources, parsed.lines.categorical_sources,
             sound.categorical_sources, sound.lines.categorical_sources);
  keep_sound(faulty, parsed.clauses, parsed.lines.clauses, sound.clauses, sound.lines.clauses);
  keep_sound(faulty, parsed.targets, parsed.lines.targets, sound.targets, sound.lines.targets);
  // The constraint of the first target closes the program; without a sound first target the
  // program is read without it.
  const bool constrained =
      !parsed.targets.empty() && !faulty.contains(parsed.lines.targets.front());
  std::vector<LineOrigin> origins;
  std::string program =
      generate_program(sound.clauses, sound.sources, sound.categorical_sources,
                       constrained ? parsed.targets.front() : Target{}, {}, &origins);
  if (!constrained) {
    program.erase(program.rfind('\n', program.size() - 2) + 1);
    origins.pop_back();
  }
  std::vector<std::size_t> model_lines;
  for (const LineOrigin& origin : origins) {
    model_lines.push_back(sound.lines.of(origin.form)[origin.index]);
  }
  findings.add(asp::rejections(program), model_lines);
}

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
  if (!findings.empty()) check_with_solver(findings, parsed);
  return findings.error();
}

}  // namespace talvo::detail
