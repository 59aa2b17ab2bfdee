#pragma once
// The statements of a model as plain records. Parsing lives in language/matching; these headers
// stay free of <expected> so that the statement front end can be fuzzed with clang.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvo {

/// The kind of data a source delivers. A source statement yields only the first four.
enum class Dtype : std::uint8_t {
  Probability = 0,
  Density = 1,
  Number = 2,
  Boolean = 3,
  Categorical = 4,
};

/// The names of the source data types, as statements write them, by `Dtype` code.
inline constexpr std::string_view kDtypeNames[] = {"Probability", "Density", "Number", "Boolean",
                                                   "Categorical"};

inline std::string_view dtype_name(Dtype dtype) {
  return kDtypeNames[static_cast<std::size_t>(dtype)];
}

/// A comparison of a numeric source's value with a constant in a clause body, e.g. `temp(X) > 20`.
struct ComparisonLiteral {
  std::string atom;            ///< the compared atom as written, e.g. `temp(X)`
  std::string name;            ///< the generated atom standing for the comparison
  double threshold = 0.0;      ///< the constant compared with
  char op = '<';               ///< '<' or '>'
  bool parameterized = false;  ///< set when `atom` has a variable argument

  /// This comparison's instance for the concrete atom `atom`, or nothing when it does not apply.
  std::optional<ComparisonLiteral> ground_for(std::string_view atom) const;

  friend bool operator==(const ComparisonLiteral&, const ComparisonLiteral&) = default;
};

/// A source statement: `atom <- source("/topic", Dtype).`
struct Source {
  std::string atom;   ///< as written, arguments included, e.g. `temp(k1)`
  std::string topic;  ///< the channel name, e.g. `/weather/temp`
  Dtype dtype = Dtype::Probability;

  /// The source written in `statement`, or nothing when the statement has another form.
  static std::optional<Source> from_str(std::string_view statement);

  friend bool operator==(const Source&, const Source&) = default;
};

/// A target statement: `atom -> target("/topic").`
struct Target {
  std::string atom;   ///< the query atom
  std::string topic;  ///< the token under which the circuit reports the target's result

  /// The target written in `statement`, or nothing when the statement has another form.
  static std::optional<Target> from_str(std::string_view statement);

  friend bool operator==(const Target&, const Target&) = default;
};

/// A categorical source statement: `{a, b, c} <- source("/topic", Categorical).`
struct CategoricalSource {
  std::vector<std::string> categories;  ///< the mutually exclusive atoms, in the order written
  std::string topic;                    ///< the one channel of all categories

  /// The categorical source written in `statement`, or nothing when it has another form.
  static std::optional<CategoricalSource> from_str(std::string_view statement);

  friend bool operator==(const CategoricalSource&, const CategoricalSource&) = default;
};

/// A clause statement: `head <- P(0.9) if a and not b and t > 20.` (probability and body optional).
struct Clause {
  std::optional<double> probability;  ///< the `P(...)` value of a probabilistic clause
  std::string head;                   ///< the head atom as written
  /// The body literals in order; a comparison is replaced by its generated name, a negated literal
  /// keeps its leading "not" and the white space written after it.
  std::vector<std::string> literals;
  std::vector<ComparisonLiteral> comparisons;  ///< the body's comparisons, in order of appearance

  /// The clause written in `statement`, or nothing when the statement has another form.
  static std::optional<Clause> from_str(std::string_view statement);

  /// The clause as an answer-set rule: head (in braces when probabilistic), body, ".\n".
  std::string to_asp() const;

  friend bool operator==(const Clause&, const Clause&) = default;
};

/// One comparison that writers of a `Number` or `Density` source must serve.
struct ComparisonEntry {
  double threshold = 0.0;  ///< the comparison's constant
  bool greater = false;    ///< true for ">", false for "<"
  /// The comparison atom name: also the name of its channel and leaf, where it has its own (the
  /// comparisons of a density source that has several read the intervals of its one draw).
  std::string name;

  friend bool operator==(const ComparisonEntry&, const ComparisonEntry&) = default;
};

/// Source atom to the comparisons made on it, in order of first use.
using ComparisonsBySource = std::unordered_map<std::string, std::vector<ComparisonEntry>>;

}  // namespace talvo
