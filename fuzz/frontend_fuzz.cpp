// libFuzzer target of the statement front end: arbitrary bytes through line reading, splitting,
// the four parsers and the name helpers. Beyond not crashing, it checks that what the parsers
// accept can be written back as a statement that reads the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "talvo/language/concepts.hpp"
#include "language/matching.hpp"

namespace {

void check(bool holds) {
  if (!holds) __builtin_trap();
}

void exercise_atom(std::string_view atom) {
  (void)talvo::detail::strip_negation(atom);
  (void)talvo::detail::has_variable_arg(atom);
  (void)talvo::detail::args_of(atom);
  (void)talvo::detail::solver_atom(atom);
  (void)talvo::detail::atom_base(atom);
  (void)talvo::detail::cause_atom_name(atom, 0);
  (void)talvo::detail::cause_atom_base_name(atom, 7);
  (void)talvo::detail::canonical_comparison_name(atom, '<', -2.5);
  (void)talvo::detail::parameterized_comparison_predicate(talvo::detail::atom_base(atom), '>',
                                                          1e300);
}

void exercise_statement(const std::string& statement) {
  if (const auto categorical = talvo::CategoricalSource::from_str(statement)) {
    std::string again = "{";
    for (const std::string& category : categorical->categories) {
      check(!category.empty());
      exercise_atom(category);
      again += category + ", ";
    }
    again += "} <- source(\"" + categorical->topic + "\", Categorical).";
    check(talvo::CategoricalSource::from_str(again) == categorical);
  }
  if (const auto source = talvo::Source::from_str(statement)) {
    exercise_atom(source->atom);
    const std::string again = source->atom + " <- source(\"" + source->topic + "\", " +
                              std::string(talvo::dtype_name(source->dtype)) + ").";
    check(talvo::Source::from_str(again) == source);
  }
  if (const auto target = talvo::Target::from_str(statement)) {
    exercise_atom(target->atom);
    check(talvo::Target::from_str(target->atom + " -> target(\"" + target->topic + "\").") ==
          target);
  }
  if (const auto clause = talvo::Clause::from_str(statement)) {
    exercise_atom(clause->head);
    for (const std::string& literal : clause->literals) exercise_atom(literal);
    for (const talvo::ComparisonLiteral& comparison : clause->comparisons) {
      exercise_atom(comparison.atom);
      (void)comparison.ground_for(comparison.atom);
      (void)comparison.ground_for(clause->head);
    }
    const std::string rule = clause->to_asp();
    check(rule.size() >= 2 && rule.ends_with(".\n"));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const std::string& statement :
       talvo::detail::split_statements(talvo::detail::read_model_lines(input))) {
    check(!statement.empty() && statement.back() == '.');
    exercise_statement(statement);
  }
  (void)talvo::detail::parse_statements(input);
  // The parsers and helpers also take text that line reading never hands them.
  exercise_statement(std::string(input));
  exercise_atom(input);
  return 0;
}
