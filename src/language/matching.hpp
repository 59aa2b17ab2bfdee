#pragma once
// The statement front end of the modelling language: reading the model's lines, splitting them into
// statements, the statement grammar, and the helpers that name generated atoms. The parsers are the
// `from_str` members of the records in language/concepts. Nothing here prints, throws on input or
// uses <expected>: the whole front end is fuzzed with clang.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/language/concepts.hpp"

namespace talvo::detail {

// The statement grammar. Every pattern is compiled once per process, with PCRE2_UTF | PCRE2_UCP so
// that \w and \s cover Unicode letters, digits and white space, and is written in extended mode
// (blanks outside character classes carry no meaning). An atom is a word with an optional argument
// list of words, blanks, commas and signs; it never holds quotes, slashes or full stops, so no part
// of a misspelled statement can pass for an atom. The four statement forms must fill the whole
// statement: a statement that is no form as a whole is none at all. Numbers are ASCII decimals.

/// `atom <- source("/topic", Probability|Density|Number|Boolean).`
inline constexpr std::string_view SOURCE_REGEX = R"re((?x)
  \A \s*+ (?<atom> \w++ (?: \( [\w\s,+-]*+ \) )?+ ) \s*+
  <- \s*+ source \( \s*+ " (?<topic> (?: / \w++ )++ ) " \s*+ , \s*+
  (?<dtype> Probability | Density | Number | Boolean ) \s*+ \) \s*+ \. \s*+ \z
)re";

/// `{a, b, c} <- source("/topic", Categorical).`; categories hold no commas in their arguments.
inline constexpr std::string_view CATEGORICAL_SOURCE_REGEX = R"re((?x)
  (?(DEFINE) (?<CATEGORY> \w++ (?: \( [\w\s+-]*+ \) )?+ \s*+ ) )
  \A \s*+ \{ (?<categories> \s*+ (?&CATEGORY)?+ (?: , \s*+ (?&CATEGORY)?+ )*+ ) \} \s*+
  <- \s*+ source \( \s*+ " (?<topic> (?: / \w++ )++ ) " \s*+ , \s*+ Categorical \s*+ \)
  \s*+ \. \s*+ \z
)re";

/// `atom -> target("/topic").`
inline constexpr std::string_view TARGET_REGEX = R"re((?x)
  \A \s*+ (?<atom> \w++ (?: \( [\w\s,+-]*+ \) )?+ ) \s*+
  -> \s*+ target \( \s*+ " (?<topic> (?: / \w++ )++ ) " \s*+ \) \s*+ \. \s*+ \z
)re";

/// `head <- P(0.9) if l1 and not l2 and t > 20.`; the probability part and the body are optional,
/// and a probability is written as 0 or 1, a point and digits (its value is not checked).
/// The body is literals joined by the word "and"; a literal is an atom after any number of "not"s,
/// optionally compared with a number by "<" or ">"; "and" and "not" are no atoms of a body.
inline constexpr std::string_view CLAUSE_REGEX = R"re((?x)
  (?(DEFINE)
    (?<ATOM> \w++ (?: \( [\w\s,+-]*+ \) )?+ )
    (?<ITEM> (?: not \s++ )*+ (?! (?: and | not ) \b ) (?&ATOM)
             (?: \s*+ [<>] \s*+ [+-]?+ [0-9]++ (?: \. [0-9]++ )?+ )?+ )
  )
  \A \s*+ (?<atom> (?&ATOM) ) \s*+
  (?: <- \s*+ P \( \s*+ (?<probability> [01] \. [0-9]++ ) \s*+ \) \s*+ )?+
  (?: \b if \s++ (?<body> (?&ITEM) (?: \s++ and \s++ (?&ITEM) )*+ ) \s*+ )?+
  \. \s*+ \z
)re";

/// A comparison in a body: an atom, "<" or ">", an optionally signed decimal number.
inline constexpr std::string_view COMPARISON_LITERAL_REGEX = R"re((?x)
  (?<! \w ) (?<atom> \w++ (?: \( [\w\s,+-]*+ \) )?+ ) \s*+ (?<op> [<>] ) \s*+
  (?<threshold> [+-]?+ [0-9]++ (?: \. [0-9]++ )?+ )
)re";

/// The word "and" between literals.
inline constexpr std::string_view AND_KEYWORD_REGEX = R"re((?<!\S)and(?!\S))re";

/// A body literal: "not"s with the white space after them, then an atom with optional arguments.
inline constexpr std::string_view LITERAL_REGEX = R"re((?x)
  (?<! \w ) (?: not \s++ )*+ (?! (?: and | not ) \b ) \w++ (?: \( [\w\s,+-]*+ \) )?+
)re";

/// The model's lines without comments (from "#" on) and blank lines, trimmed and joined by blanks.
std::string read_model_lines(std::string_view text);

/// The statements of `text`: each ends at a full stop that no ASCII digit follows, keeps that full
/// stop and is trimmed; text after the last full stop is dropped.
std::vector<std::string> split_statements(std::string_view text);

/// Text of a model that is no statement: a statement that no form reads, or what follows the
/// last full stop.
struct UnreadText {
  std::size_t line;     ///< the model line on which it begins, from 1
  std::string text;     ///< trimmed
  bool ends_statement;  ///< false for the text after the last full stop
};

/// The forms of statement.
enum class StatementForm { Source, CategoricalSource, Clause, Target };

/// A model's statements by form, each list in text order, with the model line on which each
/// statement begins (from 1), list by list.
struct Statements {
  std::vector<CategoricalSource> categorical_sources;
  std::vector<Source> sources;
  std::vector<Target> targets;
  std::vector<Clause> clauses;
  struct Lines {
    std::vector<std::size_t> categorical_sources;
    std::vector<std::size_t> sources;
    std::vector<std::size_t> targets;
    std::vector<std::size_t> clauses;

    const std::vector<std::size_t>& of(StatementForm form) const {
      switch (form) {
        case StatementForm::Source:
          return sources;
        case StatementForm::CategoricalSource:
          return categorical_sources;
        case StatementForm::Clause:
          return clauses;
        case StatementForm::Target:
          break;
      }
      return targets;
    }
  } lines;
  std::vector<UnreadText> unread;
};

/// The statements of a model text, each taken by the first form that reads it: categorical
/// source, source, target, clause. What no form reads is listed in `unread`. A comparison whose
/// generated name would meet another name of the model carries the name it is given instead
/// (`GeneratedNames`), in its record and in its clause's literals.
Statements parse_statements(std::string_view text);

/// Whether a source of this data type gives numbers, which the model reads only through
/// comparisons: `Number` and `Density`.
inline bool is_numeric(Dtype dtype) {
  return dtype == Dtype::Number || dtype == Dtype::Density;
}

/// The predicate of an atom: its text before the first "(" (the whole text without one).
std::string_view atom_base(std::string_view atom);

/// A body literal without its leading negations: "not" and the white space after it, however
/// much and of whatever kind, as the solver reads it. Linear in the length of the literal.
std::string_view strip_negation(std::string_view literal);

/// Whether an argument of `atom` (or, without arguments, the atom itself) begins with an uppercase
/// letter, i.e. is a variable.
bool has_variable_arg(std::string_view atom);

/// The trimmed arguments between the first "(" and the last ")", empty ones included; nothing when
/// the atom has no such pair.
std::optional<std::vector<std::string>> args_of(std::string_view atom);

/// `predicate` with the arguments of `atom` (`args_of`) joined by ", " in parentheses, or alone
/// when `atom` has no argument list: `talvo_temp_gt_20`, `temp(X)` give `talvo_temp_gt_20(X)`.
std::string with_args_of(std::string predicate, std::string_view atom);

/// One argument as the solver writes it: evaluated (`evaluated_term`) where it can be, else
/// without white space.
std::string solver_term(std::string_view term);

/// `atom` as the solver writes it: white space outside double-quoted strings removed, so that
/// `t(a, b)` reads `t(a,b)`, and arguments that are sums or differences of whole numbers
/// evaluated (`evaluated_term`), so that `p(1+1)` reads `p(2)`. Leaves of sources, categories and
/// comparisons carry this name, so that the literals of the solver's models find them.
std::string solver_atom(std::string_view atom);

/// The cause atom of the n-th probabilistic clause with this head: `p(a)`, 0 gives `p_a_cause_0`.
std::string cause_atom_name(std::string_view head, std::size_t n);

/// The cause predicate of a head with variables, from its predicate: `warm(X)`, 0 gives
/// `warm_cause_0`.
std::string cause_atom_base_name(std::string_view head, std::size_t n);

/// A threshold as generated names write it: its shortest decimal form without exponent, "." as
/// "_" and "-" as "neg": -2.5 gives `neg2_5`.
std::string threshold_text(double threshold);

/// The atom that stands for a ground comparison: `temp(a)`, '>', -2.5 gives `temp_a_gt_neg2_5`.
std::string canonical_comparison_name(std::string_view atom, char op, double threshold);

/// The predicate that stands for a comparison with variables: `temp`, '>', 20 gives
/// `talvo_temp_gt_20`.
std::string parameterized_comparison_predicate(std::string_view base, char op, double threshold);

}  // namespace talvo::detail
