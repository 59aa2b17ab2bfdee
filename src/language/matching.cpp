#include "language/matching.hpp"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>
#include <system_error>
#include <utility>

#include "language/generated_names.hpp"
#include "language/regex.hpp"
#include "language/solver_terms.hpp"
#include "language/text.hpp"

namespace talvo::detail {
namespace {

// Each pattern is compiled on first use and kept for the life of the process.
template <const std::string_view& pattern>
const Regex& compiled() {
  static const Regex regex(pattern);
  return regex;
}

// A decimal as the grammar admits it: optional sign, ASCII digits, optional point and digits.
// Magnitudes beyond the range of a double read as infinity, those below it as zero.
double parse_decimal(std::string_view digits) {
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) {
    const std::string_view whole = digits.substr(0, digits.find('.'));
    const bool large = whole.find_first_not_of('0') != std::string_view::npos;
    value = large ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

// Every character that is no letter or digit made "_", then "_" stripped from both ends.
std::string sanitize(std::string_view atom) {
  std::string out;
  out.reserve(atom.size());
  for (std::size_t pos = 0; pos < atom.size();) {
    const text::CodePoint c = text::decode_at(atom, pos);
    if (text::is_alphanumeric(c.value)) {
      out.append(atom.substr(pos, c.length));
    } else {
      out += '_';
    }
    pos += c.length;
  }
  const std::size_t first = out.find_first_not_of('_');
  if (first == std::string::npos) return {};
  return out.substr(first, out.find_last_not_of('_') - first + 1);
}

std::string_view operator_word(char op) {
  return op == '<' ? "lt" : "gt";
}

}  // namespace

std::string threshold_text(double threshold) {
  char buffer[512];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, threshold, std::chars_format::fixed);
  std::string out;
  for (const char* p = buffer; p != result.ptr; ++p) {
    if (*p == '.') {
      out += '_';
    } else if (*p == '-') {
      out += "neg";
    } else {
      out += *p;
    }
  }
  return out;
}

namespace {

ComparisonLiteral make_comparison(std::string_view atom, char op, double threshold) {
  ComparisonLiteral comparison;
  comparison.atom = std::string(atom);
  comparison.threshold = threshold;
  comparison.op = op;
  comparison.parameterized = has_variable_arg(atom);
  if (comparison.parameterized) {
    comparison.name =
        with_args_of(parameterized_comparison_predicate(atom_base(atom), op, threshold), atom);
  } else {
    comparison.name = canonical_comparison_name(atom, op, threshold);
  }
  return comparison;
}

/// `subject` with every match of `regex` replaced by `with(match)`.
template <class With>
std::string replace_all(const Regex& regex, std::string_view subject, With with) {
  std::string out;
  std::size_t copied = 0;
  for (const RegexMatch& match : regex.find_all(subject)) {
    out.append(subject.substr(copied, match.begin() - copied));
    out += with(match);
    copied = match.end();
  }
  out.append(subject.substr(copied));
  return out;
}

/// The clause written in `statement`; with `names`, each comparison stands in its body under the
/// name given there.
std::optional<Clause> parse_clause(std::string_view statement, const GeneratedNames* names) {
  const auto match = compiled<CLAUSE_REGEX>().find(statement);
  if (!match) return std::nullopt;
  Clause clause;
  clause.head = std::string(*match->group("atom"));
  if (const auto probability = match->group("probability")) {
    clause.probability = parse_decimal(*probability);
  }
  const auto body = match->group("body");
  if (!body) return clause;

  // Each comparison becomes its generated atom, so that it reads as a literal of its own.
  const std::string rewritten =
      replace_all(compiled<COMPARISON_LITERAL_REGEX>(), *body, [&](const RegexMatch& found) {
        ComparisonLiteral& comparison = clause.comparisons.emplace_back(
            make_comparison(*found.group("atom"), found.group("op")->front(),
                            parse_decimal(*found.group("threshold"))));
        if (names != nullptr) comparison.name = names->stand_in(comparison);
        return comparison.name;
      });

  const std::string literals =
      replace_all(compiled<AND_KEYWORD_REGEX>(), rewritten, [](const RegexMatch&) { return " "; });
  for (const RegexMatch& literal : compiled<LITERAL_REGEX>().find_all(literals)) {
    clause.literals.emplace_back(literal.text());
  }
  return clause;
}

}  // namespace

namespace {

/// Where a model line's content starts in the joined text, and its number (from 1).
struct LineStart {
  std::size_t offset;
  std::size_t line;
};

std::string join_model_lines(std::string_view text, std::vector<LineStart>* starts) {
  // A byte order mark that an editor put before the first line is no part of the model.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string joined;
  std::size_t number = 0;
  for (std::string_view line : text::split(text, '\n')) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = line.substr(0, line.find('#'));
    line = text::trim(line);
    if (line.empty()) continue;
    if (!joined.empty()) joined += ' ';
    if (starts != nullptr) starts->push_back({joined.size(), number});
    joined.append(line);
  }
  return joined;
}

/// Calls `each(offset, statement)` for every statement of the joined text, and returns what
/// follows the last full stop, trimmed, with its offset.
template <class Each>
std::pair<std::size_t, std::string_view> for_each_statement(std::string_view text, Each each) {
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (text[pos] != '.') continue;
    // A full stop followed by a digit is a decimal point, as in P(0.25).
    if (pos + 1 < text.size() && text[pos + 1] >= '0' && text[pos + 1] <= '9') continue;
    const std::string_view piece = text.substr(start, pos + 1 - start);
    const std::string_view statement = text::trim(piece);
    if (!statement.empty()) each(start + (statement.data() - piece.data()), statement);
    start = pos + 1;
  }
  const std::string_view piece = text.substr(start);
  const std::string_view rest = text::trim(piece);
  return {start + (rest.data() - piece.data()), rest};
}

/// The model line on which the joined text's character at `offset` stands.
std::size_t line_at(const std::vector<LineStart>& starts, std::size_t offset) {
  const auto after =
      std::upper_bound(starts.begin(), starts.end(), offset,
                       [](std::size_t at, const LineStart& start) { return at < start.offset; });
  return after == starts.begin() ? 0 : std::prev(after)->line;
}

}  // namespace

std::string read_model_lines(std::string_view text) {
  return join_model_lines(text, nullptr);
}

std::vector<std::string> split_statements(std::string_view text) {
  std::vector<std::string> statements;
  for_each_statement(
      text, [&](std::size_t, std::string_view statement) { statements.emplace_back(statement); });
  return statements;
}

Statements parse_statements(std::string_view text) {
  Statements parsed;
  std::vector<std::string_view> clause_statements;
  std::vector<LineStart> starts;
  const std::string joined = join_model_lines(text, &starts);
  const auto [rest_offset, rest] =
      for_each_statement(joined, [&](std::size_t offset, std::string_view statement) {
        const std::size_t line = line_at(starts, offset);
        if (auto categorical = CategoricalSource::from_str(statement)) {
          parsed.categorical_sources.push_back(std::move(*categorical));
          parsed.lines.categorical_sources.push_back(line);
        } else if (auto source = Source::from_str(statement)) {
          parsed.sources.push_back(std::move(*source));
          parsed.lines.sources.push_back(line);
        } else if (auto target = Target::from_str(statement)) {
          parsed.targets.push_back(std::move(*target));
          parsed.lines.targets.push_back(line);
        } else if (auto clause = Clause::from_str(statement)) {
          parsed.clauses.push_back(std::move(*clause));
          clause_statements.push_back(statement);
          parsed.lines.clauses.push_back(line);
        } else {
          parsed.unread.push_back({line, std::string(statement), true});
        }
      });
  if (!rest.empty())
    parsed.unread.push_back({line_at(starts, rest_offset), std::string(rest), false});

  const auto compares = [](const Clause& clause) { return !clause.comparisons.empty(); };
  if (std::ranges::none_of(parsed.clauses, compares)) return parsed;
  // A clause with a comparison whose name would meet another is read again under the names given.
  const GeneratedNames names(parsed.clauses, parsed.sources, parsed.categorical_sources,
                             parsed.targets.empty() ? nullptr : &parsed.targets.front());
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    const std::vector<ComparisonLiteral>& comparisons = parsed.clauses[i].comparisons;
    if (std::ranges::any_of(comparisons, [&](const ComparisonLiteral& comparison) {
          return names.stand_in(comparison) != comparison.name;
        })) {
      parsed.clauses[i] = *parse_clause(clause_statements[i], &names);
    }
  }
  return parsed;
}

std::string_view atom_base(std::string_view atom) {
  return atom.substr(0, atom.find('('));
}

std::string_view strip_negation(std::string_view literal) {
  // Only the white space that follows each "not" is skipped, never the whole rest: trimming the
  // rest each time would make a long chain of negations quadratic.
  for (;;) {
    if (literal.size() <= 3 || !literal.starts_with("not")) return literal;
    std::size_t pos = 3;
    while (pos < literal.size()) {
      const text::CodePoint c = text::decode_at(literal, pos);
      if (!text::is_whitespace(c.value)) break;
      pos += c.length;
    }
    if (pos == 3) return literal;
    literal.remove_prefix(pos);
  }
}

bool has_variable_arg(std::string_view atom) {
  const std::size_t open = atom.find('(');
  if (open == std::string_view::npos) return text::starts_with_uppercase(atom);
  // The arguments run to the last character, which is taken to be the closing parenthesis.
  std::size_t last = atom.size() - 1;
  while (last > open && text::is_continuation_byte(atom[last])) --last;
  const std::string_view inner = last > open ? atom.substr(open + 1, last - open - 1) : "";
  for (const std::string_view piece : text::split(inner, ',')) {
    if (text::starts_with_uppercase(text::trim(piece))) return true;
  }
  return false;
}

std::optional<std::vector<std::string>> args_of(std::string_view atom) {
  const std::size_t open = atom.find('(');
  const std::size_t close = atom.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  std::vector<std::string> args;
  for (const std::string_view piece : text::split(atom.substr(open + 1, close - open - 1), ',')) {
    args.emplace_back(text::trim(piece));
  }
  return args;
}

std::string cause_atom_name(std::string_view head, std::size_t n) {
  return sanitize(head) + "_cause_" + std::to_string(n);
}

std::string cause_atom_base_name(std::string_view head, std::size_t n) {
  return cause_atom_name(atom_base(head), n);
}

std::string with_args_of(std::string predicate, std::string_view atom) {
  if (const auto args = args_of(atom)) predicate += "(" + text::join(*args, ", ") + ")";
  return predicate;
}

namespace {

/// `atom` without white space outside double-quoted strings.
std::string without_blanks(std::string_view atom) {
  std::string out;
  out.reserve(atom.size());
  bool quoted = false;
  for (std::size_t pos = 0; pos < atom.size();) {
    const text::CodePoint c = text::decode_at(atom, pos);
    if (quoted && c.value == '\\' && pos + 1 < atom.size()) {
      // An escaped character inside a string is kept with its backslash, whatever it is.
      out.append(atom.substr(pos, 2));
      pos += 2;
      continue;
    }
    if (c.value == '"') quoted = !quoted;
    if (quoted || !text::is_whitespace(c.value)) out.append(atom.substr(pos, c.length));
    pos += c.length;
  }
  return out;
}

}  // namespace

std::string solver_term(std::string_view term) {
  return evaluated_term(term).value_or(without_blanks(term));
}

std::string solver_atom(std::string_view atom) {
  // An argument list without strings or parentheses of its own may hold arithmetic, which the
  // solver evaluates: `p(1 + 1)` is `p(2)`.
  const std::size_t open = atom.find('(');
  const std::size_t close = atom.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
      !text::trim(atom.substr(close + 1)).empty()) {
    return without_blanks(atom);
  }
  const std::string_view inner = atom.substr(open + 1, close - open - 1);
  if (atom.find('"') != std::string_view::npos ||
      inner.find_first_of("()") != std::string_view::npos) {
    return without_blanks(atom);
  }
  std::string rendered = without_blanks(atom.substr(0, open + 1));
  bool first = true;
  for (const std::string_view piece : text::split(inner, ',')) {
    if (!first) rendered += ',';
    first = false;
    rendered += solver_term(piece);
  }
  rendered += ')';
  return rendered;
}

std::string canonical_comparison_name(std::string_view atom, char op, double threshold) {
  // Named from the atom as the solver writes it, so `t(a, b) > 2` and `t(a,b) > 2` are one.
  std::string name = sanitize(solver_atom(atom));
  name += '_';
  name += operator_word(op);
  name += '_';
  name += threshold_text(threshold);
  return name;
}

std::string parameterized_comparison_predicate(std::string_view base, char op, double threshold) {
  std::string name = "talvo_";
  name += base;
  name += '_';
  name += operator_word(op);
  name += '_';
  name += threshold_text(threshold);
  return name;
}

}  // namespace talvo::detail

namespace talvo {

std::optional<ComparisonLiteral> ComparisonLiteral::ground_for(std::string_view concrete) const {
  if (!parameterized) return std::nullopt;
  if (detail::atom_base(atom) != detail::atom_base(concrete)) return std::nullopt;
  const auto pattern_args = detail::args_of(atom);
  const auto concrete_args = detail::args_of(concrete);
  if (pattern_args && concrete_args) {
    if (pattern_args->size() != concrete_args->size()) return std::nullopt;
    for (std::size_t i = 0; i < pattern_args->size(); ++i) {
      const std::string& arg = (*pattern_args)[i];
      if (!detail::text::starts_with_uppercase(arg) &&
          detail::solver_term(arg) != detail::solver_term((*concrete_args)[i]))
        return std::nullopt;
    }
  }
  ComparisonLiteral grounded;
  grounded.atom = std::string(concrete);
  grounded.name = detail::canonical_comparison_name(concrete, op, threshold);
  grounded.threshold = threshold;
  grounded.op = op;
  grounded.parameterized = false;
  return grounded;
}

std::optional<CategoricalSource> CategoricalSource::from_str(std::string_view statement) {
  const auto match = detail::compiled<detail::CATEGORICAL_SOURCE_REGEX>().find(statement);
  if (!match) return std::nullopt;
  CategoricalSource source;
  for (const std::string_view piece : detail::text::split(*match->group("categories"), ',')) {
    const std::string_view category = detail::text::trim(piece);
    if (!category.empty()) source.categories.emplace_back(category);
  }
  source.topic = std::string(*match->group("topic"));
  return source;
}

std::optional<Source> Source::from_str(std::string_view statement) {
  const auto match = detail::compiled<detail::SOURCE_REGEX>().find(statement);
  if (!match) return std::nullopt;
  const std::string_view dtype = *match->group("dtype");
  Source source;
  source.atom = std::string(*match->group("atom"));
  source.topic = std::string(*match->group("topic"));
  // The grammar admits only the four names a source statement can carry.
  for (std::size_t code = 0; code < std::size(kDtypeNames); ++code) {
    if (kDtypeNames[code] == dtype) source.dtype = static_cast<Dtype>(code);
  }
  return source;
}

std::optional<Target> Target::from_str(std::string_view statement) {
  const auto match = detail::compiled<detail::TARGET_REGEX>().find(statement);
  if (!match) return std::nullopt;
  return Target{std::string(*match->group("atom")), std::string(*match->group("topic"))};
}

std::optional<Clause> Clause::from_str(std::string_view statement) {
  return detail::parse_clause(statement, nullptr);
}

std::string Clause::to_asp() const {
  std::string rule = probability ? "{" + head + "}" : head;
  if (!literals.empty()) {
    rule += " :- ";
    rule += detail::text::join(literals, ", ");
  }
  rule += ".\n";
  return rule;
}

}  // namespace talvo
